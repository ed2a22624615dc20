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
    std::ofstream(file) << "RIFF";
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

} // namespace
} // namespace tarnveil
