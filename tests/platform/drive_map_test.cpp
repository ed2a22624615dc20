#include "platform/drive_map.h"
#include "platform/failure.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace tarnveil {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class DriveMapTest : public testing::Test {
protected:
    DriveMapTest() : map(prefix.path())
    {
        fs::create_directories(logger / "logger" / "logs");
        fs::create_directories(prefix / "dosdevices" / "d:");
        fs::create_directory_symlink(logger.path(), prefix / "dosdevices" / "l:");
    }

    FailureCode failureOf(std::string_view path) const
    {
        try {
            map.resolve(path);
        } catch (const Failure& failure) {
            return failure.code();
        }
        ADD_FAILURE() << "no failure for " << path;
        return FailureCode::InvalidArgument;
    }

    TempDir prefix;
    TempDir logger;
    DriveMap map;
};

TEST_F(DriveMapTest, LetterInEitherCaseLeadsIntoItsDrive)
{
    const fs::path drive = prefix / "dosdevices" / "l:";
    EXPECT_EQ(map.resolve("L:\\logger\\logs\\Mon 06.wav"), drive / "logger" / "logs" / "Mon 06.wav");
    EXPECT_EQ(map.resolve("l:\\logger\\logs\\Mon 06.wav"), drive / "logger" / "logs" / "Mon 06.wav");
    EXPECT_TRUE(fs::is_directory(map.resolve("L:\\logger\\logs")));
    EXPECT_EQ(map.resolve("L:\\"), drive);
    EXPECT_EQ(map.resolve("D:\\x"), prefix / "dosdevices" / "d:" / "x"); // a plain folder as drive
    // Names reach the file system as written; "." and doubled separators are harmless.
    EXPECT_EQ(map.resolve("L:\\Logger\\.\\\\A b;c*.WAV"), drive / "Logger" / "A b;c*.WAV");
}

TEST_F(DriveMapTest, LettersWithoutAnEntryAndNonLettersNameNoDrive)
{
    EXPECT_EQ(failureOf("M:\\logger\\logs"), FailureCode::NoSuchDrive);
    for (const char drive : {'\0', ' ', '3', '!', '\\', '\xC4'})
        EXPECT_EQ(failureOf(std::string(1, drive) + ":\\logger"), FailureCode::NoSuchDrive) << int(drive);
    for (const char* path : {"", "L", "L:", "L:logger", "\\logger\\logs", "LL:\\x", "L:/logger"})
        EXPECT_EQ(failureOf(path), FailureCode::NoSuchDrive) << path;

    // A fresh settings file yields a NUL drive letter; the operator must see words.
    try {
        map.resolve(std::string("\0:\\logger\\logs", 14));
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message(), "382 Drive letter names no drive: (none):\\logger\\logs");
    }
}

TEST_F(DriveMapTest, DotDotNeverLeavesTheDrive)
{
    for (const char* path : {"L:\\..", "L:\\logger\\..\\..\\x", "L:\\logger\\logs/../../..", "L:\\a\\.\\..\\..\\etc"})
        EXPECT_EQ(failureOf(path), FailureCode::PathEscapesDrive) << path;
    EXPECT_EQ(map.resolve("L:\\logger\\..\\logger\\logs"), prefix / "dosdevices" / "l:" / "logger" / "logs");
}

// Sets or unsets an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvOverride() { old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str()); }

private:
    std::string name_;
    std::optional<std::string> old_;
};

TEST(DriveMapPrefix, ChosenFromTheEnvironment)
{
    EnvOverride home("HOME", "/home/op");
    {
        EnvOverride own("TARNVEIL_PREFIX", "/srv/tarnveil");
        EnvOverride data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(DriveMap::defaultPrefix(), fs::path("/srv/tarnveil"));
    }
    {
        EnvOverride own("TARNVEIL_PREFIX", "");
        EnvOverride data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(DriveMap::defaultPrefix(), fs::path("/data/tarnveil"));
    }
    for (const char* dataHome : {static_cast<const char*>(nullptr), "relative/data"}) {
        EnvOverride own("TARNVEIL_PREFIX", nullptr);
        EnvOverride data("XDG_DATA_HOME", dataHome);
        EXPECT_EQ(DriveMap::defaultPrefix(), fs::path("/home/op/.local/share/tarnveil"));
    }
}

TEST(DriveMapSystemDrive, CreatedOnceOnAFreshPrefix)
{
    TempDir base;
    const DriveMap map(base / "new-prefix");
    EXPECT_TRUE(map.ensureSystemDrive());
    const fs::path link = base / "new-prefix" / "dosdevices" / "c:";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("../drive_c")); // the prefix may move
    EXPECT_TRUE(fs::is_directory(map.resolve("C:\\program files")));
    EXPECT_FALSE(map.ensureSystemDrive());

    // A c: that is already there, even as a plain folder, is left as it is.
    TempDir other;
    fs::create_directories(other / "dosdevices" / "c:");
    EXPECT_FALSE(DriveMap(other.path()).ensureSystemDrive());
    EXPECT_FALSE(fs::exists(other / "drive_c"));
}

} // namespace
} // namespace tarnveil
