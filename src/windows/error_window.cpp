#include "windows/error_window.h"

#include "platform/failure.h"
#include "windows/twips.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>

namespace tarnveil {

namespace {

const QSize DesignedSize(px(4185), px(2505));
const QRect DesignedMessage(px(360), px(360), px(3375), px(1335));
const QRect DesignedOK(px(1800), px(1920), px(615), px(375));

QPointer<frmError>& openWindow()
{
    static QPointer<frmError> window;
    return window;
}

// The widest word of `text`: a line can break only between words.
int widestWord(const QString& text, const QFontMetrics& metrics)
{
    int widest = 0;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widest = std::max(widest, metrics.horizontalAdvance(word));
    return widest;
}

} // namespace

frmError::frmError() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("frmError"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Error Message"));
    // Fixed dialog border: a close box, no minimise or maximise box, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(DesignedSize);
    setSizeGripEnabled(false);
    setModal(false);

    lblMessage = new QLabel(this);
    lblMessage->setObjectName(QStringLiteral("lblMessage"));
    lblMessage->setGeometry(DesignedMessage);
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
    OKButton->setGeometry(DesignedOK);
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
    frmError* window = showWindow();
    window->lblMessage->setText(message);
    window->fitToMessage();
}

void frmError::fitToMessage()
{
    // The window keeps its designed size for a short message and grows to
    // show a long one whole: wider only for a word longer than a line, as far
    // as the screen allows, and as tall as the wrapped lines need.
    const int border = DesignedSize.width() - DesignedMessage.width();
    const int widthLimit = screen()->availableGeometry().width() - border;
    // Two pixels spare for the label's own rounding of the word's width.
    const int width = std::clamp(widestWord(lblMessage->text(), lblMessage->fontMetrics()) + 2,
                                 DesignedMessage.width(), std::max(DesignedMessage.width(), widthLimit));
    const int height = std::max(DesignedMessage.height(), lblMessage->heightForWidth(width));
    const QSize grown(width - DesignedMessage.width(), height - DesignedMessage.height());
    lblMessage->resize(width, height);
    OKButton->move(DesignedOK.x() + grown.width() / 2, DesignedOK.y() + grown.height());
    setFixedSize(DesignedSize + grown);
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
    // A caller that sets the text itself changes the label's size hint, which asks for this.
    if (event->type() == QEvent::LayoutRequest)
        fitToMessage();
    return QDialog::event(event);
}

} // namespace tarnveil
