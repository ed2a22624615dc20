#include "settings/preferences_window.h"

#include "program/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "settings/settings_file.h"
#include "windows/error_window.h"
#include "windows/twips.h"
#include "windows/files_menu.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace tarnveil {

namespace {
QPointer<frmMyPreferences>& openWindow()
{
    static QPointer<frmMyPreferences> window;
    return window;
}

// Stands in for the stored "MS Sans Serif" 9.75 pt.
QFont sansFont(bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setBold(bold);
    return font;
}

QLabel* placeLabel(QWidget* parent, const char* name, const QString& text, int leftTwips, int topTwips)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(px(leftTwips), px(topTwips));
    label->adjustSize();
    return label;
}

QString shownPath(const std::filesystem::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::filesystem::path encodedPath(const QString& folder)
{
    return QFile::encodeName(folder).toStdString();
}

// A local folder answers at once; one that takes longer is as good as gone for
// an operator waiting for the dialog.
constexpr std::chrono::seconds BrowseDeadline{1};

// Where Browse can start for `start`: the folder itself, else the nearest
// folder above it that exists, else nothing. Runs on a lane.
std::filesystem::path nearestFolder(std::filesystem::path start)
{
    for (std::filesystem::path folder = std::move(start); !folder.empty(); folder = folder.parent_path()) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return folder;
        if (folder == folder.parent_path())
            break;
    }
    return {};
}

// The letter a drive text names, upper case, or 0.
char letterOf(const QString& driveText)
{
    const QChar c = driveText.isEmpty() ? QChar() : driveText.front().toUpper();
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? static_cast<char>(c.unicode()) : '\0';
}
} // namespace

frmMyPreferences::frmMyPreferences(Module1& module)
    : QMainWindow(nullptr), module_(module), browseLane_(BrowseDeadline)
{
    setObjectName(QStringLiteral("frmMyPreferences"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("My Preferences"));

    addFilesExitMenu(*this, mnuFiles, mnuExit);

    auto* client = new QWidget(this);
    setCentralWidget(client);

    lstMM1 = new QListWidget(client);
    lstMM1->setObjectName(QStringLiteral("lstMM1"));
    lstMM1->setToolTip(QStringLiteral("Select Play sound card"));
    lstMM1->setFont(sansFont(false));
    lstMM1->setSelectionMode(QAbstractItemView::SingleSelection);
    lstMM1->setGeometry(px(1200), px(360), px(2775), px(300));

    txtDrive = new QLineEdit(client);
    txtDrive->setObjectName(QStringLiteral("txtDrive"));
    txtDrive->setMaxLength(1);
    txtDrive->setGeometry(px(1200), px(720), px(375), px(285));

    cmdApply = new QPushButton(QStringLiteral("Apply"), client);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdApply->setToolTip(QStringLiteral("Saves settings"));
    cmdApply->setFont(sansFont(true));
    cmdApply->setGeometry(px(480), px(1680), px(975), px(495));
    connect(cmdApply, &QPushButton::clicked, this, &frmMyPreferences::cmdApply_Click);

    cmdClose = new QPushButton(QStringLiteral("&Close"), client);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setToolTip(QStringLiteral("Exit "));
    cmdClose->setFont(sansFont(true));
    cmdClose->setGeometry(px(1680), px(1680), px(975), px(495));
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    Label1 = placeLabel(client, "Label1", QStringLiteral("Select Sound Card"), 1800, 120);
    lblMM1 = placeLabel(client, "lblMM1", QStringLiteral("Play"), 480, 480);
    Label8 = placeLabel(client, "Label8", QStringLiteral("Drive"), 480, 840);

    // The folder row sits under the drive box and comes after it.
    lblFolder = placeLabel(client, "lblFolder", QStringLiteral("Folder"), 480, 1140);
    txtFolder = new QLineEdit(client);
    txtFolder->setObjectName(QStringLiteral("txtFolder"));
    txtFolder->setPlaceholderText(QStringLiteral("(not mapped)"));
    txtFolder->setGeometry(px(1200), px(1080), px(2160), px(285));
    cmdBrowse = new QPushButton(QStringLiteral("Browse..."), client);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setGeometry(px(3420), px(1065), px(900), px(315));
    connect(cmdBrowse, &QPushButton::clicked, this, &frmMyPreferences::cmdBrowse_Click);
    lblFolderWarning = new QLabel(client);
    lblFolderWarning->setObjectName(QStringLiteral("lblFolderWarning"));
    lblFolderWarning->setWordWrap(true);
    lblFolderWarning->setGeometry(px(480), px(1395), px(3840), px(285));
    QPalette warning = lblFolderWarning->palette();
    warning.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    lblFolderWarning->setPalette(warning);
    connect(txtDrive, &QLineEdit::textChanged, this, &frmMyPreferences::showFolderOfLetter);

    // Tab indices 0, 1, 6, 7; the labels between them take no focus.
    setTabOrder(cmdClose, lstMM1);
    setTabOrder(lstMM1, cmdApply);
    setTabOrder(cmdApply, txtDrive);
    setTabOrder(txtDrive, txtFolder);
    setTabOrder(txtFolder, cmdBrowse);

    resize(px(4410), px(2565) + menuBar()->sizeHint().height());
}

frmMyPreferences* frmMyPreferences::showWindow(Module1& module)
{
    QPointer<frmMyPreferences>& window = openWindow();
    if (!window) {
        // Built and loaded before it is published, so a failed load leaves nothing behind.
        auto loading = std::unique_ptr<frmMyPreferences>(new frmMyPreferences(module));
        loading->Form_Load();
        window = loading.release();
        window->cmdClose->setFocus();
    }
    window->show();
    window->raise();
    window->activateWindow();
    // Reported once the window is up, so that the error window is not hidden under it.
    if (!window->soundCardFailure_.isEmpty())
        frmError::report(std::exchange(window->soundCardFailure_, QString()));
    return window;
}

frmMyPreferences* frmMyPreferences::instance()
{
    return openWindow();
}

void frmMyPreferences::Form_Load()
{
    // Should PortAudio not start, the window still sets the drive: the list
    // stays empty and the failure is reported.
    try {
        WaveOut.emplace();
        const int32_t count = WaveOut->DeviceCount();
        for (int32_t device = 0; device < count; ++device) {
            auto* item = new QListWidgetItem(WaveOut->DeviceName(device), lstMM1);
            item->setData(Qt::UserRole, device);
        }
    } catch (const std::exception& error) {
        WaveOut.reset();
        lstMM1->clear();
        soundCardFailure_ = QString::fromStdString(failureFromException(error).message());
    }

    // The stored values are shown as far as they can be read, without a word.
    const StoredSettings stored = ReadStoredSettings(module_);
    if (stored.device && *stored.device >= 0 && *stored.device < lstMM1->count())
        lstMM1->setCurrentRow(*stored.device);
    else
        lstMM1->clearSelection();
    if (stored.drive)
        txtDrive->setText(QString::fromLatin1(stored.drive->data(), static_cast<qsizetype>(stored.drive->size())));
    showFolderOfLetter();
}

void frmMyPreferences::showFolderOfLetter()
{
    const char letter = letterOf(txtDrive->text());
    const std::optional<std::filesystem::path> folder =
        letter != '\0' ? module_.drives.folderOf(letter) : std::nullopt;
    mappedFolder_ = folder ? shownPath(*folder) : QString();
    txtFolder->setText(mappedFolder_);
    showFolderWarning(QString());
    // c: is where the program keeps its own files.
    const bool fixed = letter == 'C';
    txtFolder->setReadOnly(fixed);
    cmdBrowse->setEnabled(!fixed);

    QString mapped = QStringLiteral("Mapped drives:");
    for (const auto& [drive, target] : module_.drives.mappedDrives())
        mapped += QStringLiteral("\n%1: %2").arg(QChar::fromLatin1(drive).toUpper(), shownPath(target));
    txtFolder->setToolTip(mapped);
}

// Browse starts at the folder shown, else in the home folder. The folder shown
// may be a dead share, so it is looked at on a lane first: one that does not
// answer in time sends the dialog to the home folder, one that is gone to the
// nearest folder above it.
void frmMyPreferences::cmdBrowse_Click()
{
    const QString shown = txtFolder->text().trimmed();
    if (shown.isEmpty()) {
        chooseFolder(QDir::homePath());
        return;
    }
    browseLane_.start(
        shown.toStdString(), [start = encodedPath(shown)] { return nearestFolder(start); },
        [this](DriveOutcome<std::filesystem::path> outcome) {
            const std::filesystem::path* found = std::get_if<std::filesystem::path>(&outcome);
            chooseFolder(found != nullptr && !found->empty() ? shownPath(*found) : QDir::homePath());
        });
}

void frmMyPreferences::chooseFolder(const QString& start)
{
    const QString letter = txtDrive->text().left(1).toUpper();
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Folder for drive %1:").arg(letter), start);
    if (!folder.isEmpty())
        txtFolder->setText(folder);
}

// The warning wraps, and gets the room it needs: the buttons and the window's
// bottom move down by as much as it is taller than one line.
void frmMyPreferences::showFolderWarning(const QString& text)
{
    lblFolderWarning->setText(text);
    const int top = px(1395);
    const int width = px(3840);
    const int height = text.isEmpty() ? px(285) : std::max(px(285), lblFolderWarning->heightForWidth(width));
    lblFolderWarning->setGeometry(px(480), top, width, height);
    const int buttonsTop = text.isEmpty() ? px(1680) : std::max(px(1680), top + height + px(90));
    cmdApply->move(cmdApply->x(), buttonsTop);
    cmdClose->move(cmdClose->x(), buttonsTop);
    const int clientHeight = std::max(px(2565), buttonsTop + px(495) + px(390));
    resize(this->width(), clientHeight + menuBar()->sizeHint().height());
}

// Whether the folder holds what the console lists is looked at on a lane: the
// folder may be a share, and one that does not answer must not hold up the window.
void frmMyPreferences::checkLoggerFolder(const QString& folder)
{
    const std::filesystem::path logs = encodedPath(folder) / "logger" / "logs";
    lane_.start(
        folder.toStdString(),
        [logs] {
            struct stat info {};
            return ::stat(logs.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        },
        [this, folder](DriveOutcome<bool> outcome) {
            if (const bool* found = std::get_if<bool>(&outcome); found != nullptr && *found)
                return;
            const QString why = std::holds_alternative<Failure>(outcome)
                ? QString::fromStdString(std::get<Failure>(outcome).message()) + QStringLiteral(". ")
                : QString();
            // A path too long for a line is shortened in its middle; the tooltip has it whole.
            const QString whole = why + QStringLiteral("%1 has no logger/logs folder: the log list stays empty until it is there.");
            const QString shortened =
                lblFolderWarning->fontMetrics().elidedText(folder, Qt::ElideMiddle, lblFolderWarning->width());
            lblFolderWarning->setToolTip(whole.arg(folder));
            showFolderWarning(whole.arg(shortened));
        });
}

void frmMyPreferences::cmdApply_Click()
{
    try {
        const QList<QListWidgetItem*> selected = lstMM1->selectedItems();
        // Without a device list the stored card is kept, so that the drive can still be set.
        if (selected.isEmpty() && WaveOut)
            throw Failure(FailureCode::InvalidIndex);
        const int32_t device = !selected.isEmpty() ? selected.first()->data(Qt::UserRole).toInt()
                                                   : ReadStoredSettings(module_).device.value_or(0);
        const QString folder = txtFolder->text().trimmed();
        const bool remap = !folder.isEmpty() && folder != mappedFolder_;
        const char letter = letterOf(txtDrive->text());
        // A folder for something that is no drive letter is refused before anything is stored.
        if (remap && letter == '\0')
            throw Failure(FailureCode::NoSuchDrive, txtDrive->text().toStdString() + ":");
        if (remap && letter == 'C')
            throw Failure(FailureCode::SystemDriveFixed);
        // The records are single bytes; Latin-1 keeps one character one byte.
        const std::string driveText = txtDrive->text().toLatin1().toStdString();
        if (remap) {
            mapAndStore(device, driveText, letter, folder);
            showFolderOfLetter();
            checkLoggerFolder(folder);
        } else {
            WriteSettings(module_, device, driveText);
        }
        emit applied(remap, letter);
    } catch (const std::exception& error) {
        frmError::report(error);
    }
}

// All or nothing: the letter is stored only once its folder is mapped, and the
// letter's old folder comes back when the settings cannot be stored.
void frmMyPreferences::mapAndStore(int32_t device, const std::string& driveText, char letter, const QString& folder)
{
    const std::optional<std::filesystem::path> before = module_.drives.folderOf(letter);
    module_.drives.mapDrive(letter, encodedPath(folder));
    try {
        WriteSettings(module_, device, driveText);
    } catch (...) {
        try {
            if (before)
                module_.drives.mapDrive(letter, *before);
            else
                module_.drives.unmapDrive(letter);
        } catch (const std::exception&) {
            // The failure to store is what the operator hears of.
        }
        throw;
    }
}

} // namespace tarnveil
