#include "share/share_console.h"

#include "loglist/log_list.h"
#include "loglist/log_list_model.h"

#include <QListView>

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
    LogListModel& rows = window->logList().model();
    auto listed = std::make_shared<LogRows>(rows.rows());
    listed->push_back(LogFile{rawName, {}, {}});
    rows.fill(std::move(listed));
    window->lstLogs->setCurrentIndex(rows.index(rows.rowCount() - 1));
}

} // namespace tarnveil::test
