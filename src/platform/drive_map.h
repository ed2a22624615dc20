#pragma once

#include <filesystem>
#include <string_view>

namespace tarnveil {

// Maps the fixed Windows-style paths the console works with ("L:\logger\logs")
// onto a prefix folder whose dosdevices/ holds one entry per drive letter
// ("l:" -> /mnt/logger), the way Linux users know from running Windows programs.
class DriveMap {
public:
    explicit DriveMap(std::filesystem::path prefix);

    // $TARNVEIL_PREFIX, else $XDG_DATA_HOME/tarnveil, else ~/.local/share/tarnveil.
    static std::filesystem::path defaultPrefix();

    const std::filesystem::path& prefix() const { return prefix_; }

    // "X:\a\b" -> <prefix>/dosdevices/x:/a/b. Throws Failure when the drive
    // character is not a letter, the letter has no entry, or ".." would leave the drive.
    std::filesystem::path resolve(std::string_view windowsPath) const;

    // Creates the prefix with drive_c/program files and the link dosdevices/c:
    // when the prefix has no c: yet. Returns true when it created them.
    bool ensureSystemDrive() const;

private:
    std::filesystem::path prefix_;
};

} // namespace tarnveil
