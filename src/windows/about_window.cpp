#include "windows/about_window.h"

#include "platform/failure.h"
#include "platform/registry.h"
#include "windows/twips.h"

#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QPushButton>

#include <filesystem>
#include <string>

namespace tarnveil {

namespace {

QPointer<frmAbout>& openWindow()
{
    static QPointer<frmAbout> window;
    return window;
}

bool isDrivePath(const std::string& text)
{
    return text.size() >= 3 && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'))
        && text[1] == ':' && text[2] == '\\';
}

// Registry paths are either drive paths ("C:\Tools\msinfo.sh"), reached through
// the drive map, or paths of this machine, where a backslash separates folders as
// it does in every path the registry holds. Throws Failure for an unmapped drive.
std::filesystem::path programPath(const DriveMap& drives, std::string text)
{
    if (isDrivePath(text))
        return drives.resolve(text);
    for (char& c : text) {
        if (c == '\\')
            c = '/';
    }
    return text;
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

frmAbout::frmAbout(const DriveMap& drives) : QDialog(nullptr), drives_(drives)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    // A tool window stays off the taskbar; fixed border with a close box only.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Tool windows do not keep the program alive by default; this one must, like
    // every window the console opens.
    setAttribute(Qt::WA_QuitOnClose, true);
    setFixedSize(px(5580), px(3795));
    setSizeGripEnabled(false);
    setModal(false);
    setWindowIcon(QIcon(QStringLiteral(":/tarnveil/tarnveil.png")));

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(px(240), px(240), 32, 32);
    picIcon->setPixmap(QPixmap(QStringLiteral(":/tarnveil/tarnveil.png")));

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(px(1050), px(240), px(4245), px(480));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    setTextColour(lblTitle, Qt::black);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(px(1050), px(780), px(4245), px(300));

    lblDescription = new QLabel(this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setGeometry(px(240), px(1260), px(5100), px(840));
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDescription->setWordWrap(true);
    setTextColour(lblDescription, Qt::black);

    // Etched separator: a white line two pixels wide under a grey one.
    for (int member = 0; member < 2; ++member) {
        QFrame* line = new QFrame(this);
        line->setObjectName(QStringLiteral("Line1_%1").arg(member));
        line->setFrameShape(QFrame::NoFrame);
        line->setAutoFillBackground(true);
        QPalette palette = line->palette();
        palette.setColor(QPalette::Window, member == 0 ? QColor(0xFF, 0xFF, 0xFF) : QColor(0x80, 0x80, 0x80));
        line->setPalette(palette);
        Line1[member] = line;
    }
    Line1[0]->setGeometry(px(84), px(2220) + 1, px(5410), 2);
    Line1[1]->setGeometry(px(84), px(2220), px(5410), 1);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(px(4125), px(2625), px(1260), px(375));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(px(4125), px(3075), px(1260), px(375));
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();

    Form_Load();
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + QLatin1String(ProgramTitle));
    lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                            .arg(TARNVEIL_VERSION_MAJOR)
                            .arg(TARNVEIL_VERSION_MINOR)
                            .arg(TARNVEIL_VERSION_PATCH));
    lblTitle->setText(QLatin1String(ProgramTitle));
    lblDescription->setText(QStringLiteral("Playback console for broadcast audio logs.") + QChar(10)
                            + QStringLiteral("Plays, searches and replays the logger's recordings."));
}

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    // OK is the cancel button too: Escape presses it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool frmAbout::startTool()
{
    const Registry registry = Registry::load(systemRegistryFile(drives_.prefix()));
    std::string SysInfoPath;
    if (GetKeyValue(registry, Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                    SysInfoPath)
        == 0) {
        if (GetKeyValue(registry, Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location",
                        "MSINFO", SysInfoPath)
            == 0)
            return false;
        std::error_code error;
        if (!std::filesystem::is_regular_file(programPath(drives_, SysInfoPath + "\\MSINFO32.EXE"), error))
            return false;
        SysInfoPath += "\\MSINFO32.EXE";
    }
    // Whether the program named by "PATH" exists is left to the start itself.
    const std::filesystem::path program = programPath(drives_, SysInfoPath);
    if (program.empty())
        return false;
    return QProcess::startDetached(QString::fromStdString(program.string()), {});
}

void frmAbout::StartSysInfo()
{
    bool started = false;
    try {
        started = startTool();
    } catch (const std::exception&) {
        started = false; // every failure ends in the same message
    }
    if (started)
        return;
    QMessageBox box(QMessageBox::NoIcon, QLatin1String(ProgramTitle), QLatin1String(SysInfoUnavailableText),
                    QMessageBox::Ok, this);
    box.exec();
}

frmAbout* frmAbout::showWindow(const DriveMap& drives)
{
    QPointer<frmAbout>& window = openWindow();
    if (!window)
        window = new frmAbout(drives);
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

frmAbout* frmAbout::instance()
{
    return openWindow();
}

} // namespace tarnveil
