#include "settings/settings_file.h"

#include "program/module1.h"
#include "platform/drive_map.h"
#include "platform/failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tarnveil {

namespace {

constexpr off_t DeviceRecord = 1;
constexpr off_t DriveRecord = 2;

// One access to the file of one-byte records: opened (created empty when
// missing, never truncated) for the life of the object and closed on every way
// out, so no descriptor outlives an access.
class SettingsAccess {
public:
    explicit SettingsAccess(Module1& module) : module_(module)
    {
        const std::filesystem::path file = module.drives.resolve(SettingsFilePath);
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            throw fileFailure(errno, file, SettingsFilePath);
        module_.SettingsFileNumber = fd_;
    }
    ~SettingsAccess()
    {
        ::close(fd_);
        module_.SettingsFileNumber = 0;
    }
    SettingsAccess(const SettingsAccess&) = delete;
    SettingsAccess& operator=(const SettingsAccess&) = delete;

    // Returns false when the record lies beyond the end of the file; the record
    // then reads as one NUL character.
    bool read(off_t record)
    {
        char byte = '\0';
        ssize_t got;
        do {
            got = ::pread(fd_, &byte, 1, record - 1);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            throw failureFromErrno(errno, SettingsFilePath);
        module_.SettingsRecord.assign(1, got == 1 ? byte : '\0');
        return got == 1;
    }

    void write(off_t record, char byte)
    {
        module_.SettingsRecord.assign(1, byte);
        ssize_t put;
        do {
            put = ::pwrite(fd_, &byte, 1, record - 1);
        } while (put < 0 && errno == EINTR);
        if (put < 0)
            throw failureFromErrno(errno, SettingsFilePath);
        if (put != 1)
            throw Failure(FailureCode::DeviceIoError, SettingsFilePath);
    }

private:
    Module1& module_;
    int fd_ = -1;
};

// The numeric reading of a one-character text: a digit is its value, anything
// else (blank, NUL, letter) reads as no number at all.
int16_t numericValue(const std::string& record)
{
    if (!record.empty() && record[0] >= '0' && record[0] <= '9')
        return static_cast<int16_t>(record[0] - '0');
    return 0;
}

char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

void prepareProgramFolder(const DriveMap& drives)
{
    const std::filesystem::path folder = drives.resolve(ProgramFolder);
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return;
    // One level only: a missing "program files" is a broken installation, not
    // something to paper over.
    if (::mkdir(folder.c_str(), 0755) != 0) {
        const int error = errno;
        if (error == ENOENT)
            throw Failure(FailureCode::PathNotFound, ProgramFolder);
        throw failureFromErrno(error, ProgramFolder);
    }
}

} // namespace

void ReadSettings(Module1& module)
{
    prepareProgramFolder(module.drives);
    SettingsAccess file(module);
    file.read(DeviceRecord);
    module.PlayDevice = numericValue(module.SettingsRecord);
    file.read(DriveRecord);
    module.LoggerDrive = module.SettingsRecord;
}

void WriteSettings(Module1& module, int32_t deviceNumber, const std::string& driveText)
{
    // One digit is all the file holds; cutting "12" to "1" would silently
    // switch the operator to another sound card.
    if (deviceNumber < 0 || deviceNumber > 9)
        throw Failure(FailureCode::SoundCardNotStorable, std::to_string(deviceNumber));

    SettingsAccess file(module);
    file.write(DeviceRecord, static_cast<char>('0' + deviceNumber));
    module.PlayDevice = numericValue(module.SettingsRecord);
    file.write(DriveRecord, driveText.empty() ? ' ' : upperAscii(driveText[0]));
}

StoredSettings ReadStoredSettings(Module1& module) noexcept
{
    StoredSettings stored;
    try {
        SettingsAccess file(module);
        try {
            // A record beyond the end reads as NUL, whose value selects entry 0.
            file.read(DeviceRecord);
            stored.device = numericValue(module.SettingsRecord);
        } catch (const Failure&) {
        }
        try {
            if (file.read(DriveRecord)) {
                // The drive box shows text only up to a NUL, like any C string.
                const std::string& record = module.SettingsRecord;
                stored.drive = record[0] == '\0' ? std::string() : record;
            }
        } catch (const Failure&) {
        }
    } catch (const std::exception&) {
        // The window shows what it could read; failures here stay silent.
    }
    return stored;
}

} // namespace tarnveil
