#pragma once

#include "platform/unique_fd.h"

#include <QDateTime>

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace tarnveil {

// One log open for reading only, on whatever thread uses it. The log being
// recorded has stale sizes in its WAV header; for it (`live`) the reader is
// shown the sizes its length had at the open, the way the header fix-up would
// write them, without anything being written to the file.
class LogSource {
public:
    // Throws Failure when the file cannot be opened or holds no audio libsndfile reads.
    LogSource(const std::filesystem::path& file, bool live);
    ~LogSource();
    LogSource(const LogSource&) = delete;
    LogSource& operator=(const LogSource&) = delete;

    const SF_INFO& info() const { return info_; }
    SNDFILE* handle() const { return handle_.get(); }

    // Last modification of the file, local time.
    const QDateTime& modified() const { return modified_; }

    // The bext chunk of a WAV file, when it has one.
    std::optional<SF_BROADCAST_INFO> broadcastInfo() const;

private:
    static sf_count_t length(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* into, sf_count_t count, void* self);
    static sf_count_t write(const void* from, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    struct SndfileCloser {
        void operator()(SNDFILE* handle) const { sf_close(handle); }
    };

    UniqueFd fd_;
    int64_t length_ = 0;
    int64_t position_ = 0;
    // Header bytes shown in place of the file's own: offset and value of each size field.
    struct Patch {
        int64_t offset = 0;
        uint32_t value = 0;
    };
    std::optional<Patch> riffSize_;
    std::optional<Patch> dataSize_;
    QDateTime modified_;
    SF_INFO info_{};
    std::unique_ptr<SNDFILE, SndfileCloser> handle_;
};

} // namespace tarnveil
