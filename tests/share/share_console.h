#pragma once

#include "console/console_fixture.h"
#include "support/fuse_share.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnveil::test {

// The console's fixture with parts of the logger drive reached through FUSE
// shares, as a studio reaches the logger PC. Skips the test where FUSE cannot
// run.
class ShareConsoleTest : public ConsoleTest {
protected:
    void SetUp() override;

    // The whole drive l: (CurFile and the logs) on a share.
    FuseShare& putDriveOnShare();
    // Only the folder logs/<name> on a share of its own, the rest of the drive
    // local. Logs written into the share's mount point are listed there.
    FuseShare& putLogFolderOnShare(const std::string& name);

    // Lists `rawName` (a path below the log folder, as the list's item data
    // holds it) and selects it.
    void listAndSelect(const std::string& rawName);

private:
    std::vector<std::unique_ptr<TempDir>> shareSources_;
    std::vector<std::unique_ptr<FuseShare>> shares_;
};

} // namespace tarnveil::test
