#include "console/cur_file.h"

#include "platform/failure.h"

namespace tarnveil {

std::string parseCurFile(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return {};
    // A count cut short after its first byte reads its missing byte as 0, the
    // way any byte beyond the end of a record file does.
    const size_t count = bytes[0] | (bytes.size() > 1 ? static_cast<size_t>(bytes[1]) << 8 : 0);
    if (count > CurFileMaxName)
        throw Failure(FailureCode::InvalidFileFormat, "CurFile names " + std::to_string(count) + " characters");
    if (count == 0)
        return {};
    if (bytes.size() < 2 + count)
        throw Failure(FailureCode::InputPastEnd, "CurFile");
    return std::string(reinterpret_cast<const char*>(bytes.data()) + 2, count);
}

} // namespace tarnveil
