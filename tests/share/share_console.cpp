#include "share/share_console.h"

#include <QFile>
#include <QListWidget>

namespace tarnveil::test {

void ShareConsoleTest::SetUp()
{
    if (const std::string reason = FuseShare::unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
}

FuseShare& ShareConsoleTest::putDriveOnShare()
{
    auto& share = *shares_.emplace_back(std::make_unique<FuseShare>(loggerDir.path()));
    const auto drive = prefixDir / "dosdevices" / "l:";
    std::filesystem::remove(drive);
    std::filesystem::create_directory_symlink(share.mountPoint(), drive);
    return share;
}

FuseShare& ShareConsoleTest::putLogFolderOnShare(const std::string& name)
{
    const auto& source = *shareSources_.emplace_back(std::make_unique<TempDir>());
    auto& share = *shares_.emplace_back(std::make_unique<FuseShare>(source.path()));
    std::filesystem::create_directory_symlink(share.mountPoint(), logs / name);
    return share;
}

void ShareConsoleTest::listAndSelect(const std::string& rawName)
{
    const QByteArray raw = QByteArray::fromStdString(rawName);
    auto* item = new QListWidgetItem(QFile::decodeName(raw));
    item->setData(Qt::UserRole, raw);
    window->lstLogs->addItem(item);
    window->lstLogs->setCurrentItem(item);
}

} // namespace tarnveil::test
