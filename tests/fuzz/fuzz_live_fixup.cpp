// The live log's fix-up on a real file built from the input: CurFile names the
// file, FixLiveLogHeader rewrites it in place. Whatever the bytes, the file
// keeps its length, and nothing but the RIFF size (bytes 4-7) and the data
// chunk's size field may change; when the header is not one the walk
// recognises, nothing changes at all.

#include "console/live_log_header.h"
#include "program/module1.h"
#include "console/wave_header.h"
#include "fuzz_support.h"
#include "platform/drive_map.h"
#include "platform/failure.h"

#include <algorithm>
#include <array>
#include <filesystem>

using tarnveil::fuzz::expect;

namespace {

struct Setup {
    std::filesystem::path prefix;
    std::filesystem::path log;
};

const Setup& setup()
{
    static const Setup prepared = [] {
        namespace fs = std::filesystem;
        Setup s;
        s.prefix = tarnveil::fuzz::scratchFolder() / "prefix";
        const fs::path drive = tarnveil::fuzz::makeLoggerDrive(s.prefix);
        const std::string name = ":\\logger\\logs\\live.wav";
        std::array<uint8_t, 128> record{};
        record[0] = static_cast<uint8_t>(name.size());
        std::copy(name.begin(), name.end(), record.begin() + 2);
        tarnveil::fuzz::writeFile(drive / "logger" / "CurFile", record.data(), record.size());
        s.log = drive / "logger" / "logs" / "live.wav";
        return s;
    }();
    return prepared;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Setup& s = setup();
    tarnveil::fuzz::writeFile(s.log, data, size);

    tarnveil::DriveMap drives(s.prefix);
    tarnveil::Module1 module(drives);
    module.LoggerDrive = "L";
    // A regular file that exists and can be written: the fix-up has no reason to fail.
    tarnveil::FixLiveLogHeader(module, "L:\\logger\\logs\\live.wav");
    expect(module.CurrentLogPath == "L:\\logger\\logs\\live.wav", "CurrentLogPath");

    const std::vector<uint8_t> after = tarnveil::fuzz::readFile(s.log);
    expect(after.size() == size, "the fix-up changed the file's length");

    const auto head = std::span<const uint8_t>(data, std::min(size, tarnveil::WaveHeaderReadLimit));
    const std::optional<tarnveil::WaveSizeFix> fix = tarnveil::locateWaveSizes(head, size);
    for (size_t i = 0; i < size; ++i) {
        const bool riffField = fix && i >= 4 && i < 8;
        const bool dataField = fix && i >= fix->dataSizeOffset && i < fix->dataSizeOffset + 4;
        if (!riffField && !dataField)
            expect(after[i] == data[i], "a byte outside the two size fields changed");
    }
    if (fix) {
        const auto le32 = [](const uint8_t* bytes, size_t at) {
            return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16
                | uint32_t{bytes[at + 3]} << 24;
        };
        // A header that already claims at least as much is the logger's last word: never made to claim less.
        const bool claimedEnough = le32(data, 4) >= fix->riffSize || le32(data, fix->dataSizeOffset) >= fix->dataSize;
        if (claimedEnough) {
            expect(std::equal(after.begin(), after.end(), data), "a header claiming enough was written");
        } else {
            expect(le32(after.data(), 4) == fix->riffSize, "RIFF size written");
            expect(le32(after.data(), fix->dataSizeOffset) == fix->dataSize, "data size written");
        }
    }
    return 0;
}
