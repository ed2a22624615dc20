#include "windows/quiet_notice.h"

#include <QPointer>
#include <QTimer>
#include <QToolTip>

namespace tarnveil {

namespace {

constexpr int ShownMs = 6000;

QPointer<QuietNotice>& openNotice()
{
    static QPointer<QuietNotice> notice;
    return notice;
}

} // namespace

// Clicks pass through to whatever lies beneath.
QuietNotice::QuietNotice() : QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput)
{
    setObjectName(QStringLiteral("QuietNotice"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setPalette(QToolTip::palette());
    setAutoFillBackground(true);
    setMargin(6);
    setTextFormat(Qt::PlainText);
}

void QuietNotice::show(QWidget* over, const QString& text)
{
    QPointer<QuietNotice>& notice = openNotice();
    delete notice.data();
    notice = new QuietNotice;
    notice->setText(text);
    notice->adjustSize();
    if (over != nullptr) {
        const QRect area(over->mapToGlobal(QPoint(0, 0)), over->size());
        notice->move(area.center().x() - notice->width() / 2, area.bottom() - notice->height() - 8);
    }
    notice->QLabel::show();
    QTimer::singleShot(ShownMs, notice.data(), &QWidget::close);
}

QuietNotice* QuietNotice::instance()
{
    return openNotice();
}

} // namespace tarnveil
