#include "timeline/save_clip_window.h"

#include "timeline/moment_field.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
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
    // Wide enough to show the folder the name goes into.
    txtFile->setMinimumWidth(txtFile->fontMetrics().averageCharWidth() * 36);
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
        for (MomentField* field : {txtFrom, txtTo}) {
            if (!field->dateTime().isValid()) {
                field->reportUnreadable();
                return;
            }
        }
        if (!hasFileName())
            browse();
        if (hasFileName())
            emit saveRequested(false);
    });
}

frmSaveClip* frmSaveClip::showWindow(int64_t fromMs, int64_t toMs, std::vector<ClipFormat> formats,
                                     const ClipChoice& last)
{
    QPointer<frmSaveClip>& window = openWindow();
    if (!window) {
        window = new frmSaveClip;
        // The folder leads the name, ready for the operator to type the rest.
        if (!last.folder.isEmpty())
            window->txtFile->setText(last.folder.endsWith(u'/') ? last.folder : last.folder + u'/');
    }
    window->formats_ = std::move(formats);
    window->cboFormat->clear();
    for (const ClipFormat& format : window->formats_)
        window->cboFormat->addItem(format.caption);
    window->cboFormat->setCurrentIndex(std::max(0, window->cboFormat->findText(last.formatCaption)));
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

ClipChoice frmSaveClip::choice() const
{
    return {QFileInfo(fileName()).absolutePath(), format().caption};
}

bool frmSaveClip::hasFileName() const
{
    return !QFileInfo(txtFile->text().trimmed()).fileName().isEmpty();
}

void frmSaveClip::askToReplace()
{
    auto* question = new QMessageBox(QMessageBox::Question, windowTitle(),
                                     fileName() + QStringLiteral(" already exists.\nDo you want to replace it?"),
                                     QMessageBox::Yes | QMessageBox::No, this);
    question->setObjectName(QStringLiteral("msgReplace"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    // Keeping the file is the answer that loses nothing.
    question->setDefaultButton(QMessageBox::No);
    connect(question, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes)
            emit saveRequested(true);
    });
    question->open();
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
