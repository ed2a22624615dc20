#include "platform/drive_map.h"

#include "platform/failure.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace tarnveil {

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Paths reach the error window, so control characters (a NUL drive letter read
// from a fresh settings file above all) must show as something readable.
std::string printable(std::string_view text)
{
    if (text.empty())
        return "(none)";
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            shown += "(none)";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            shown += code;
        } else {
            shown += c;
        }
    }
    return shown;
}

const char* nonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::filesystem::path homeFolder()
{
    if (const char* home = nonEmptyEnv("HOME"))
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

bool entryExists(const std::filesystem::path& entry)
{
    struct stat info {};
    return ::lstat(entry.c_str(), &info) == 0;
}

void createFolders(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw failureFromErrno(error.value(), folder.native());
}

} // namespace

DriveMap::DriveMap(std::filesystem::path prefix) : prefix_(std::move(prefix)) {}

std::filesystem::path DriveMap::defaultPrefix()
{
    if (const char* prefix = nonEmptyEnv("TARNVEIL_PREFIX"))
        return prefix;
    // The base-directory convention ignores relative values of XDG_DATA_HOME.
    if (const char* dataHome = nonEmptyEnv("XDG_DATA_HOME"); dataHome != nullptr && dataHome[0] == '/')
        return std::filesystem::path(dataHome) / "tarnveil";
    return homeFolder() / ".local" / "share" / "tarnveil";
}

std::filesystem::path DriveMap::resolve(std::string_view windowsPath) const
{
    if (windowsPath.size() < 3 || !isAsciiLetter(windowsPath[0]) || windowsPath[1] != ':'
        || windowsPath[2] != '\\')
        throw Failure(FailureCode::NoSuchDrive, printable(windowsPath));

    const char letter = static_cast<char>(windowsPath[0] | 0x20);
    std::filesystem::path root = prefix_ / "dosdevices" / std::string{letter, ':'};
    if (!entryExists(root))
        throw Failure(FailureCode::NoSuchDrive, printable(windowsPath));

    // Both slash kinds separate folders on the drive, so both count when
    // checking that ".." never climbs above the drive root.
    std::vector<std::string_view> components;
    std::string_view rest = windowsPath.substr(3);
    while (!rest.empty()) {
        const size_t end = rest.find_first_of("\\/");
        const std::string_view component = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (components.empty())
                throw Failure(FailureCode::PathEscapesDrive, printable(windowsPath));
            components.pop_back();
            continue;
        }
        components.push_back(component);
    }

    for (std::string_view component : components)
        root /= std::string(component);
    return root;
}

std::optional<std::filesystem::path> DriveMap::folderOf(char letter) const
{
    if (!isAsciiLetter(letter))
        return std::nullopt;
    const std::filesystem::path devices = prefix_ / "dosdevices";
    const std::filesystem::path entry = devices / std::string{static_cast<char>(letter | 0x20), ':'};
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(entry, error);
    if (!error)
        return target.is_absolute() ? target : (devices / target).lexically_normal();
    // A folder standing in the place of a link serves the same.
    if (entryExists(entry))
        return entry;
    return std::nullopt;
}

std::vector<std::pair<char, std::filesystem::path>> DriveMap::mappedDrives() const
{
    std::vector<std::pair<char, std::filesystem::path>> drives;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        if (std::optional<std::filesystem::path> folder = folderOf(letter))
            drives.emplace_back(letter, std::move(*folder));
    }
    return drives;
}

void DriveMap::mapDrive(char letter, const std::filesystem::path& folder) const
{
    if (!isAsciiLetter(letter))
        throw Failure(FailureCode::NoSuchDrive, printable(std::string{letter, ':'}));
    const char lower = static_cast<char>(letter | 0x20);
    if (lower == 'c')
        throw Failure(FailureCode::SystemDriveFixed);

    const std::filesystem::path devices = prefix_ / "dosdevices";
    createFolders(devices);
    const std::filesystem::path link = devices / std::string{lower, ':'};
    // rename() cannot put a link in a folder's place, and the folder may hold
    // what the operator keeps there.
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        throw Failure(FailureCode::PathFileAccessError,
                      printable(link.native()) + " is a folder, not a link: move it away to give "
                          + static_cast<char>(lower & ~0x20) + ": another folder");
    const std::filesystem::path fresh =
        devices / (std::string{'.', lower, ':', '.'} + std::to_string(::getpid()) + ".new");
    ::unlink(fresh.c_str());
    if (::symlink(folder.c_str(), fresh.c_str()) != 0)
        throw failureFromErrno(errno, fresh.native());
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        throw failureFromErrno(error, link.native());
    }
}

void DriveMap::unmapDrive(char letter) const
{
    if (!isAsciiLetter(letter))
        return;
    const std::filesystem::path link = prefix_ / "dosdevices" / std::string{static_cast<char>(letter | 0x20), ':'};
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && ::unlink(link.c_str()) != 0)
        throw failureFromErrno(errno, link.native());
}

bool DriveMap::ensureSystemDrive() const
{
    const std::filesystem::path devices = prefix_ / "dosdevices";
    const std::filesystem::path link = devices / "c:";
    if (entryExists(link))
        return false;

    createFolders(devices);
    createFolders(prefix_ / "drive_c" / "program files");
    if (::symlink("../drive_c", link.c_str()) != 0)
        throw failureFromErrno(errno, link.native());
    return true;
}

} // namespace tarnveil
