#pragma once

#include "components/log_growth.h"

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnveil {

// Where the samples of a RIFF or RF64 WAVE file lie and how they are cut into blocks.
struct WaveLayout {
    uint64_t dataOffset = 0;     // first byte of the samples
    uint64_t dataSizeOffset = 0; // the data chunk's size field
    uint64_t dataSize = 0;       // as the header says it (stale while the file is recorded)
    uint64_t riffSize = 0;       // as the header says it
    std::optional<uint64_t> ds64Offset; // RF64: the 64-bit RIFF size, data size and frame count
    uint16_t formatTag = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;     // bytes of one block: one frame, or one GSM block
    uint32_t framesPerBlock = 1;
    std::optional<uint64_t> factOffset; // the fact chunk's frame count, when there is one
};

// Walks the chunks of `head`, the first bytes of a file, up to the data chunk.
// std::nullopt unless they are RIFF (or RF64, with its ds64 chunk first) WAVE
// with a format chunk of at least 16 bytes before the data chunk, all within `head`.
std::optional<WaveLayout> readWaveLayout(std::span<const uint8_t> head);

// Shows libsndfile a log that the logger is still recording, through its
// virtual I/O over a descriptor, without writing to the file: the header is
// served from memory with sizes that let the data run on far beyond the file's
// end, so that stale sizes never stop the decoder. Whoever reads must therefore
// ask only for frames() frames: those lie wholly in the file. frames() grows with
// refresh() and stops at the true size once the logger has finished the file,
// or where its audio ends once a chunk has been appended after it.
//
// A RIFF log is followed to the 4 GiB its sizes can describe, an RF64 one past it.
class GrowingWaveIo final : public LogGrowth {
public:
    // `fd` stays the caller's and must outlive this. Throws Failure
    // (InvalidFileFormat) when the header is not a WAVE layout this knows.
    GrowingWaveIo(int fd, const std::string& name);
    GrowingWaveIo(const GrowingWaveIo&) = delete;
    GrowingWaveIo& operator=(const GrowingWaveIo&) = delete;

    // For sf_open_virtual, with this object as its user data; each open starts
    // from the header.
    SF_VIRTUAL_IO* callbacks();

    const WaveLayout& layout() const { return layout_; }

    // Frames wholly in the file at the last look.
    int64_t frames() const override { return frames_.load(std::memory_order_acquire); }
    bool settled() const override { return settled_.load(std::memory_order_acquire); }
    int64_t readableFrom(int64_t position, int64_t wanted) const override;
    bool refresh() override;
    // The header now holds sizes that match the file's length.
    bool settleIfFinished() override;
    void settle() override;
    // The header states less than the file holds, as while a logger that
    // sizes its files only when it closes them is recording. A finished log
    // states its whole length, and one cut short states more.
    bool headerBehindFile() const;

private:
    static sf_count_t fileLength(void* self);
    static sf_count_t seekTo(sf_count_t offset, int whence, void* self);
    static sf_count_t readBytes(void* data, sf_count_t count, void* self);
    static sf_count_t refuseWrite(const void* data, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    int64_t framesIn(uint64_t fileLength, uint64_t dataBytes, uint64_t heldBlocks) const;
    void takeLength(uint64_t heldBlocks);
    std::optional<uint64_t> currentLength() const;
    bool chunkEndsFileAt(uint64_t at, uint64_t fileLength) const;
    void presentHeader(std::span<const uint8_t> head);

    int fd_;
    WaveLayout layout_;
    std::vector<uint8_t> header_; // as presented to libsndfile
    uint64_t presentedLength_ = 0;
    sf_count_t offset_ = 0;
    uint64_t lastLength_ = 0;            // the file's length at the last look
    std::optional<uint64_t> audioEnd_;   // where a chunk appended after the audio begins
    SF_VIRTUAL_IO io_{};
    std::atomic<int64_t> frames_{0};
    std::atomic<bool> settled_{false};
};

} // namespace tarnveil
