#include "loglist/log_list.h"

#include "catalog/share_pace.h"
#include "loglist/widest_name_delegate.h"
#include "program/module1.h"
#include "windows/error_window.h"
#include "windows/handler_guard.h"

#include <QEvent>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListWidget>
#include <QLoggingCategory>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace tarnveil {

// Off unless asked for (QT_LOGGING_RULES="tarnveil.loglist.info=true"): the
// start-up benchmark reads from it when the list has been filled.
Q_LOGGING_CATEGORY(lcLogList, "tarnveil.loglist", QtWarningMsg)

namespace {

// Notifications come in bursts (a logger creates, writes and renames); one
// look after the burst is enough.
constexpr int SettleMs = 100;
// On a local disk notification tells of new logs; a look this often finds
// those the logger's clean-up removed from older folders.
constexpr int LocalSweepMs = 3'600'000;

QByteArray pathOf(const QListWidgetItem* item)
{
    return item != nullptr ? item->data(Qt::UserRole).toByteArray() : QByteArray();
}

// The row of the log at `path` in `rows`, or -1.
int rowOf(const LogRows& rows, const QByteArray& path)
{
    if (path.isNull())
        return -1;
    const std::string wanted = path.toStdString();
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const LogFile& log) { return log.path == wanted; });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

} // namespace

LogList::LogList(Module1& module, QListWidget& list, RecordingReader readRecording)
    : module_(module),
      list_(list),
      delegate_(new WidestNameDelegate(&list)),
      watcher_(new QFileSystemWatcher(this)),
      poll_(new QTimer(this)),
      settle_(new QTimer(this)),
      progress_(new QLabel(list.viewport())),
      catalog_(std::make_shared<LogCatalog>()),
      rows_(std::make_shared<const LogRows>()),
      readRecording_(readRecording)
{
    // The rows come sorted from the listing; one size for all keeps the layout
    // of a long list as cheap as that of a short one.
    list_.setSortingEnabled(false);
    list_.setUniformItemSizes(true);
    list_.setItemDelegate(delegate_);
    list_.viewport()->installEventFilter(this);
    progress_->setObjectName(QStringLiteral("lblArchiveProgress"));
    progress_->setAutoFillBackground(true);
    progress_->hide();

    settle_->setSingleShot(true);
    settle_->setInterval(SettleMs);
    // A look that fails to start must not unwind through the event loop.
    const auto guardedRefresh = [this] { runHandler([this] { refresh(); }); };
    connect(settle_, &QTimer::timeout, this, guardedRefresh);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, settle_, qOverload<>(&QTimer::start));
    poll_->setInterval(PollIntervalMs);
    connect(poll_, &QTimer::timeout, this, guardedRefresh);
}

LogList::~LogList() = default;

void LogList::reload()
{
    list_.clear();
    releaseOwnedInBackground(std::exchange(rows_, std::make_shared<const LogRows>()));
    lastReported_.reset();
    look(true);
}

void LogList::refresh()
{
    // A look under way is never joined by another (a call stuck on a dead
    // share): this one follows it.
    if (loading_ || lane_.busy() || (lookRunning_ && lookRunning_->load())) {
        lookAgain_ = true;
        return;
    }
    lookAgain_ = false;
    look(false);
}

void LogList::look(bool loading)
{
    loading_ = loading;
    const std::string folder = module_.LoggerDrive + ":\\logger\\logs";
    const std::string drive = module_.LoggerDrive;
    auto running = std::make_shared<std::atomic<bool>>(true);
    lookRunning_ = running;
    // Everything the look needs goes with it by value: it may outlive the window.
    lane_.start(
        folder,
        [drives = module_.drives, drive, catalog = catalog_, readRecording = readRecording_, before = rows_,
         keep = playing_.isEmpty() ? std::vector<std::string>{} : std::vector<std::string>{playing_.toStdString()},
         running] {
            struct Done {
                std::atomic<bool>& flag;
                ~Done() { flag = false; }
            } done{*running};
            return takeListing(drives, drive, *catalog, before, keep, readRecording);
        },
        [this, loading](DriveOutcome<LogListing> outcome) {
            loading_ = false;
            if (auto* listing = std::get_if<LogListing>(&outcome)) {
                if (loading)
                    driveMissing_ = false;
                lastReported_.reset();
                pace(*listing);
                apply(std::move(*listing));
            } else {
                failed(std::get<Failure>(outcome), loading);
                // A share that does not answer is asked again at the usual pace.
                poll_->start(PollIntervalMs);
            }
            emit settled();
            if (lookAgain_ && (!lookRunning_ || !lookRunning_->load()))
                QTimer::singleShot(0, this, [this] { runHandler([this] { refresh(); }); });
        });
}

// The next look: at once while the catalog is still reading the archive,
// else when notification comes (local) or at the poll (share).
void LogList::pace(const LogListing& listing)
{
    if (!listing.complete) {
        progress_->setText(listing.reading.empty()
                               ? QStringLiteral("Reading the archive")
                               : QStringLiteral("Reading the archive: %1").arg(QString::fromStdString(listing.reading)));
        progress_->adjustSize();
        progress_->move(0, list_.viewport()->height() - progress_->height());
        progress_->show();
        QTimer::singleShot(0, this, [this] { runHandler([this] { refresh(); }); });
        return;
    }
    progress_->hide();
    if (listing.recording)
        delegate_->setRecording(*listing.recording);
    list_.viewport()->update();
    if (!listing.watch.empty())
        poll_->start(LocalSweepMs);
    else
        poll_->start(pauseAfterShareLook(listing.calls));
}

void LogList::selectLog(const QByteArray& path)
{
    pendingSelection_.clear();
    if (selectListed(path))
        return;
    pendingSelection_ = path;
    refresh();
}

bool LogList::selectListed(const QByteArray& path)
{
    const int row = rowOf(*rows_, path);
    if (row < 0 || row >= list_.count())
        return false;
    QListWidgetItem* item = list_.item(row);
    list_.setCurrentItem(item);
    list_.scrollToItem(item);
    return true;
}

void LogList::setPlaying(const QByteArray& path)
{
    if (path == playing_)
        return;
    playing_ = path;
    delegate_->setPlaying(path);
    list_.viewport()->update();
    // A log kept listed only while it played goes now.
    if (path.isEmpty())
        refresh();
}

void LogList::apply(LogListing listing)
{
    if (listing.rebuild)
        rebuild(listing);
    else
        applyEdits(listing);
    // A hundred thousand names are not freed on the GUI thread.
    releaseOwnedInBackground(std::exchange(rows_, std::move(listing.rows)));
    watch(listing.watch);
    module_.ListIndex = list_.count();
    if (!pendingSelection_.isNull() && selectListed(pendingSelection_))
        pendingSelection_.clear();
}

void LogList::rebuild(const LogListing& listing)
{
    const QByteArray current = pathOf(list_.currentItem());
    QSet<QByteArray> selected;
    for (const QListWidgetItem* item : list_.selectedItems())
        selected.insert(pathOf(item));
    const QByteArray top = pathOf(list_.itemAt(0, 0));

    const bool wasEmpty = list_.count() == 0;
    list_.clear();
    // One insertion for all rows; the item data goes in without a change
    // signal per row, which nothing shown depends on.
    list_.addItems(listing.addedText);
    {
        const QSignalBlocker quiet(list_.model());
        for (int row = 0; row < list_.count(); ++row)
            list_.item(row)->setData(Qt::UserRole, listing.addedPath[row]);
    }
    delegate_->setWidest(widestNameWidth(list_.fontMetrics(), listing.addedText));
    if (!listing.addedText.isEmpty())
        module_.TimeText = listing.rows->back().shown();

    const LogRows& rows = *listing.rows;
    if (const int row = rowOf(rows, current); row >= 0)
        list_.setCurrentRow(row, QItemSelectionModel::NoUpdate);
    for (const QByteArray& path : selected) {
        if (const int row = rowOf(rows, path); row >= 0)
            list_.item(row)->setSelected(true);
    }
    if (const int row = rowOf(rows, top); row >= 0)
        list_.scrollToItem(list_.item(row), QAbstractItemView::PositionAtTop);
    announceFill_ = wasEmpty;
}

void LogList::applyEdits(const LogListing& listing)
{
    QListWidgetItem* top = list_.itemAt(0, 0);
    const int topRow = top != nullptr ? list_.row(top) : -1;
    for (auto row = listing.removed.rbegin(); row != listing.removed.rend(); ++row) {
        QListWidgetItem* item = list_.takeItem(*row);
        if (item == top)
            top = nullptr;
        delete item;
    }
    for (size_t i = 0; i < listing.added.size(); ++i) {
        auto* item = new QListWidgetItem(listing.addedText[static_cast<qsizetype>(i)]);
        item->setData(Qt::UserRole, listing.addedPath[static_cast<qsizetype>(i)]);
        list_.insertItem(listing.added[i], item);
    }
    delegate_->setWidest(std::max(delegate_->widest(), widestNameWidth(list_.fontMetrics(), listing.addedText)));
    // The rows above the first one shown may have changed: the same log stays on top.
    if (top != nullptr && list_.row(top) != topRow)
        list_.scrollToItem(top, QAbstractItemView::PositionAtTop);
}

void LogList::watch(const std::vector<std::filesystem::path>& folders)
{
    QStringList wanted;
    for (const std::filesystem::path& folder : folders)
        wanted << QFile::decodeName(QByteArray::fromStdString(folder.native()));
    const QStringList watched = watcher_->directories();
    if (watched == wanted)
        return;
    if (!watched.isEmpty())
        watcher_->removePaths(watched);
    // Only folders on local file systems come here, where adding cannot block.
    if (!wanted.isEmpty())
        watcher_->addPaths(wanted);
}

void LogList::failed(const Failure& failure, bool loading)
{
    if (loading) {
        driveMissing_ = failure.code() == FailureCode::NoSuchDrive;
        watch({});
    }
    // A share that stays away is reported once, not at every poll.
    const std::string message = failure.message();
    if (!loading && lastReported_ == message)
        return;
    lastReported_ = message;
    frmError::report(QString::fromStdString(message));
    if (loading && driveMissing_)
        emit noDrive();
}

bool LogList::eventFilter(QObject* watched, QEvent* event)
{
    if (announceFill_ && watched == list_.viewport() && event->type() == QEvent::Paint) {
        announceFill_ = false;
        qCInfo(lcLogList, "log list filled: %d logs", static_cast<int>(list_.count()));
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tarnveil
