#include "console/readout_slot.h"

#include <QEvent>
#include <QLabel>

namespace tarnveil {

ReadoutSlot::ReadoutSlot(QLabel* label, QWidget* parent)
    : QWidget(parent), label_(label)
{
    setObjectName(label->objectName() + QStringLiteral("Slot"));
    setSizePolicy(label->sizePolicy());
    setMinimumSize(label->minimumSize());
    label_->setParent(this);
    label_->setGeometry(rect());
}

QSize ReadoutSlot::sizeHint() const
{
    hint_ = label_->sizeHint();
    return hint_;
}

QSize ReadoutSlot::minimumSizeHint() const
{
    minimumHint_ = label_->minimumSizeHint();
    return minimumHint_;
}

bool ReadoutSlot::event(QEvent* event)
{
    // A slot has no layout of its own: the label's request for one lands here.
    if (event->type() == QEvent::LayoutRequest) {
        if (label_->sizeHint() != hint_ || label_->minimumSizeHint() != minimumHint_)
            updateGeometry();
        return true;
    }
    return QWidget::event(event);
}

void ReadoutSlot::resizeEvent(QResizeEvent* event)
{
    label_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

} // namespace tarnveil
