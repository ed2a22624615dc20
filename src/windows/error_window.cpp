#include "windows/error_window.h"

#include "platform/failure.h"
#include "windows/twips.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

namespace tarnveil {

namespace {
QPointer<frmError>& openWindow()
{
    static QPointer<frmError> window;
    return window;
}
} // namespace

frmError::frmError() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("frmError"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Error Message"));
    // Fixed dialog border: a close box, no minimise or maximise box, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(4185), px(2505));
    setSizeGripEnabled(false);
    setModal(false);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setGeometry(px(360), px(360), px(3375), px(1335));
    lblMessage->setWordWrap(true);
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMessage->setTextFormat(Qt::PlainText);
    QFont messageFont(QStringLiteral("MS Sans Serif"));
    messageFont.setStyleHint(QFont::SansSerif);
    messageFont.setPointSizeF(8.25);
    messageFont.setBold(true);
    lblMessage->setFont(messageFont);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(px(1800), px(1920), px(615), px(375));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QWidget::close);
}

frmError* frmError::showWindow()
{
    QPointer<frmError>& window = openWindow();
    if (!window)
        window = new frmError;
    window->show();
    window->raise();
    window->activateWindow();
    window->OKButton->setFocus();
    return window;
}

void frmError::report(const QString& message)
{
    showWindow()->lblMessage->setText(message);
}

void frmError::report(const std::exception& error)
{
    report(QString::fromStdString(failureFromException(error).message()));
}

frmError* frmError::instance()
{
    return openWindow();
}

void frmError::keyPressEvent(QKeyEvent* event)
{
    // QDialog would close on Escape; this window closes only by OK or its close box.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool frmError::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        OKButton->setFocus();
    return QDialog::event(event);
}

} // namespace tarnveil
