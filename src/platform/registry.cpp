#include "platform/registry.h"

#include "platform/failure.h"
#include "platform/hex_digit.h"
#include "platform/text_encoding.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace tarnveil {

namespace {

// READ_CONTROL with query, set, create-subkey, enumerate, notify and create-link
// rights: what the About window has always asked for.
constexpr uint32_t AboutKeyAccess = 0x2003F;

constexpr std::size_t ValueBufferSize = 1024;

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    });
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && lowered(a) == lowered(b);
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Key paths compare in lower case and without trailing separators.
std::string normalisedKeyPath(std::string_view path)
{
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return lowered(path);
}

bool isRegedit4(std::string_view text)
{
    constexpr std::string_view header = "REGEDIT4";
    return text.starts_with(header)
        && (text.size() == header.size() || text[header.size()] == '\r' || text[header.size()] == '\n');
}

// A quoted string starting at text[0] == '"'. Returns the text and moves `text`
// past the closing quote; nullopt when the quote is never closed.
std::optional<std::string> takeQuoted(std::string_view& text)
{
    std::string out;
    std::size_t i = 1;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return std::nullopt;
}

// "aa,bb, cc" -> bytes; nullopt on anything that is not a byte list.
std::optional<std::vector<uint8_t>> parseHexList(std::string_view text)
{
    std::vector<uint8_t> bytes;
    text = trimRight(trimLeft(text));
    if (text.empty())
        return bytes;
    while (true) {
        text = trimLeft(text);
        if (text.size() < 2)
            return std::nullopt;
        const int hi = hexDigit(text[0]);
        const int lo = hexDigit(text[1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
        text = trimLeft(text.substr(2));
        if (text.empty())
            return bytes;
        if (text.front() != ',')
            return std::nullopt;
        text.remove_prefix(1);
        if (trimLeft(text).empty())
            return bytes; // a trailing comma is what a joined continuation leaves
    }
}

std::optional<Registry::Value> parseData(std::string_view text)
{
    Registry::Value value;
    if (!text.empty() && text.front() == '"') {
        auto s = takeQuoted(text);
        if (!s)
            return std::nullopt;
        value.type = Registry::REG_SZ;
        value.data.assign(s->begin(), s->end());
        value.data.push_back(0); // stored as Windows stores it, with its terminator
        return value;
    }
    if (text.size() >= 6 && equalsNoCase(text.substr(0, 6), "dword:")) {
        const std::string_view digits = trimRight(text.substr(6));
        if (digits.empty() || digits.size() > 8)
            return std::nullopt;
        uint32_t number = 0;
        for (char c : digits) {
            const int d = hexDigit(c);
            if (d < 0)
                return std::nullopt;
            number = number * 16 + static_cast<uint32_t>(d);
        }
        value.type = Registry::REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
        return value;
    }
    if (text.size() >= 4 && equalsNoCase(text.substr(0, 4), "hex:")) {
        auto bytes = parseHexList(text.substr(4));
        if (!bytes)
            return std::nullopt;
        value.type = Registry::REG_BINARY;
        value.data = std::move(*bytes);
        return value;
    }
    if (text.size() >= 4 && equalsNoCase(text.substr(0, 4), "hex(")) {
        const std::size_t close = text.find(')');
        if (close == std::string_view::npos || close == 4 || close > 12 || close + 1 >= text.size()
            || text[close + 1] != ':')
            return std::nullopt;
        uint32_t type = 0;
        for (char c : text.substr(4, close - 4)) {
            const int d = hexDigit(c);
            if (d < 0)
                return std::nullopt;
            type = type * 16 + static_cast<uint32_t>(d);
        }
        auto bytes = parseHexList(text.substr(close + 2));
        if (!bytes)
            return std::nullopt;
        value.type = type;
        value.data = std::move(*bytes);
        return value;
    }
    return std::nullopt;
}

std::vector<std::string> logicalLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::string pending;
    bool continuing = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        line = trimRight(line);
        if (continuing)
            line = trimLeft(line);
        const bool comment = !continuing && !trimLeft(line).empty() && trimLeft(line).front() == ';';
        const bool continues = !comment && !line.empty() && line.back() == '\\';
        if (continues)
            line.remove_suffix(1);
        pending += line;
        continuing = continues;
        if (!continuing) {
            lines.push_back(std::move(pending));
            pending.clear();
        }
    }
    if (!pending.empty())
        lines.push_back(std::move(pending));
    return lines;
}

// Which key a [...] line opens: the path below HKEY_LOCAL_MACHINE, or nullopt for
// other roots and malformed lines.
std::optional<std::string> keyPathOf(std::string_view inner)
{
    const std::size_t slash = inner.find('\\');
    const std::string_view root = inner.substr(0, slash);
    if (!equalsNoCase(root, "HKEY_LOCAL_MACHINE") && !equalsNoCase(root, "HKLM"))
        return std::nullopt;
    return normalisedKeyPath(slash == std::string_view::npos ? std::string_view{} : inner.substr(slash + 1));
}

} // namespace

void Registry::addKey(const std::string& lowerPath)
{
    keys_.try_emplace(lowerPath);
    // Windows opens every key on the way to a stored one.
    for (std::size_t slash = lowerPath.rfind('\\'); slash != std::string::npos && slash > 0;
         slash = lowerPath.rfind('\\', slash - 1))
        keys_.try_emplace(lowerPath.substr(0, slash));
    keys_.try_emplace(std::string{});
}

Registry Registry::parse(std::string_view text)
{
    Registry registry;
    std::string converted;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF
        && static_cast<unsigned char>(text[1]) == 0xFE) {
        converted = utf16leToUtf8(text.substr(2));
        text = converted;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    } else if (isRegedit4(text) && !isValidUtf8(text)) {
        // Earlier versions of the console wrote REGEDIT4 files holding a path's
        // own bytes, UTF-8 on Linux; an ANSI export is read as ANSI.
        converted = windows1252ToUtf8(text);
        text = converted;
    }

    std::optional<std::string> current;
    for (const std::string& full : logicalLines(text)) {
        std::string_view line = trimLeft(full);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            current.reset();
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos)
                continue;
            std::string_view inner = line.substr(1, close - 1);
            if (!inner.empty() && inner.front() == '-') {
                // A removal line: drop the key and everything below it.
                if (auto path = keyPathOf(inner.substr(1)); path && !path->empty()) {
                    const std::string below = *path + "\\";
                    for (auto it = registry.keys_.begin(); it != registry.keys_.end();) {
                        if (it->first == *path || it->first.starts_with(below))
                            it = registry.keys_.erase(it);
                        else
                            ++it;
                    }
                }
                continue;
            }
            current = keyPathOf(inner);
            if (current)
                registry.addKey(*current);
            continue;
        }
        if (!current || (line.front() != '"' && line.front() != '@'))
            continue; // headers, values outside a held key, stray text

        std::string name;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else {
            auto quoted = takeQuoted(line);
            if (!quoted)
                continue;
            name = std::move(*quoted);
        }
        line = trimLeft(line);
        if (line.empty() || line.front() != '=')
            continue;
        line = trimRight(trimLeft(line.substr(1)));
        Key& key = registry.keys_[*current];
        if (line == "-") {
            key.values.erase(lowered(name));
            continue;
        }
        if (auto value = parseData(line))
            key.values[lowered(name)] = std::move(*value);
    }
    return registry;
}

Registry Registry::load(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Registry registry;
        registry.unreadable_ = errno != ENOENT && errno != ENOTDIR;
        return registry;
    }
    std::string text;
    char chunk[65536];
    bool failed = false;
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (failed) {
        Registry registry;
        registry.unreadable_ = true;
        return registry;
    }
    return parse(text);
}

int32_t Registry::openKey(uint32_t root, std::string_view subKey, uint32_t /*options*/,
                          uint32_t /*accessMask*/, KeyHandle& result) const
{
    result = nullptr;
    if (unreadable_)
        return ERROR_ACCESS_DENIED;
    if (root != HKEY_LOCAL_MACHINE)
        return ERROR_FILE_NOT_FOUND;
    const auto it = keys_.find(normalisedKeyPath(subKey));
    if (it == keys_.end())
        return ERROR_FILE_NOT_FOUND;
    result = &it->second;
    return ERROR_SUCCESS;
}

int32_t Registry::queryValue(KeyHandle key, std::string_view valueName, uint32_t& type, uint8_t* data,
                             uint32_t& size) const
{
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    const auto it = key->values.find(lowered(valueName));
    if (it == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    const Value& value = it->second;
    type = value.type;
    const auto needed = static_cast<uint32_t>(value.data.size());
    if (data != nullptr && needed > size) {
        size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0)
        std::memcpy(data, value.data.data(), needed);
    size = needed;
    return ERROR_SUCCESS;
}

int32_t Registry::closeKey(KeyHandle /*key*/) const
{
    return ERROR_SUCCESS;
}

std::filesystem::path systemRegistryFile(const std::filesystem::path& prefix)
{
    return prefix / "system.reg";
}

int16_t GetKeyValue(const Registry& registry, uint32_t KeyRoot, const std::string& KeyName,
                    const std::string& SubKeyRef, std::string& KeyVal)
{
    Registry::KeyHandle hKey = nullptr;
    // The handle is closed on every way out, the failure's included.
    struct Closer {
        const Registry& registry;
        Registry::KeyHandle& handle;
        ~Closer() { registry.closeKey(handle); }
    } closer{registry, hKey};

    if (registry.openKey(KeyRoot, KeyName, 0, AboutKeyAccess, hKey) != Registry::ERROR_SUCCESS) {
        KeyVal.clear();
        return 0;
    }

    std::string tmpVal(ValueBufferSize, '\0');
    auto KeyValSize = static_cast<uint32_t>(ValueBufferSize);
    uint32_t KeyValType = 0;
    if (registry.queryValue(hKey, SubKeyRef, KeyValType, reinterpret_cast<uint8_t*>(tmpVal.data()),
                            KeyValSize)
        != Registry::ERROR_SUCCESS) {
        KeyVal.clear();
        return 0;
    }

    // Looking at the character at position 0 is an invalid call, as it always was.
    if (KeyValSize == 0)
        throw Failure(FailureCode::InvalidArgument, "registry value " + SubKeyRef + " is empty");
    if (tmpVal[KeyValSize - 1] == '\0')
        tmpVal.resize(KeyValSize - 1);
    else
        tmpVal.resize(KeyValSize);

    switch (KeyValType) {
    case Registry::REG_SZ:
        KeyVal = tmpVal;
        break;
    case Registry::REG_DWORD: {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string text = "&h";
        for (auto i = tmpVal.size(); i > 0; --i) {
            const auto byte = static_cast<unsigned char>(tmpVal[i - 1]);
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
        }
        KeyVal = text;
        break;
    }
    default:
        break; // other types leave the caller's text
    }
    return -1;
}

namespace {

std::string escapedRegString(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace

void writeDefaultSystemReg(const std::filesystem::path& prefix,
                           const std::vector<std::filesystem::path>& searchFolders) noexcept
{
    try {
        const std::filesystem::path file = systemRegistryFile(prefix);
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
            return;

        // System-information programs of the common desktops, most informative first.
        static constexpr const char* candidates[] = {
            "hardinfo2", "hardinfo", "kinfocenter", "lshw-gtk", "gnome-system-monitor",
            "mate-system-monitor", "xfce4-taskmanager",
        };
        std::filesystem::path found;
        for (const char* name : candidates) {
            for (const auto& folder : searchFolders) {
                if (folder.empty() || !folder.is_absolute())
                    continue;
                const std::filesystem::path candidate = folder / name;
                if (std::filesystem::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) {
                    found = candidate;
                    break;
                }
            }
            if (!found.empty())
                break;
        }
        if (found.empty())
            return;

        // Version 5 keeps the path's own bytes; REGEDIT4 would read them as ANSI.
        const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n"
                                 "\"PATH\"=\""
            + escapedRegString(found.string()) + "\"\n";
        // O_EXCL: an existing file is never replaced, even one created meanwhile.
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        std::size_t written = 0;
        bool failed = false;
        while (written < text.size()) {
            const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed = true;
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        ::close(fd);
        if (failed)
            std::filesystem::remove(file, ec); // a half-written registry would mislead
    } catch (...) {
        // First-start convenience only: without the file the About window says the
        // tool is unavailable.
    }
}

void writeDefaultSystemReg(const std::filesystem::path& prefix) noexcept
{
    std::vector<std::filesystem::path> folders;
    try {
        if (const char* path = std::getenv("PATH")) {
            std::string_view rest(path);
            while (true) {
                const std::size_t colon = rest.find(':');
                const std::string_view entry = rest.substr(0, colon);
                if (!entry.empty())
                    folders.emplace_back(entry);
                if (colon == std::string_view::npos)
                    break;
                rest.remove_prefix(colon + 1);
            }
        }
    } catch (...) {
        return;
    }
    writeDefaultSystemReg(prefix, folders);
}

} // namespace tarnveil
