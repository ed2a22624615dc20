#include "log_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace tarnveil::logger {

namespace {

void put16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get32(const uint8_t* at)
{
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

std::system_error fileError(const std::string& what, const std::filesystem::path& file)
{
    return {errno, std::generic_category(), what + " " + file.string()};
}

UniqueFd createExclusive(const std::filesystem::path& file)
{
    // Never over a file that exists: that would be someone's recording.
    UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd)
        throw fileError("cannot create", file);
    return fd;
}

void writeAll(int fd, const uint8_t* bytes, size_t count, const std::filesystem::path& file)
{
    while (count > 0) {
        const ssize_t done = ::write(fd, bytes, count);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            throw fileError("cannot write", file);
        }
        bytes += done;
        count -= static_cast<size_t>(done);
    }
}

void pwriteAll(int fd, const uint8_t* bytes, size_t count, off_t offset, const std::filesystem::path& file)
{
    while (count > 0) {
        const ssize_t done = ::pwrite(fd, bytes, count, offset);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            throw fileError("cannot write the header of", file);
        }
        bytes += done;
        offset += done;
        count -= static_cast<size_t>(done);
    }
}

void syncAndClose(UniqueFd fd, const std::filesystem::path& file)
{
    // A finished log is the logger's product: it must survive a power cut.
    if (::fsync(fd.get()) != 0 && errno != EINVAL)
        throw fileError("cannot flush", file);
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// libsndfile as a pure encoder: a headerless stream whose bytes land in memory,
// from where the writer appends them to the log.
class RawEncoder {
public:
    explicit RawEncoder(const Options& options)
    {
        SF_INFO info{};
        info.samplerate = options.sampleRate;
        info.channels = options.channels;
        info.format = SF_FORMAT_RAW | SF_ENDIAN_LITTLE | formatInfo(options.format).sndfileSubtype;
        io_.get_filelen = [](void* self) -> sf_count_t { return static_cast<RawEncoder*>(self)->offset_; };
        io_.seek = [](sf_count_t offset, int whence, void* self) -> sf_count_t {
            // The stream is written front to back; only "where am I" is ever asked.
            auto* encoder = static_cast<RawEncoder*>(self);
            if ((whence == SEEK_CUR && offset == 0) || (whence == SEEK_SET && offset == encoder->offset_)
                || (whence == SEEK_END && offset == 0))
                return encoder->offset_;
            return -1;
        };
        io_.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
        io_.write = [](const void* data, sf_count_t count, void* self) -> sf_count_t {
            auto* encoder = static_cast<RawEncoder*>(self);
            const auto* bytes = static_cast<const uint8_t*>(data);
            encoder->pending_.insert(encoder->pending_.end(), bytes, bytes + count);
            encoder->offset_ += count;
            return count;
        };
        io_.tell = [](void* self) -> sf_count_t { return static_cast<RawEncoder*>(self)->offset_; };
        file_.reset(sf_open_virtual(&io_, SFM_WRITE, &info, this));
        if (!file_)
            throw std::runtime_error(std::string("cannot set up the sample encoder: ") + sf_strerror(nullptr));
        sf_command(file_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    RawEncoder(const RawEncoder&) = delete;
    RawEncoder& operator=(const RawEncoder&) = delete;

    const std::vector<uint8_t>& encode(const float* samples, int64_t frames)
    {
        pending_.clear();
        if (sf_writef_float(file_.get(), samples, frames) != frames)
            throw std::runtime_error(std::string("cannot encode samples: ") + sf_strerror(file_.get()));
        return pending_;
    }

private:
    SF_VIRTUAL_IO io_{};
    sf_count_t offset_ = 0;
    std::vector<uint8_t> pending_;
    SndfilePtr file_;
};

// PCM, float and G.711: the header is ours, so it has the canonical shape.
class CanonicalWriter final : public LogFileWriter {
public:
    CanonicalWriter(const std::filesystem::path& file, const Options& options)
        : file_(file), options_(options), encoder_(options), fd_(createExclusive(file))
    {
        const uint32_t riff = options.stale == StaleSizes::Zero ? 0 : CanonicalHeaderBytes - 8;
        const auto header = canonicalHeader(options.format, options.sampleRate, options.channels, riff, 0);
        writeAll(fd_.get(), header.data(), header.size(), file_);
    }

    ~CanonicalWriter() override
    {
        try {
            finish();
        } catch (...) {
            // Reported by whoever calls finish() on the normal path; here we are unwinding already.
        }
    }

    void append(const float* samples, int64_t frames) override
    {
        const auto& bytes = encoder_.encode(samples, frames);
        writeAll(fd_.get(), bytes.data(), bytes.size(), file_);
        dataBytes_ += static_cast<int64_t>(bytes.size());
        frames_ += frames;
    }

    void finish() override
    {
        if (!fd_)
            return;
        UniqueFd fd = std::move(fd_); // finished, whatever happens below
        // RIFF chunks are padded to an even size; the data size stays the true one.
        int64_t pad = 0;
        if (dataBytes_ % 2 != 0) {
            const uint8_t zero = 0;
            writeAll(fd.get(), &zero, 1, file_);
            pad = 1;
        }
        const auto header = canonicalHeader(options_.format, options_.sampleRate, options_.channels,
                                            static_cast<uint32_t>(CanonicalHeaderBytes - 8 + dataBytes_ + pad),
                                            static_cast<uint32_t>(dataBytes_));
        pwriteAll(fd.get(), header.data(), header.size(), 0, file_);
        syncAndClose(std::move(fd), file_);
    }

    int64_t framesWritten() const override { return frames_; }

private:
    std::filesystem::path file_;
    Options options_;
    RawEncoder encoder_;
    UniqueFd fd_;
    int64_t dataBytes_ = 0;
    int64_t frames_ = 0;
};

// GSM 6.10: libsndfile writes the WAV itself (its header has a fact chunk and
// a 20-byte format chunk). With header update off it writes the header when
// the file is opened, with the first samples and when it is closed, never in
// between, so the sizes are made stale after the first two.
class SndfileWriter final : public LogFileWriter {
public:
    SndfileWriter(const std::filesystem::path& file, const Options& options)
        : file_(file), stale_(options.stale), fd_(createExclusive(file))
    {
        SF_INFO info{};
        info.samplerate = options.sampleRate;
        info.channels = options.channels;
        info.format = SF_FORMAT_WAV | formatInfo(options.format).sndfileSubtype;
        sndfile_.reset(sf_open_fd(fd_.get(), SFM_WRITE, &info, SF_FALSE));
        if (!sndfile_)
            throw std::runtime_error("cannot create " + file.string() + ": " + sf_strerror(nullptr));
        sf_command(sndfile_.get(), SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_FALSE);
        sf_command(sndfile_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
        makeSizesStale();
    }

    ~SndfileWriter() override
    {
        try {
            finish();
        } catch (...) {
            // See CanonicalWriter.
        }
    }

    void append(const float* samples, int64_t frames) override
    {
        if (sf_writef_float(sndfile_.get(), samples, frames) != frames)
            throw std::runtime_error("cannot write " + file_.string() + ": " + sf_strerror(sndfile_.get()));
        // libsndfile writes the header once more with the first samples.
        if (frames_ == 0 && frames > 0)
            makeSizesStale();
        frames_ += frames;
    }

    void finish() override
    {
        if (!fd_)
            return;
        UniqueFd fd = std::move(fd_); // finished, whatever happens below
        // Closing flushes the last, partly filled block and writes the true header.
        const int status = sf_close(sndfile_.release());
        if (status != 0)
            throw std::runtime_error("cannot finish " + file_.string() + ": " + sf_error_number(status));
        syncAndClose(std::move(fd), file_);
    }

    int64_t framesWritten() const override { return frames_; }

private:
    void makeSizesStale()
    {
        uint8_t header[512];
        const ssize_t length = ::pread(fd_.get(), header, sizeof header, 0);
        if (length < 12)
            throw fileError("cannot read back the header of", file_);
        for (size_t at = 12; at + 8 <= static_cast<size_t>(length);) {
            const uint32_t size = get32(header + at + 4);
            if (std::memcmp(header + at, "data", 4) == 0) {
                uint8_t riff[4];
                put32(riff, stale_ == StaleSizes::Zero ? 0 : static_cast<uint32_t>(at)); // header length - 8
                const uint8_t zero[4] = {0, 0, 0, 0};
                pwriteAll(fd_.get(), riff, 4, 4, file_);
                pwriteAll(fd_.get(), zero, 4, static_cast<off_t>(at + 4), file_);
                return;
            }
            at += 8 + size + (size & 1);
        }
        throw std::runtime_error("libsndfile wrote no data chunk header to " + file_.string());
    }

    std::filesystem::path file_;
    StaleSizes stale_;
    UniqueFd fd_;
    SndfilePtr sndfile_;
    int64_t frames_ = 0;
};

} // namespace

std::array<uint8_t, CanonicalHeaderBytes> canonicalHeader(SampleFormat format, int sampleRate, int channels,
                                                          uint32_t riffSize, uint32_t dataSize)
{
    const FormatInfo& info = formatInfo(format);
    const auto blockAlign = static_cast<uint16_t>(channels * info.bitsPerSample / 8);
    std::array<uint8_t, CanonicalHeaderBytes> h{};
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], riffSize);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    put32(&h[16], 18);
    put16(&h[20], info.waveCode);
    put16(&h[22], static_cast<uint16_t>(channels));
    put32(&h[24], static_cast<uint32_t>(sampleRate));
    put32(&h[28], static_cast<uint32_t>(sampleRate) * blockAlign);
    put16(&h[32], blockAlign);
    put16(&h[34], info.bitsPerSample);
    put16(&h[36], 0); // no extra format bytes
    std::memcpy(&h[38], "data", 4);
    put32(&h[42], dataSize);
    return h;
}

std::unique_ptr<LogFileWriter> LogFileWriter::create(const std::filesystem::path& file, const Options& options)
{
    if (options.format == SampleFormat::Gsm610)
        return std::make_unique<SndfileWriter>(file, options);
    return std::make_unique<CanonicalWriter>(file, options);
}

} // namespace tarnveil::logger
