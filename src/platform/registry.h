#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarnveil {

// The registry the console reads lives in a text file, <prefix>/system.reg, in the
// format registry editors export ("REGEDIT4" or "Windows Registry Editor Version
// 5.00"). Only HKEY_LOCAL_MACHINE is held; key and value names are matched without
// regard to letter case, as Windows does. The file is read, never written, except
// for the first-start default below.
class Registry {
public:
    static constexpr uint32_t HKEY_LOCAL_MACHINE = 0x80000002u;

    static constexpr uint32_t REG_NONE = 0;
    static constexpr uint32_t REG_SZ = 1;
    static constexpr uint32_t REG_EXPAND_SZ = 2;
    static constexpr uint32_t REG_BINARY = 3;
    static constexpr uint32_t REG_DWORD = 4;

    // Result codes as the Windows registry calls return them.
    static constexpr int32_t ERROR_SUCCESS = 0;
    static constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
    static constexpr int32_t ERROR_ACCESS_DENIED = 5;
    static constexpr int32_t ERROR_INVALID_HANDLE = 6;
    static constexpr int32_t ERROR_MORE_DATA = 234;

    struct Value {
        uint32_t type = REG_NONE;
        std::vector<uint8_t> data;
    };
    struct Key {
        std::map<std::string, Value> values; // by lower-case name; "" is the default value
    };
    using KeyHandle = const Key*;

    // An empty registry: every key open fails with ERROR_FILE_NOT_FOUND.
    Registry() = default;

    // Reads the file. A missing file holds no keys; a file that exists but cannot
    // be read refuses every open with ERROR_ACCESS_DENIED, which is all the
    // permission model this stand-in has.
    static Registry load(const std::filesystem::path& file);

    // Parses the text of an exported registry file. Malformed lines are skipped.
    static Registry parse(std::string_view text);

    // The three calls of the registry API, with their result codes. Options and the
    // access mask are accepted and not checked. `size` is the buffer's size on entry
    // and the value's size on return (also when the buffer was too small).
    int32_t openKey(uint32_t root, std::string_view subKey, uint32_t options, uint32_t accessMask,
                    KeyHandle& result) const;
    int32_t queryValue(KeyHandle key, std::string_view valueName, uint32_t& type, uint8_t* data,
                       uint32_t& size) const;
    int32_t closeKey(KeyHandle key) const;

    std::size_t keyCount() const { return keys_.size(); }

private:
    void addKey(const std::string& lowerPath);

    std::map<std::string, Key> keys_; // by lower-case path below HKEY_LOCAL_MACHINE
    bool unreadable_ = false;
};

// <prefix>/system.reg
std::filesystem::path systemRegistryFile(const std::filesystem::path& prefix);

// Reads value SubKeyRef of key KeyName below KeyRoot into KeyVal. Returns -1 when
// the key was opened and the value read, 0 otherwise. Text values come back without
// their terminating NUL; a 4-byte number comes back as "&h" and its hex digits, most
// significant byte first; values of any other type leave KeyVal as it was.
// Throws Failure for a value of length 0.
int16_t GetKeyValue(const Registry& registry, uint32_t KeyRoot, const std::string& KeyName,
                    const std::string& SubKeyRef, std::string& KeyVal);

// First start: when <prefix>/system.reg does not exist yet and a system-information
// program is installed (searched in PATH), writes a system.reg whose
// "SOFTWARE\Microsoft\Shared Tools\MSINFO" value "PATH" names that program. With no
// such program no file is written. Never overwrites an existing file.
void writeDefaultSystemReg(const std::filesystem::path& prefix) noexcept;

// Same, with the folders to search given explicitly (the PATH list, split).
void writeDefaultSystemReg(const std::filesystem::path& prefix,
                           const std::vector<std::filesystem::path>& searchFolders) noexcept;

} // namespace tarnveil
