#include "settings/settings_file.h"

#include "program/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"

#include "support/temp_dir.h"
#include "support/wav_fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarnveil {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

using Bytes = std::vector<uint8_t>;

size_t openDescriptors()
{
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class SettingsFileTest : public testing::Test {
protected:
    SettingsFileTest() : drives(prefix.path()), module(drives) { drives.ensureSystemDrive(); }

    fs::path programFolder() const { return prefix / "drive_c" / "program files" / "Tarnveil"; }
    fs::path settingsFile() const { return programFolder() / "ZeVudi.ini"; }

    void store(const Bytes& bytes)
    {
        fs::create_directories(programFolder());
        writeBytes(settingsFile(), bytes);
    }

    TempDir prefix;
    DriveMap drives;
    Module1 module;
};

TEST_F(SettingsFileTest, FirstRunCreatesFolderAndEmptyFile)
{
    ASSERT_FALSE(fs::exists(programFolder()));
    module.PlayDevice = 7;
    ReadSettings(module);

    EXPECT_TRUE(fs::is_directory(programFolder()));
    ASSERT_TRUE(fs::is_regular_file(settingsFile()));
    EXPECT_EQ(fs::file_size(settingsFile()), 0u);
    EXPECT_EQ(module.PlayDevice, 0);
    EXPECT_EQ(module.LoggerDrive, std::string(1, '\0'));
    EXPECT_EQ(module.SettingsRecord, std::string(1, '\0'));
    EXPECT_EQ(module.SettingsFileNumber, 0);
}

TEST_F(SettingsFileTest, ReadsDigitAndLetterAndNothingElse)
{
    store({'3', 'L', 'x', 'y'});
    ReadSettings(module);
    EXPECT_EQ(module.PlayDevice, 3);
    EXPECT_EQ(module.LoggerDrive, "L");
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'3', 'L', 'x', 'y'}));

    // Anything but a digit reads as device 0; a record beyond the end as NUL.
    for (const uint8_t device : {uint8_t(' '), uint8_t('\0'), uint8_t('A'), uint8_t(0xFF)}) {
        store({device});
        module.PlayDevice = 5;
        ReadSettings(module);
        EXPECT_EQ(module.PlayDevice, 0) << int(device);
        EXPECT_EQ(module.LoggerDrive, std::string(1, '\0'));
    }
}

TEST_F(SettingsFileTest, EveryStorableDeviceRoundTrips)
{
    ReadSettings(module);
    for (int32_t device = 0; device <= 9; ++device) {
        WriteSettings(module, device, "l");
        EXPECT_EQ(module.PlayDevice, device);
        Module1 restarted(drives);
        ReadSettings(restarted);
        EXPECT_EQ(restarted.PlayDevice, device);
        EXPECT_EQ(restarted.LoggerDrive, "L");
    }
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'9', 'L'}));
}

TEST_F(SettingsFileTest, DeviceAboveNineIsRefusedAndNothingWritten)
{
    store({'2', 'L'});
    module.PlayDevice = 2;
    for (const int32_t device : {10, 12, -1, 2147483647}) {
        try {
            WriteSettings(module, device, "m");
            FAIL() << device << " stored";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), FailureCode::SoundCardNotStorable);
        }
    }
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'2', 'L'}));
    EXPECT_EQ(module.PlayDevice, 2);
    EXPECT_EQ(module.SettingsFileNumber, 0);
}

TEST_F(SettingsFileTest, DriveIsStoredUpperCasedAndEmptyAsBlank)
{
    ReadSettings(module);
    module.LoggerDrive = "L";
    WriteSettings(module, 1, "d");
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'1', 'D'}));
    EXPECT_EQ(module.LoggerDrive, "L") << "a new drive takes effect at the next start";
    EXPECT_EQ(module.SettingsRecord, "D");

    WriteSettings(module, 1, "efg");
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'1', 'E'}));

    WriteSettings(module, 0, "");
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'0', ' '}));
    Module1 restarted(drives);
    ReadSettings(restarted);
    EXPECT_EQ(restarted.LoggerDrive, " ");
}

TEST_F(SettingsFileTest, LongerFileKeepsItsTail)
{
    store({'0', 'L', '\n', 'k', 'e', 'e', 'p'});
    WriteSettings(module, 6, "q");
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'6', 'Q', '\n', 'k', 'e', 'e', 'p'}));
}

TEST_F(SettingsFileTest, ManyAccessesLeaveNoDescriptorOpen)
{
    ReadSettings(module);
    const size_t before = openDescriptors();
    for (int i = 0; i < 500; ++i) {
        WriteSettings(module, i % 10, "l");
        ReadSettings(module);
        ReadStoredSettings(module);
        EXPECT_THROW(WriteSettings(module, 42, "l"), Failure);
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(module.SettingsFileNumber, 0);
    EXPECT_EQ(readBytes(settingsFile()), (Bytes{'9', 'L'}));
}

TEST_F(SettingsFileTest, UnusableProgramFolderFails)
{
    fs::remove_all(prefix / "drive_c" / "program files");
    try {
        ReadSettings(module);
        FAIL() << "settings read without a program files folder";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PathNotFound);
    }
    EXPECT_FALSE(fs::exists(prefix / "drive_c" / "program files"));

    // Something that is not a file where the settings file belongs stays as it is.
    fs::create_directories(settingsFile());
    EXPECT_THROW(ReadSettings(module), Failure);
    EXPECT_THROW(WriteSettings(module, 1, "l"), Failure);
    EXPECT_TRUE(fs::is_directory(settingsFile()));
    EXPECT_EQ(module.SettingsFileNumber, 0);
}

TEST_F(SettingsFileTest, StoredSettingsForThePreferencesWindow)
{
    // Empty file: entry 0 and an empty drive box.
    store({});
    StoredSettings stored = ReadStoredSettings(module);
    EXPECT_EQ(stored.device, std::optional<int16_t>(0));
    EXPECT_EQ(stored.drive, std::nullopt);

    store({'2', 'e', 'z'});
    stored = ReadStoredSettings(module);
    EXPECT_EQ(stored.device, std::optional<int16_t>(2));
    EXPECT_EQ(stored.drive, std::optional<std::string>("e"));

    store({'7'});
    stored = ReadStoredSettings(module);
    EXPECT_EQ(stored.device, std::optional<int16_t>(7));
    EXPECT_EQ(stored.drive, std::nullopt);

    store({'1', '\0'});
    EXPECT_EQ(ReadStoredSettings(module).drive, std::optional<std::string>(""));

    // Unopenable: nothing to show, no failure, no folder created.
    fs::remove_all(programFolder());
    stored = ReadStoredSettings(module);
    EXPECT_EQ(stored.device, std::nullopt);
    EXPECT_EQ(stored.drive, std::nullopt);
    EXPECT_FALSE(fs::exists(programFolder()));
    EXPECT_EQ(module.SettingsFileNumber, 0);
}

} // namespace
} // namespace tarnveil
