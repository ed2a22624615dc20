#include "components/growing_wave_io.h"

#include "platform/failure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tarnveil {

namespace {

constexpr uint64_t ChunkHeader = 8;
constexpr uint32_t MinFormatSize = 16;
// Chunks before the data are small in any log.
constexpr size_t HeadReadLimit = 64 * 1024;

// Codes whose blocks are single frames.
constexpr uint16_t WavePcm = 0x0001;
constexpr uint16_t WaveFloat = 0x0003;
constexpr uint16_t WaveALaw = 0x0006;
constexpr uint16_t WaveMuLaw = 0x0007;
constexpr uint16_t WaveExtensible = 0xFFFE;

uint32_t le32(std::span<const uint8_t> bytes, uint64_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint16_t le16(std::span<const uint8_t> bytes, uint64_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void putLe32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<uint64_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

bool tagAt(std::span<const uint8_t> bytes, uint64_t at, const char (&tag)[5])
{
    return std::memcmp(bytes.data() + at, tag, 4) == 0;
}

bool framePerBlock(uint16_t formatTag)
{
    return formatTag == WavePcm || formatTag == WaveFloat || formatTag == WaveALaw || formatTag == WaveMuLaw ||
           formatTag == WaveExtensible;
}

// Reads up to `count` bytes at `offset`; fewer only at the end of the file or on an error.
size_t readAt(int fd, void* into, size_t count, uint64_t offset)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, static_cast<uint8_t*>(into) + done, count - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

} // namespace

std::optional<WaveLayout> readWaveLayout(std::span<const uint8_t> head)
{
    if (head.size() < 12 || !tagAt(head, 0, "RIFF") || !tagAt(head, 8, "WAVE"))
        return std::nullopt;
    WaveLayout layout;
    bool haveFormat = false;
    uint64_t chunk = 12;
    while (chunk + ChunkHeader <= head.size()) {
        const uint32_t size = le32(head, chunk + 4);
        const uint64_t body = chunk + ChunkHeader;
        if (tagAt(head, chunk, "data")) {
            if (!haveFormat)
                return std::nullopt;
            layout.dataOffset = body;
            layout.dataSizeOffset = chunk + 4;
            layout.dataSize = size;
            return layout;
        }
        if (tagAt(head, chunk, "fmt ")) {
            if (size < MinFormatSize || body + MinFormatSize > head.size())
                return std::nullopt;
            layout.formatTag = le16(head, body);
            layout.sampleRate = le32(head, body + 4);
            layout.blockAlign = le16(head, body + 12);
            layout.framesPerBlock = 1;
            if (!framePerBlock(layout.formatTag)) {
                // Block codecs (GSM 6.10 among them) give their samples per block
                // after the extra-size word.
                if (size < 20 || body + 20 > head.size())
                    return std::nullopt;
                layout.framesPerBlock = le16(head, body + 18);
            }
            if (layout.blockAlign == 0 || layout.framesPerBlock == 0)
                return std::nullopt;
            haveFormat = true;
        }
        if (tagAt(head, chunk, "fact") && size >= 4 && body + 4 <= head.size())
            layout.factOffset = body;
        // Chunks are word-aligned: an odd size is followed by one pad byte.
        chunk = body + size + (size & 1U);
    }
    return std::nullopt;
}

GrowingWaveIo::GrowingWaveIo(int fd, const std::string& name) : fd_(fd)
{
    std::vector<uint8_t> head(HeadReadLimit);
    head.resize(readAt(fd_, head.data(), head.size(), 0));
    const std::optional<WaveLayout> layout = readWaveLayout(head);
    if (!layout)
        throw Failure(FailureCode::InvalidFileFormat, name + ": not a wave layout that can be followed");
    layout_ = *layout;
    storedRiffSize_ = le32(head, 4);

    // As much data as libsndfile counts without overflowing its frame numbers
    // (GSM's are 32-bit) or a RIFF file's sizes.
    const uint64_t blockLimit = std::min<uint64_t>((0x7FFFFFFFU - layout_.dataOffset) / layout_.blockAlign,
                                                   std::numeric_limits<int32_t>::max() / layout_.framesPerBlock);
    const uint64_t presentedData = blockLimit * layout_.blockAlign;
    presentedLength_ = layout_.dataOffset + presentedData;
    header_.assign(head.begin(), head.begin() + static_cast<ptrdiff_t>(layout_.dataOffset));
    putLe32(header_, 4, static_cast<uint32_t>(presentedLength_ - 8));
    putLe32(header_, layout_.dataSizeOffset, static_cast<uint32_t>(presentedData));

    io_.get_filelen = &GrowingWaveIo::fileLength;
    io_.seek = &GrowingWaveIo::seekTo;
    io_.read = &GrowingWaveIo::readBytes;
    io_.write = &GrowingWaveIo::refuseWrite;
    io_.tell = &GrowingWaveIo::tell;
    refresh();
}

SF_VIRTUAL_IO* GrowingWaveIo::callbacks()
{
    offset_ = 0;
    return &io_;
}

std::optional<uint64_t> GrowingWaveIo::currentLength() const
{
    struct stat status {};
    if (::fstat(fd_, &status) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(status.st_size);
}

int64_t GrowingWaveIo::framesIn(uint64_t fileLength, uint32_t dataBytes, uint64_t heldBlocks) const
{
    const uint64_t present = fileLength > layout_.dataOffset ? fileLength - layout_.dataOffset : 0;
    const uint64_t bytes = std::min<uint64_t>(present, dataBytes);
    const uint64_t limit = presentedLength_ - layout_.dataOffset;
    // Whole blocks only: the decoder must never meet half a frame or half a GSM block.
    const uint64_t blocks = std::min(bytes, limit) / layout_.blockAlign;
    return static_cast<int64_t>((blocks - std::min(blocks, heldBlocks)) * layout_.framesPerBlock);
}

void GrowingWaveIo::takeLength(uint64_t heldBlocks)
{
    if (const std::optional<uint64_t> length = currentLength()) {
        const int64_t now = framesIn(*length, std::numeric_limits<uint32_t>::max(), heldBlocks);
        // A share may report an older length for a moment; what was there stays there.
        if (now > frames_.load(std::memory_order_relaxed))
            frames_.store(now, std::memory_order_release);
    }
}

int64_t GrowingWaveIo::readableFrom(int64_t position, int64_t wanted) const
{
    return std::clamp<int64_t>(frames() - position, 0, wanted);
}

bool GrowingWaveIo::refresh()
{
    // Where the end of a finished file could pass for a block, the newest
    // block is held back until another follows it: the logger pads the last
    // GSM block, and the pad byte after an odd data chunk looks like a frame
    // of 8-bit mono. Only the header written after that tells what was recorded.
    const bool endLooksLikeData = layout_.framesPerBlock > 1 || layout_.blockAlign == 1;
    const int64_t before = frames();
    if (!settled())
        takeLength(endLooksLikeData ? 1 : 0);
    return frames() > before;
}

bool GrowingWaveIo::headerBehindFile() const
{
    const std::optional<uint64_t> length = currentLength();
    return length && storedRiffSize_ + ChunkHeader < *length && layout_.dataOffset + layout_.dataSize < *length;
}

bool GrowingWaveIo::settleIfFinished()
{
    if (settled())
        return true;
    std::vector<uint8_t> head(static_cast<size_t>(layout_.dataOffset));
    if (readAt(fd_, head.data(), head.size(), 0) != head.size())
        return false;
    const std::optional<uint64_t> length = currentLength();
    const std::optional<WaveLayout> now = readWaveLayout(head);
    if (!length || !now || now->dataOffset != layout_.dataOffset)
        return false;
    // The logger writes the true size last; until then the field holds what it
    // held when we opened the file, or a size the file has outgrown.
    const uint64_t dataEnd = layout_.dataOffset + now->dataSize;
    const bool grownSinceOpen = dataEnd + 1 < *length;
    if (dataEnd > *length || (now->dataSize == layout_.dataSize && grownSinceOpen))
        return false;
    int64_t total = framesIn(*length, now->dataSize, 0);
    if (layout_.framesPerBlock > 1 && layout_.factOffset) {
        // The last block of a block codec is padded; the fact chunk counts the
        // frames really recorded, which end inside it.
        const int64_t fact = le32(head, *layout_.factOffset);
        if (fact <= total && fact > total - layout_.framesPerBlock)
            total = fact;
    }
    frames_.store(total, std::memory_order_release);
    settled_.store(true, std::memory_order_release);
    return true;
}

void GrowingWaveIo::settle()
{
    takeLength(0);
    settled_.store(true, std::memory_order_release);
}

sf_count_t GrowingWaveIo::fileLength(void* self)
{
    return static_cast<sf_count_t>(static_cast<GrowingWaveIo*>(self)->presentedLength_);
}

sf_count_t GrowingWaveIo::seekTo(sf_count_t offset, int whence, void* self)
{
    auto* io = static_cast<GrowingWaveIo*>(self);
    sf_count_t target = offset;
    if (whence == SEEK_CUR)
        target += io->offset_;
    else if (whence == SEEK_END)
        target += static_cast<sf_count_t>(io->presentedLength_);
    if (target < 0)
        return -1;
    io->offset_ = target;
    return target;
}

sf_count_t GrowingWaveIo::readBytes(void* data, sf_count_t count, void* self)
{
    auto* io = static_cast<GrowingWaveIo*>(self);
    auto* into = static_cast<uint8_t*>(data);
    sf_count_t done = 0;
    const auto headerBytes = static_cast<sf_count_t>(io->header_.size());
    if (io->offset_ < headerBytes && count > 0) {
        const sf_count_t part = std::min(count, headerBytes - io->offset_);
        std::memcpy(into, io->header_.data() + io->offset_, static_cast<size_t>(part));
        done = part;
    }
    if (done < count) {
        done += static_cast<sf_count_t>(readAt(io->fd_, into + done, static_cast<size_t>(count - done),
                                               static_cast<uint64_t>(io->offset_ + done)));
    }
    io->offset_ += done;
    return done;
}

sf_count_t GrowingWaveIo::refuseWrite(const void* /*data*/, sf_count_t /*count*/, void* /*self*/)
{
    return 0;
}

sf_count_t GrowingWaveIo::tell(void* self)
{
    return static_cast<GrowingWaveIo*>(self)->offset_;
}

} // namespace tarnveil
