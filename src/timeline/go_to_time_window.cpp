#include "timeline/go_to_time_window.h"

#include "timeline/moment_field.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnveil {

namespace {
QPointer<frmGoToTime>& openWindow()
{
    static QPointer<frmGoToTime> window;
    return window;
}
} // namespace

frmGoToTime::frmGoToTime() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("frmGoToTime"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Go To Time"));
    setModal(false);

    txtMoment = new MomentField(false, this);
    txtMoment->setObjectName(QStringLiteral("txtMoment"));
    lblForm = new QLabel(QStringLiteral("Date and time as %1, or a time alone for today:").arg(MomentField::form()),
                         this);
    lblForm->setObjectName(QStringLiteral("lblForm"));
    lblForm->setBuddy(txtMoment);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);

    auto* column = new QVBoxLayout(this);
    column->addWidget(lblForm);
    column->addWidget(txtMoment);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    column->addLayout(buttons);
    setFixedSize(sizeHint());

    // Escape rejects, which closes the window like Cancel.
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(this, &QDialog::rejected, this, &QWidget::close);
    connect(cmdOK, &QPushButton::clicked, this, [this] {
        const QDateTime moment = txtMoment->dateTime();
        if (!moment.isValid()) {
            txtMoment->reportUnreadable();
            return;
        }
        close();
        emit chosen(moment);
    });
}

frmGoToTime* frmGoToTime::showWindow(const QDateTime& initial)
{
    QPointer<frmGoToTime>& window = openWindow();
    if (!window)
        window = new frmGoToTime;
    window->txtMoment->setDateTime(initial);
    window->show();
    window->raise();
    window->activateWindow();
    window->txtMoment->setFocus();
    // Typing replaces the whole moment.
    window->txtMoment->selectAll();
    return window;
}

frmGoToTime* frmGoToTime::instance()
{
    return openWindow();
}

} // namespace tarnveil
