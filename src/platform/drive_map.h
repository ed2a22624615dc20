#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

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

    // The folder behind drive `letter` (either case), or nothing when the
    // letter is not mapped. Looks at the prefix only, never at the folder.
    std::optional<std::filesystem::path> folderOf(char letter) const;

    // Every mapped letter (lower case) with its folder, in letter order.
    std::vector<std::pair<char, std::filesystem::path>> mappedDrives() const;

    // Gives drive `letter` the folder `folder`: a new link under a temporary
    // name replaces the old one in one rename, so the letter never names
    // nothing meanwhile. The folder need not be reachable now. Throws Failure
    // for a character that is no letter, for c:, which holds the program, and
    // for a letter whose entry is a folder rather than a link.
    void mapDrive(char letter, const std::filesystem::path& folder) const;

    // Removes drive `letter`'s link; a folder in its place is left alone.
    void unmapDrive(char letter) const;

private:
    std::filesystem::path prefix_;
};

} // namespace tarnveil
