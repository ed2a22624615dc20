#include "windows/help_window.h"

#include "platform/drive_map.h"
#include "platform/failure.h"
#include "platform/unique_fd.h"
#include "windows/error_window.h"
#include "windows/rtf_reader.h"
#include "windows/twips.h"
#include "windows/files_menu.h"

#include <QIcon>
#include <QMenuBar>
#include <QPointer>
#include <QTextEdit>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tarnveil {

namespace {

QPointer<frmHelp>& openWindow()
{
    static QPointer<frmHelp> window;
    return window;
}

// Throws Failure with the file error's number and description.
QByteArray readDocument(const std::filesystem::path& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        throw failureFromErrno(errno, HelpDocumentPath);
    QByteArray content;
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw failureFromErrno(errno, HelpDocumentPath);
        }
        if (n == 0)
            return content;
        content.append(chunk, n);
    }
}

} // namespace

frmHelp::frmHelp(const DriveMap& drives) : QMainWindow(nullptr)
{
    setObjectName(QStringLiteral("frmHelp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Tarnveil Help"));
    setWindowIcon(QIcon(QStringLiteral(":/tarnveil/tarnveil.png")));

    addFilesExitMenu(*this, mnuFiles, mnuExit);

    // No layout: the text area keeps its place and size however the window is sized.
    auto* client = new QWidget(this);
    setCentralWidget(client);
    RichTextBox1 = new QTextEdit(client);
    RichTextBox1->setObjectName(QStringLiteral("RichTextBox1"));
    RichTextBox1->setGeometry(px(240), px(240), px(6495), px(3585));
    RichTextBox1->setReadOnly(true);
    RichTextBox1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    RichTextBox1->setAcceptRichText(false);
    RichTextBox1->setBackgroundRole(QPalette::Base); // the system's window (text) colour
    QFont defaultFont(QStringLiteral("MS Sans Serif"));
    defaultFont.setStyleHint(QFont::SansSerif);
    defaultFont.setPointSize(12);
    RichTextBox1->setFont(defaultFont);
    RichTextBox1->document()->setDefaultFont(defaultFont);

    const int menuHeight = menuBar()->sizeHint().height();
    resize(px(7065), px(4110) + menuHeight);

    Form_Load(drives);
}

void frmHelp::Form_Load(const DriveMap& drives)
{
    try {
        readRtf(readDocument(drives.resolve(HelpDocumentPath)), *RichTextBox1->document());
        RichTextBox1->moveCursor(QTextCursor::Start); // open at the top of the guide
    } catch (const Failure& failure) {
        RichTextBox1->clear();
        frmError::report(QString::fromStdString(failure.message()));
        reportedFailure_ = true;
    }
}

frmHelp* frmHelp::showWindow(const DriveMap& drives)
{
    QPointer<frmHelp>& window = openWindow();
    if (!window)
        window = new frmHelp(drives);
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    // The report came up while the window loaded; keep it in front of the window
    // that has just opened over it.
    if (window->reportedFailure_ && frmError::instance() != nullptr) {
        window->reportedFailure_ = false;
        frmError::showWindow();
    }
    return window;
}

frmHelp* frmHelp::instance()
{
    return openWindow();
}

} // namespace tarnveil
