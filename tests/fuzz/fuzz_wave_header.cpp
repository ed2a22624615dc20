// The chunk walk that finds a live log's two size fields, over arbitrary bytes.
// Besides memory safety it checks what the fix-up relies on: the data size
// field lies inside the bytes read and under a "data" tag, the RIFF size says
// length - 8, and the data size never claims more than the file holds.

#include "console/wave_header.h"
#include "fuzz_support.h"

#include <cstring>
#include <span>

using tarnveil::fuzz::expect;

namespace {

void check(std::span<const uint8_t> head, uint64_t fileLength)
{
    const std::optional<tarnveil::WaveSizeFix> fix = tarnveil::locateWaveSizes(head, fileLength);
    if (!fix)
        return;
    const uint64_t available = std::min<uint64_t>(head.size(), fileLength);
    expect(fix->dataSizeOffset >= 16, "data size field inside the RIFF header");
    expect(fix->dataSizeOffset + 4 <= available, "data size field beyond the bytes read");
    expect(std::memcmp(head.data() + fix->dataSizeOffset - 4, "data", 4) == 0, "data size field not under a data tag");
    expect(fileLength <= 0xFFFFFFFFu, "sizes for a file of 4 GiB or more");
    expect(fix->riffSize == fileLength - 8, "RIFF size is not length - 8");
    expect(fix->dataSize <= fileLength - (fix->dataSizeOffset + 4), "data size beyond the end of the file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    // The whole file read.
    check(bytes, size);
    // The header read of a longer file (the logger appends while we look), and
    // of one shorter than what was read (cut short after the length was taken).
    if (size >= 4) {
        uint32_t extra = 0;
        std::memcpy(&extra, data + size - 4, 4);
        check(bytes.first(size - 4), size - 4 + uint64_t{extra});
        check(bytes, size / 2);
        check(bytes, 0xFFFFFFFFull);
        check(bytes, 0x100000000ull);
    }
    return 0;
}
