#include "components/growing_wave_io.h"

#include "platform/failure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tarnveil {

namespace {

constexpr uint64_t ChunkHeader = 8;
constexpr uint32_t MinFormatSize = 16;
// RF64's ds64 chunk: 64-bit RIFF size, data size and frame count, then a table.
constexpr uint32_t MinDs64Size = 24;
// RF64's 32-bit size fields, which send the reader to the ds64 chunk.
constexpr uint32_t SizeInDs64 = 0xFFFFFFFFU;
// What an RF64 log is let run to: more than any logger records in a file.
constexpr uint64_t Rf64DataLimit = uint64_t{1} << 50;
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

uint64_t le64(std::span<const uint8_t> bytes, uint64_t at)
{
    return static_cast<uint64_t>(le32(bytes, at)) | static_cast<uint64_t>(le32(bytes, at + 4)) << 32;
}

uint16_t le16(std::span<const uint8_t> bytes, uint64_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void putLe(std::vector<uint8_t>& bytes, uint64_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
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
    if (head.size() < 12 || !(tagAt(head, 0, "RIFF") || tagAt(head, 0, "RF64")) || !tagAt(head, 8, "WAVE"))
        return std::nullopt;
    WaveLayout layout;
    layout.riffSize = le32(head, 4);
    if (tagAt(head, 0, "RF64")) {
        if (head.size() < 20 + MinDs64Size || !tagAt(head, 12, "ds64") || le32(head, 16) < MinDs64Size)
            return std::nullopt;
        layout.ds64Offset = 20;
        layout.riffSize = le64(head, 20);
    }
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
            layout.dataSize = layout.ds64Offset && size == SizeInDs64 ? le64(head, *layout.ds64Offset + 8) : size;
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
    presentHeader(head);

    io_.get_filelen = &GrowingWaveIo::fileLength;
    io_.seek = &GrowingWaveIo::seekTo;
    io_.read = &GrowingWaveIo::readBytes;
    io_.write = &GrowingWaveIo::refuseWrite;
    io_.tell = &GrowingWaveIo::tell;
    refresh();
}

void GrowingWaveIo::presentHeader(std::span<const uint8_t> head)
{
    // As much data as the sizes describe: 4 GiB in all for RIFF, far more for
    // RF64; and for block codecs no more frames than libsndfile counts (GSM's
    // frame numbers are 32-bit).
    const uint64_t dataLimit = layout_.ds64Offset ? Rf64DataLimit : uint64_t{0xFFFFFFFFU} + ChunkHeader - layout_.dataOffset;
    uint64_t blockLimit = dataLimit / layout_.blockAlign;
    if (layout_.framesPerBlock > 1)
        blockLimit = std::min<uint64_t>(blockLimit, std::numeric_limits<int32_t>::max() / layout_.framesPerBlock);
    const uint64_t presentedData = blockLimit * layout_.blockAlign;
    presentedLength_ = layout_.dataOffset + presentedData;
    header_.assign(head.begin(), head.begin() + static_cast<ptrdiff_t>(layout_.dataOffset));
    if (layout_.ds64Offset) {
        putLe(header_, 4, SizeInDs64, 4);
        putLe(header_, layout_.dataSizeOffset, SizeInDs64, 4);
        putLe(header_, *layout_.ds64Offset, presentedLength_ - ChunkHeader, 8);
        putLe(header_, *layout_.ds64Offset + 8, presentedData, 8);
        putLe(header_, *layout_.ds64Offset + 16, blockLimit * layout_.framesPerBlock, 8);
    } else {
        putLe(header_, 4, presentedLength_ - ChunkHeader, 4);
        putLe(header_, layout_.dataSizeOffset, presentedData, 4);
    }
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

int64_t GrowingWaveIo::framesIn(uint64_t fileLength, uint64_t dataBytes, uint64_t heldBlocks) const
{
    const uint64_t present = fileLength > layout_.dataOffset ? fileLength - layout_.dataOffset : 0;
    const uint64_t bytes = std::min<uint64_t>(present, dataBytes);
    const uint64_t limit = presentedLength_ - layout_.dataOffset;
    // Whole blocks only: the decoder must never meet half a frame or half a GSM block.
    const uint64_t blocks = std::min(bytes, limit) / layout_.blockAlign;
    return static_cast<int64_t>((blocks - std::min(blocks, heldBlocks)) * layout_.framesPerBlock);
}

// A chunk header at `at` (four printable characters) whose chunk ends the file.
bool GrowingWaveIo::chunkEndsFileAt(uint64_t at, uint64_t fileLength) const
{
    std::array<uint8_t, ChunkHeader> bytes{};
    if (readAt(fd_, bytes.data(), bytes.size(), at) != bytes.size())
        return false;
    if (!std::all_of(bytes.begin(), bytes.begin() + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; }))
        return false;
    const uint64_t end = at + ChunkHeader + le32(bytes, 4);
    return end == fileLength || end + 1 == fileLength;
}

void GrowingWaveIo::takeLength(uint64_t heldBlocks)
{
    const std::optional<uint64_t> length = currentLength();
    if (!length)
        return;
    // A logger may append a chunk (LIST, id3) after the audio before it writes
    // the true sizes: what it wrote since the last look is then that chunk,
    // after the pad byte of an odd-sized audio stretch. Its bytes are no samples.
    if (!audioEnd_ && lastLength_ > layout_.dataOffset && *length > lastLength_) {
        const bool padded = ((lastLength_ - layout_.dataOffset) & 1U) != 0;
        if (chunkEndsFileAt(lastLength_, *length) || (padded && chunkEndsFileAt(lastLength_ + 1, *length)))
            audioEnd_ = lastLength_;
    }
    lastLength_ = std::max(lastLength_, *length);
    const uint64_t audible = audioEnd_ ? std::min(*length, *audioEnd_) : *length;
    const int64_t now = framesIn(audible, std::numeric_limits<uint64_t>::max(), audioEnd_ ? 0 : heldBlocks);
    // A share may report an older length for a moment; what was there stays there.
    if (now > frames_.load(std::memory_order_relaxed))
        frames_.store(now, std::memory_order_release);
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
    return length && layout_.riffSize + ChunkHeader < *length && layout_.dataOffset + layout_.dataSize < *length;
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
