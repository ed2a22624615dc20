#include "timeline/save_clip_window.h"

#include "timeline/moment_field.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnveil {

namespace {

QPointer<frmSaveClip>& openWindow()
{
    static QPointer<frmSaveClip> window;
    return window;
}

// The date stays in view: a clip may run past midnight.
MomentField* makeTimeField(QWidget* parent, const char* name)
{
    auto* field = new MomentField(true, parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

} // namespace

frmSaveClip::frmSaveClip() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("frmSaveClip"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Save Clip As"));
    setModal(false);

    txtFrom = makeTimeField(this, "txtFrom");
    txtTo = makeTimeField(this, "txtTo");
    cboFormat = new QComboBox(this);
    cboFormat->setObjectName(QStringLiteral("cboFormat"));
    txtFile = new QLineEdit(this);
    txtFile->setObjectName(QStringLiteral("txtFile"));
    cmdBrowse = new QPushButton(QStringLiteral("Browse..."), this);
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    cmdBrowse->setAutoDefault(false);
    cmdSave = new QPushButton(QStringLiteral("Save"), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("From"), txtFrom);
    form->addRow(QStringLiteral("To"), txtTo);
    form->addRow(QStringLiteral("Format"), cboFormat);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(txtFile, 1);
    fileRow->addWidget(cmdBrowse);
    form->addRow(QStringLiteral("File"), fileRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdCancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmSaveClip::browse);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(this, &QDialog::rejected, this, &QWidget::close);
    connect(cmdSave, &QPushButton::clicked, this, [this] {
        if (!txtFrom->dateTime().isValid() || !txtTo->dateTime().isValid()) {
            QApplication::beep();
            return;
        }
        if (txtFile->text().trimmed().isEmpty())
            browse();
        if (!txtFile->text().trimmed().isEmpty())
            emit saveRequested();
    });
}

frmSaveClip* frmSaveClip::showWindow(int64_t fromMs, int64_t toMs, std::vector<ClipFormat> formats)
{
    QPointer<frmSaveClip>& window = openWindow();
    if (!window)
        window = new frmSaveClip;
    window->formats_ = std::move(formats);
    window->cboFormat->clear();
    for (const ClipFormat& format : window->formats_)
        window->cboFormat->addItem(format.caption);
    window->txtFrom->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs));
    window->txtTo->setDateTime(QDateTime::fromMSecsSinceEpoch(toMs));
    window->show();
    window->raise();
    window->activateWindow();
    window->txtFrom->setFocus();
    return window;
}

frmSaveClip* frmSaveClip::instance()
{
    return openWindow();
}

int64_t frmSaveClip::fromMs() const
{
    return txtFrom->dateTime().toMSecsSinceEpoch();
}

int64_t frmSaveClip::toMs() const
{
    return txtTo->dateTime().toMSecsSinceEpoch();
}

const ClipFormat& frmSaveClip::format() const
{
    return formats_.at(static_cast<size_t>(std::max(0, cboFormat->currentIndex())));
}

QString frmSaveClip::fileName() const
{
    const QString name = txtFile->text().trimmed();
    const QString suffix = format().suffix;
    if (QFileInfo(name).suffix().isEmpty() && !suffix.isEmpty())
        return name + QLatin1Char('.') + suffix;
    return name;
}

void frmSaveClip::browse()
{
    const QString suffix = format().suffix;
    const QString filter = suffix.isEmpty() ? QString() : format().caption + QStringLiteral(" (*.") + suffix + u')';
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Save Clip As"), txtFile->text(), filter);
    if (!chosen.isEmpty())
        txtFile->setText(chosen);
}

} // namespace tarnveil
