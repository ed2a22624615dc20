#include "platform/failure.h"
#include "platform/log_folder.h"

#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace tarnveil {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using testing::ElementsAre;

void touch(const fs::path& file)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "RIFF";
}

std::vector<std::string> shown(const std::vector<LogFile>& logs)
{
    std::vector<std::string> names;
    for (const LogFile& log : logs)
        names.push_back(log.shown());
    return names;
}

std::vector<std::string> listWaveFiles(const fs::path& folder)
{
    return shown(listLogs(folder));
}

TEST(LogFolder, ListsWaveFilesOfAnyCaseSortedAndNothingElse)
{
    TempDir folder;
    touch(folder / "b.WAV");
    touch(folder / "a.wav");
    touch(folder / "C.Wav");
    touch(folder / "notes.txt");
    touch(folder / "wav");
    touch(folder / ".wav");
    touch(folder / "x.wav.bak");
    fs::create_directory(folder / "x.wav");

    // Byte order: upper-case letters sort before lower-case ones.
    EXPECT_THAT(listWaveFiles(folder.path()), ElementsAre(".wav", "C.Wav", "a.wav", "b.WAV"));
}

TEST(LogFolder, LinksCountOnlyWhenTheyLeadToAPlainFile)
{
    TempDir folder;
    TempDir elsewhere;
    touch(elsewhere / "target.wav");
    fs::create_directory(elsewhere / "dir.wav");
    fs::create_symlink(elsewhere / "target.wav", folder / "linked.wav");
    fs::create_symlink(elsewhere / "dir.wav", folder / "folder.wav");
    fs::create_symlink(elsewhere / "gone.wav", folder / "dangling.wav");
    fs::create_symlink("linked.wav", folder / "chain.wav");

    EXPECT_THAT(listWaveFiles(folder.path()), ElementsAre("chain.wav", "linked.wav"));
}

TEST(LogFolder, EmptyFolderGivesAnEmptyList)
{
    TempDir folder;
    touch(folder / "readme.txt");
    EXPECT_TRUE(listWaveFiles(folder.path()).empty());
}

TEST(LogFolder, MissingFolderFailsWithNumberAndDescription)
{
    TempDir base;
    try {
        listWaveFiles(base / "logger" / "logs");
        FAIL() << "missing folder listed";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PathNotFound);
        EXPECT_EQ(failure.message(), "76 Path not found: " + (base / "logger" / "logs").string());
    }

    touch(base / "file");
    try {
        listWaveFiles(base / "file");
        FAIL() << "a file listed as a folder";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PathNotFound);
    }
}

// The layouts of other loggers side by side: flat YYYY-MM-DD-HH, hierarchy
// YYYY/MM/DD/HH/archive, combo YYYY/MM/DD/HH/YYYY-MM-DD-HH, dailydir
// YYYY-MM-DD/YYYY-MM-DD-HH, in every format the player reads.
TEST(LogFolder, DatedFoldersAndOtherFormatsListInTimeOrder)
{
    TempDir folder;
    for (const char* file : {"2026-12-07-16.mp3", "2026-12-07-15.FLAC", "2026/12/07/14/archive.ogg",
                             "2026/12/07/17/archive.opus", "2026/12/07/13/2026-12-07-13.wav",
                             "2026-12-06/2026-12-06-23.aiff", "x.au", "y.caf", "z.aif", "2026/12/07/14/notes.txt",
                             "misc/a.wav", "2026/1x/07/14/archive.wav", "2026/12/07/14/15/deeper.wav"})
        touch(folder / file);

    const std::vector<LogFile> logs = listLogs(folder.path());
    EXPECT_THAT(shown(logs), ElementsAre("2026-12-06-23.aiff", "2026-12-07-13.wav", "2026-12-07 14 archive.ogg",
                                         "2026-12-07-15.FLAC", "2026-12-07-16.mp3", "2026-12-07 17 archive.opus",
                                         "x.au", "y.caf", "z.aif"));
    std::vector<std::string> paths;
    for (const LogFile& log : logs)
        paths.push_back(log.path);
    EXPECT_THAT(paths, ElementsAre("2026-12-06/2026-12-06-23.aiff", "2026/12/07/13/2026-12-07-13.wav",
                                   "2026/12/07/14/archive.ogg", "2026-12-07-15.FLAC", "2026-12-07-16.mp3",
                                   "2026/12/07/17/archive.opus", "x.au", "y.caf", "z.aif"));

    // New logs arrive in the newest folders, which notification watches.
    EXPECT_THAT(newestLogFolders(folder.path(), logs),
                ElementsAre(folder.path(), folder / "2026", folder / "2026/12", folder / "2026/12/07",
                            folder / "2026/12/07/17"));

    // The newest log, found by entering only the newest dated folders: empty
    // newer ones are passed over, and any kind of dated folder may hold it.
    EXPECT_EQ(newestLog(folder.path())->path, "z.aif");
    for (const char* undated : {"x.au", "y.caf", "z.aif"})
        std::filesystem::remove(folder / undated);
    std::filesystem::create_directories(folder / "2026/12/07/18");
    std::filesystem::create_directories(folder / "2026/12/08");
    EXPECT_EQ(newestLog(folder.path())->path, "2026/12/07/17/archive.opus");
    touch(folder / "2026-12-07/2026-12-07-19.caf");
    EXPECT_EQ(newestLog(folder.path())->path, "2026-12-07/2026-12-07-19.caf");
}

} // namespace
} // namespace tarnveil
