#include "cur_file.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace tarnveil::logger {

std::array<uint8_t, CurFileRecordBytes> curFileRecord(std::string_view text)
{
    if (text.size() > CurFileMaxText)
        throw std::length_error("a CurFile record holds at most 126 characters");
    std::array<uint8_t, CurFileRecordBytes> record{};
    record[0] = static_cast<uint8_t>(text.size());
    record[1] = static_cast<uint8_t>(text.size() >> 8);
    std::memcpy(record.data() + 2, text.data(), text.size());
    return record;
}

void writeCurFile(const std::filesystem::path& loggerFolder, std::string_view text)
{
    const auto record = curFileRecord(text);
    const auto target = loggerFolder / "CurFile";
    const auto temporary = loggerFolder / ".CurFile.new";
    const auto fail = [&](const char* what) {
        return std::system_error(errno, std::generic_category(), std::string(what) + " " + temporary.string());
    };
    {
        UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd)
            throw fail("cannot create");
        ssize_t done;
        do {
            done = ::write(fd.get(), record.data(), record.size());
        } while (done < 0 && errno == EINTR);
        if (done != static_cast<ssize_t>(record.size()))
            throw fail("cannot write");
        // Without this a crash right after the rename could leave an empty CurFile.
        if (::fsync(fd.get()) != 0 && errno != EINVAL)
            throw fail("cannot flush");
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot replace " + target.string());
}

} // namespace tarnveil::logger
