#include "settings/preferences_window.h"

#include "console/module1.h"
#include "platform/failure.h"
#include "settings/settings_file.h"
#include "windows/error_window.h"
#include "windows/twips.h"
#include "windows/files_menu.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>

#include <memory>

namespace tarnveil {

namespace {
QPointer<frmMyPreferences>& openWindow()
{
    static QPointer<frmMyPreferences> window;
    return window;
}

// Stands in for the stored "MS Sans Serif" 9.75 pt.
QFont sansFont(bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setBold(bold);
    return font;
}

QLabel* placeLabel(QWidget* parent, const char* name, const QString& text, int leftTwips, int topTwips)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(px(leftTwips), px(topTwips));
    label->adjustSize();
    return label;
}
} // namespace

frmMyPreferences::frmMyPreferences(Module1& module) : QMainWindow(nullptr), module_(module)
{
    setObjectName(QStringLiteral("frmMyPreferences"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("My Preferences"));

    addFilesExitMenu(*this, mnuFiles, mnuExit);

    auto* client = new QWidget(this);
    setCentralWidget(client);

    lstMM1 = new QListWidget(client);
    lstMM1->setObjectName(QStringLiteral("lstMM1"));
    lstMM1->setToolTip(QStringLiteral("Select Play sound card"));
    lstMM1->setFont(sansFont(false));
    lstMM1->setSelectionMode(QAbstractItemView::SingleSelection);
    lstMM1->setGeometry(px(1200), px(360), px(2775), px(300));

    txtDrive = new QLineEdit(client);
    txtDrive->setObjectName(QStringLiteral("txtDrive"));
    txtDrive->setMaxLength(1);
    txtDrive->setGeometry(px(1200), px(720), px(375), px(285));

    cmdApply = new QPushButton(QStringLiteral("Apply"), client);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdApply->setToolTip(QStringLiteral("Saves settings"));
    cmdApply->setFont(sansFont(true));
    cmdApply->setGeometry(px(480), px(1680), px(975), px(495));
    connect(cmdApply, &QPushButton::clicked, this, &frmMyPreferences::cmdApply_Click);

    cmdClose = new QPushButton(QStringLiteral("&Close"), client);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setToolTip(QStringLiteral("Exit "));
    cmdClose->setFont(sansFont(true));
    cmdClose->setGeometry(px(1680), px(1680), px(975), px(495));
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    Label1 = placeLabel(client, "Label1", QStringLiteral("Select Sound Card"), 1800, 120);
    lblMM1 = placeLabel(client, "lblMM1", QStringLiteral("Play"), 480, 480);
    Label8 = placeLabel(client, "Label8", QStringLiteral("Drive"), 480, 840);

    // Tab indices 0, 1, 6, 7; the labels between them take no focus.
    setTabOrder(cmdClose, lstMM1);
    setTabOrder(lstMM1, cmdApply);
    setTabOrder(cmdApply, txtDrive);

    resize(px(4410), px(2565) + menuBar()->sizeHint().height());
}

frmMyPreferences* frmMyPreferences::showWindow(Module1& module)
{
    QPointer<frmMyPreferences>& window = openWindow();
    if (!window) {
        // Built and loaded before it is published, so a failed load leaves nothing behind.
        auto loading = std::unique_ptr<frmMyPreferences>(new frmMyPreferences(module));
        loading->Form_Load();
        window = loading.release();
        window->cmdClose->setFocus();
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

frmMyPreferences* frmMyPreferences::instance()
{
    return openWindow();
}

void frmMyPreferences::Form_Load()
{
    // Failures while listing the devices go to the caller.
    const int32_t count = WaveOut.DeviceCount();
    for (int32_t device = 0; device < count; ++device) {
        auto* item = new QListWidgetItem(WaveOut.DeviceName(device), lstMM1);
        item->setData(Qt::UserRole, device);
    }

    // The stored values are shown as far as they can be read, without a word.
    const StoredSettings stored = ReadStoredSettings(module_);
    if (stored.device && *stored.device >= 0 && *stored.device < lstMM1->count())
        lstMM1->setCurrentRow(*stored.device);
    else
        lstMM1->clearSelection();
    if (stored.drive)
        txtDrive->setText(QString::fromLatin1(stored.drive->data(), static_cast<qsizetype>(stored.drive->size())));
}

void frmMyPreferences::cmdApply_Click()
{
    try {
        const QList<QListWidgetItem*> selected = lstMM1->selectedItems();
        if (selected.isEmpty())
            throw Failure(FailureCode::InvalidIndex);
        const int32_t device = selected.first()->data(Qt::UserRole).toInt();
        // The records are single bytes; Latin-1 keeps one character one byte.
        WriteSettings(module_, device, txtDrive->text().toLatin1().toStdString());
    } catch (const std::exception& error) {
        frmError::report(error);
    }
}

} // namespace tarnveil
