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
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnveil {

namespace {

QPointer<frmHelp>& openWindow()
{
    static QPointer<frmHelp> window;
    return window;
}

// Far more than any guide needs, and little enough to lay out without stalling.
constexpr off_t HelpDocumentLimit = off_t{16} << 20;

Failure tooLarge()
{
    return Failure(FailureCode::FileTooLarge, std::string(HelpDocumentPath) + " is larger than 16 MiB");
}

// Throws Failure with the file error's number and description.
QByteArray readDocument(const std::filesystem::path& path)
{
    // O_NONBLOCK: a FIFO under the guide's name must not hang the window's load.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        throw fileFailure(errno, path, HelpDocumentPath);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        throw failureFromErrno(errno, HelpDocumentPath);
    if (!S_ISREG(info.st_mode))
        throw Failure(FailureCode::PathFileAccessError, std::string(HelpDocumentPath) + " is not a plain file");
    if (info.st_size > HelpDocumentLimit)
        throw tooLarge();
    QByteArray content;
    content.reserve(static_cast<qsizetype>(info.st_size));
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
        // The file may grow while it is read.
        if (content.size() + n > HelpDocumentLimit)
            throw tooLarge();
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
    } catch (const std::exception& error) {
        RichTextBox1->clear();
        frmError::report(error);
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
