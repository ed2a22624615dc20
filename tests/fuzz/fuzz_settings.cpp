// The settings file as the program reads it at start-up and in the preferences
// window, and as Apply writes it, with the input as ZeVudi.ini. Reading never
// changes a byte of the file; Apply changes the first two bytes only and keeps
// whatever follows them.

#include "program/module1.h"
#include "fuzz_support.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "settings/settings_file.h"

#include <filesystem>

using tarnveil::fuzz::expect;

namespace {

struct Setup {
    std::filesystem::path prefix;
    std::filesystem::path settingsFile;
};

const Setup& setup()
{
    static const Setup prepared = [] {
        Setup s;
        s.prefix = tarnveil::fuzz::scratchFolder() / "prefix";
        tarnveil::DriveMap(s.prefix).ensureSystemDrive();
        s.settingsFile = s.prefix / "drive_c" / "program files" / "Tarnveil" / "ZeVudi.ini";
        return s;
    }();
    return prepared;
}

int16_t digitValue(uint8_t byte)
{
    return byte >= '0' && byte <= '9' ? static_cast<int16_t>(byte - '0') : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Setup& s = setup();
    const std::vector<uint8_t> original(data, data + size);
    tarnveil::DriveMap drives(s.prefix);
    tarnveil::Module1 module(drives);

    // The program folder is created by the first read; the file goes in after it.
    std::filesystem::create_directories(s.settingsFile.parent_path());
    tarnveil::fuzz::writeFile(s.settingsFile, data, size);

    tarnveil::ReadSettings(module);
    expect(module.PlayDevice == (size > 0 ? digitValue(data[0]) : 0), "PlayDevice is not record 1's digit");
    expect(module.LoggerDrive == std::string(1, size > 1 ? static_cast<char>(data[1]) : '\0'),
           "LoggerDrive is not record 2");
    expect(module.SettingsFileNumber == 0, "the settings file stayed open");
    expect(tarnveil::fuzz::readFile(s.settingsFile) == original, "reading the settings changed the file");

    const tarnveil::StoredSettings stored = tarnveil::ReadStoredSettings(module);
    expect(stored.device == module.PlayDevice, "the preferences window reads another device");
    if (size > 1)
        expect(stored.drive == (data[1] == 0 ? std::string() : std::string(1, static_cast<char>(data[1]))),
               "the preferences window reads another drive");
    else
        expect(!stored.drive, "a drive record read beyond the end of the file");
    expect(tarnveil::fuzz::readFile(s.settingsFile) == original, "the preferences window changed the file");

    // Apply with a device number and drive text taken from the input.
    const int32_t device = size > 2 ? data[2] % 12 : 0;
    const std::string driveText = size > 3 ? std::string(reinterpret_cast<const char*>(data) + 3, size - 3) : "";
    const std::string driveBefore = module.LoggerDrive;
    bool refused = false;
    try {
        tarnveil::WriteSettings(module, device, driveText);
    } catch (const tarnveil::Failure& failure) {
        expect(failure.code() == tarnveil::FailureCode::SoundCardNotStorable, "Apply failed for another reason");
        refused = true;
    }
    const std::vector<uint8_t> after = tarnveil::fuzz::readFile(s.settingsFile);
    expect(module.LoggerDrive == driveBefore, "Apply changed the drive in use");
    if (refused || device > 9) {
        expect(refused && after == original, "a device number one digit cannot hold was stored");
        return 0;
    }
    expect(after.size() == std::max<size_t>(size, 2), "Apply changed the file's length beyond two bytes");
    expect(after[0] == '0' + device && module.PlayDevice == device, "record 1 after Apply");
    char drive = driveText.empty() ? ' ' : driveText[0];
    if (drive >= 'a' && drive <= 'z')
        drive = static_cast<char>(drive - 'a' + 'A');
    expect(after[1] == static_cast<uint8_t>(drive), "record 2 after Apply");
    expect(std::equal(after.begin() + 2, after.end(), original.begin() + std::min<size_t>(size, 2)),
           "Apply changed bytes after record 2");
    return 0;
}
