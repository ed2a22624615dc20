#include "settings/preferences_window.h"

#include "program/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "settings/settings_file.h"
#include "windows/error_window.h"
#include "windows/twips.h"
#include "windows/files_menu.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>

#include <sys/stat.h>

#include <memory>

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

// The letter a drive text names, upper case, or 0.
char letterOf(const QString& driveText)
{
    const QChar c = driveText.isEmpty() ? QChar() : driveText.front().toUpper();
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? static_cast<char>(c.unicode()) : '\0';
}
} // namespace

frmMyPreferences::frmMyPreferences(Module1& module) : QMainWindow(nullptr), module_(module)
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
    return window;
}

frmMyPreferences* frmMyPreferences::instance()
{
    return openWindow();
}

void frmMyPreferences::Form_Load()
{
    // Failures while listing the devices go to the caller.
    const int32_t count = WaveOut.DeviceCount();
    for (int32_t device = 0; device < count; ++device) {
        auto* item = new QListWidgetItem(WaveOut.DeviceName(device), lstMM1);
        item->setData(Qt::UserRole, device);
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
    lblFolderWarning->clear();
    // c: is where the program keeps its own files.
    const bool fixed = letter == 'C';
    txtFolder->setReadOnly(fixed);
    cmdBrowse->setEnabled(!fixed);

    QString mapped = QStringLiteral("Mapped drives:");
    for (const auto& [drive, target] : module_.drives.mappedDrives())
        mapped += QStringLiteral("\n%1: %2").arg(QChar::fromLatin1(drive).toUpper(), shownPath(target));
    txtFolder->setToolTip(mapped);
}

void frmMyPreferences::cmdBrowse_Click()
{
    const QString letter = txtDrive->text().left(1).toUpper();
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Folder for drive %1:").arg(letter), txtFolder->text());
    if (!folder.isEmpty())
        txtFolder->setText(folder);
}

// Whether the folder holds what the console lists is looked at on a lane: the
// folder may be a share, and one that does not answer must not hold up the window.
void frmMyPreferences::checkLoggerFolder(const QString& folder)
{
    const std::filesystem::path logs = std::filesystem::path(QFile::encodeName(folder).toStdString()) / "logger" / "logs";
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
            lblFolderWarning->setText(why + QStringLiteral("%1 has no logger/logs folder: the log list stays empty until it is there.").arg(folder));
        });
}

void frmMyPreferences::cmdApply_Click()
{
    try {
        const QList<QListWidgetItem*> selected = lstMM1->selectedItems();
        if (selected.isEmpty())
            throw Failure(FailureCode::InvalidIndex);
        const int32_t device = selected.first()->data(Qt::UserRole).toInt();
        const QString folder = txtFolder->text().trimmed();
        const bool remap = !folder.isEmpty() && folder != mappedFolder_;
        const char letter = letterOf(txtDrive->text());
        // A folder for something that is no drive letter is refused before anything is stored.
        if (remap && letter == '\0')
            throw Failure(FailureCode::NoSuchDrive, txtDrive->text().toStdString() + ":");
        if (remap && letter == 'C')
            throw Failure(FailureCode::SystemDriveFixed);
        // The records are single bytes; Latin-1 keeps one character one byte.
        WriteSettings(module_, device, txtDrive->text().toLatin1().toStdString());
        if (remap) {
            module_.drives.mapDrive(letter, QFile::encodeName(folder).toStdString());
            showFolderOfLetter();
            checkLoggerFolder(folder);
        }
        emit applied(remap, letter);
    } catch (const std::exception& error) {
        frmError::report(error);
    }
}

} // namespace tarnveil
