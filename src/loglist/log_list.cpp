#include "loglist/log_list.h"

#include "catalog/share_pace.h"
#include "loglist/log_list_model.h"
#include "loglist/widest_name_delegate.h"
#include "program/module1.h"
#include "windows/error_window.h"
#include "windows/handler_guard.h"

#include <QEvent>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListView>
#include <QLoggingCategory>
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

QByteArray pathOf(const QModelIndex& index)
{
    return index.data(Qt::UserRole).toByteArray();
}

} // namespace

LogList::LogList(Module1& module, QListView& list, RecordingReader readRecording)
    : module_(module),
      list_(list),
      model_(new LogListModel(&list)),
      delegate_(new WidestNameDelegate(&list)),
      watcher_(new QFileSystemWatcher(this)),
      poll_(new QTimer(this)),
      settle_(new QTimer(this)),
      progress_(new QLabel(list.viewport())),
      catalog_(std::make_shared<LogCatalog>()),
      readRecording_(readRecording)
{
    // The rows come sorted from the listing; one size for all keeps the layout
    // of a long list as cheap as that of a short one.
    list_.setModel(model_);
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
    releaseOwnedInBackground(model_->fill(std::make_shared<const LogRows>()));
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
    lookedFrom_ = model_->sharedRows();
    // Everything the look needs goes with it by value: it may outlive the window.
    lane_.start(
        folder,
        [drives = module_.drives, drive, catalog = catalog_, readRecording = readRecording_, before = lookedFrom_,
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
                const bool unsaved = listing->unsaved;
                pace(*listing);
                apply(std::move(*listing));
                if (unsaved)
                    storeCatalog();
            } else {
                failed(std::get<Failure>(outcome), loading);
                // A share that does not answer is asked again at the usual pace.
                poll_->start(PollIntervalMs);
            }
            emit settled();
            lookAgainIfAsked();
        });
}

// On the lane, so that a look asked for meanwhile follows it. The catalog is
// derived data: a store that fails or is cut short is stored by a later look.
void LogList::storeCatalog()
{
    lane_.start(
        module_.LoggerDrive + ":\\logger\\logs",
        [catalog = catalog_] {
            catalog->storeWhatChanged();
            return true;
        },
        [this](const DriveOutcome<bool>&) { lookAgainIfAsked(); });
}

void LogList::lookAgainIfAsked()
{
    if (lookAgain_ && !lane_.busy() && (!lookRunning_ || !lookRunning_->load()))
        QTimer::singleShot(0, this, [this] { runHandler([this] { refresh(); }); });
}

// The next look: at once while the catalog is still reading the archive,
// else when notification comes (local) or at the poll (share).
void LogList::pace(const LogListing& listing)
{
    if (!listing.complete) {
        progress_->setText(listing.reading.empty()
                               ? QStringLiteral("Reading the archive")
                               : QStringLiteral("Reading the archive: %1").arg(QString::fromStdString(listing.reading)));
        placeProgress();
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

// Across the foot of the list, whatever the list's size.
void LogList::placeProgress()
{
    const int height = progress_->sizeHint().height();
    progress_->setGeometry(0, list_.viewport()->height() - height, list_.viewport()->width(), height);
}

QByteArray LogList::selectedLog() const
{
    const QModelIndexList selected = list_.selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QByteArray() : pathOf(selected.constFirst());
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
    const int row = model_->rowOf(path);
    if (row < 0)
        return false;
    const QModelIndex index = model_->index(row);
    list_.setCurrentIndex(index);
    list_.scrollTo(index);
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
    // Edits fit only the rows they were worked out from; a list refilled
    // since the look began is refilled again.
    const bool refill = listing.rebuild || lookedFrom_ != model_->sharedRows();
    lookedFrom_.reset();
    // A hundred thousand names are not freed on the GUI thread.
    releaseOwnedInBackground(refill ? rebuild(listing) : applyEdits(listing));
    watch(listing.watch);
    module_.ListIndex = model_->rowCount();
    if (!pendingSelection_.isNull() && selectListed(pendingSelection_))
        pendingSelection_.clear();
}

// A refill: the operator's place is taken by path before and found again after.
std::shared_ptr<const LogRows> LogList::rebuild(const LogListing& listing)
{
    const QByteArray current = pathOf(list_.currentIndex());
    const QByteArray selected = selectedLog();
    const QByteArray top = pathOf(list_.indexAt(QPoint(0, 0)));

    const bool wasEmpty = model_->rowCount() == 0;
    std::shared_ptr<const LogRows> before = model_->fill(listing.rows);
    WidestName widest(list_.fontMetrics());
    for (const LogFile& log : *listing.rows)
        widest.add(log.shown());
    delegate_->setWidest(widest.width());
    if (!listing.rows->empty())
        module_.TimeText = listing.rows->back().shown();

    if (const int row = model_->rowOf(current); row >= 0)
        list_.selectionModel()->setCurrentIndex(model_->index(row), QItemSelectionModel::NoUpdate);
    if (const int row = model_->rowOf(selected); row >= 0)
        list_.selectionModel()->select(model_->index(row), QItemSelectionModel::Select);
    if (const int row = model_->rowOf(top); row >= 0)
        list_.scrollTo(model_->index(row), QAbstractItemView::PositionAtTop);
    // A refill before the first paint must not cancel its announcement.
    announceFill_ = announceFill_ || wasEmpty;
    return before;
}

// Row edits: the selection and the current row follow their logs by
// themselves; the view keeps its offset, so the log on top is put back there.
std::shared_ptr<const LogRows> LogList::applyEdits(const LogListing& listing)
{
    const QPersistentModelIndex top = list_.indexAt(QPoint(0, 0));
    const int topRow = top.row();
    std::shared_ptr<const LogRows> before = model_->edit(listing.rows, listing.removed, listing.added);
    WidestName widest(list_.fontMetrics());
    for (const int row : listing.added)
        widest.add((*listing.rows)[static_cast<size_t>(row)].shown());
    delegate_->setWidest(std::max(delegate_->widest(), widest.width()));
    if (top.isValid() && top.row() != topRow)
        list_.scrollTo(top, QAbstractItemView::PositionAtTop);
    return before;
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
    if (watched == list_.viewport() && event->type() == QEvent::Resize)
        placeProgress();
    if (announceFill_ && watched == list_.viewport() && event->type() == QEvent::Paint) {
        announceFill_ = false;
        qCInfo(lcLogList, "log list filled: %d logs", model_->rowCount());
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tarnveil
