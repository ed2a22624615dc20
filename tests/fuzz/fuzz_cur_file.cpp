// The logger's CurFile, as bytes and as the file FixLiveLogHeader reads. The
// parse either gives exactly the n bytes after the count or fails with the
// documented failure; through the file, CurrentLogPath is the drive letter and
// that name, and a log that the name does not match exactly is never written.

#include "console/cur_file.h"
#include "console/live_log_header.h"
#include "program/module1.h"
#include "fuzz_support.h"
#include "platform/drive_map.h"
#include "platform/failure.h"

#include <array>
#include <cstring>
#include <filesystem>

using tarnveil::fuzz::expect;

namespace {

struct Setup {
    std::filesystem::path prefix;
    std::filesystem::path curFile;
    std::filesystem::path log;
    std::vector<uint8_t> logBytes;
};

// A recording in progress: canonical 46-byte header with stale sizes and 100 bytes of audio.
std::vector<uint8_t> liveLogBytes()
{
    std::vector<uint8_t> bytes(46 + 100, 0x11);
    const uint8_t header[46] = {'R', 'I', 'F', 'F', 38, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                18, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0,
                                2, 0, 16, 0, 0, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    std::memcpy(bytes.data(), header, sizeof header);
    return bytes;
}

const Setup& setup()
{
    static const Setup prepared = [] {
        namespace fs = std::filesystem;
        Setup s;
        s.prefix = tarnveil::fuzz::scratchFolder() / "prefix";
        const fs::path drive = tarnveil::fuzz::makeLoggerDrive(s.prefix);
        s.curFile = drive / "logger" / "CurFile";
        s.log = drive / "logger" / "logs" / "live.wav";
        s.logBytes = liveLogBytes();
        return s;
    }();
    return prepared;
}

// What parsing `bytes` gives, or the failure's number.
struct Parsed {
    std::string name;
    int failure = 0;
};

Parsed parse(std::span<const uint8_t> bytes)
{
    try {
        return {tarnveil::parseCurFile(bytes), 0};
    } catch (const tarnveil::Failure& failure) {
        return {{}, failure.number()};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    const Parsed parsed = parse(bytes);
    const size_t count = size == 0 ? 0 : data[0] | (size > 1 ? size_t{data[1]} << 8 : 0);
    if (count > tarnveil::CurFileMaxName) {
        expect(parsed.failure == static_cast<int>(tarnveil::FailureCode::InvalidFileFormat), "n > 126 accepted");
    } else if (count > 0 && size < 2 + count) {
        expect(parsed.failure == static_cast<int>(tarnveil::FailureCode::InputPastEnd), "short name accepted");
    } else {
        expect(parsed.failure == 0, "a well-formed CurFile refused");
        expect(parsed.name.size() == count, "name length is not n");
        expect(count == 0 || std::memcmp(parsed.name.data(), data + 2, count) == 0, "name differs from the bytes");
    }

    // The same bytes as the logger's file, beside a live log that only an
    // exact name may touch.
    const Setup& s = setup();
    tarnveil::fuzz::writeFile(s.curFile, data, size);
    tarnveil::fuzz::writeFile(s.log, s.logBytes.data(), s.logBytes.size());
    tarnveil::DriveMap drives(s.prefix);
    tarnveil::Module1 module(drives);
    module.LoggerDrive = "L";
    const std::string selected = "L:\\logger\\logs\\live.wav";
    const Parsed throughFile = parse(bytes.first(std::min(size, tarnveil::CurFileReadSize)));
    int failure = 0;
    try {
        tarnveil::FixLiveLogHeader(module, selected);
    } catch (const tarnveil::Failure& caught) {
        failure = caught.number();
    }
    expect(failure == throughFile.failure, "FixLiveLogHeader and the parse disagree");
    if (failure == 0)
        expect(module.CurrentLogPath == "L" + throughFile.name, "CurrentLogPath is not the letter and the name");

    const std::vector<uint8_t> after = tarnveil::fuzz::readFile(s.log);
    const bool live = failure == 0 && module.CurrentLogPath == selected;
    if (live) {
        expect(after.size() == s.logBytes.size(), "the live log changed length");
        expect(after[4] == 138 && after[42] == 100, "the live log's sizes were not fixed");
    } else {
        expect(after == s.logBytes, "a log that is not live was written");
    }
    return 0;
}
