#pragma once

#include "options.h"
#include "platform/unique_fd.h"

#include <sndfile.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace tarnveil::logger {

// One log file as a logger writes it: created with stale header sizes, grown by
// appending, and given its true sizes only when it is finished. Not thread-safe.
class LogFileWriter {
public:
    // Creates `file`, which must not exist yet. Throws std::system_error or std::runtime_error.
    static std::unique_ptr<LogFileWriter> create(const std::filesystem::path& file, const Options& options);

    virtual ~LogFileWriter() = default;

    // Appends interleaved samples in -1..1.
    virtual void append(const float* samples, int64_t frames) = 0;

    // Writes the true sizes, flushes the file to disk and closes it. Idempotent.
    virtual void finish() = 0;

    virtual int64_t framesWritten() const = 0;
};

// The canonical header of PCM, float and G.711 logs: RIFF, an 18-byte format
// chunk (WAVEFORMATEX with no extra bytes), and the data chunk's header.
inline constexpr int CanonicalHeaderBytes = 46;
std::array<uint8_t, CanonicalHeaderBytes> canonicalHeader(SampleFormat format, int sampleRate, int channels,
                                                          uint32_t riffSize, uint32_t dataSize);

} // namespace tarnveil::logger
