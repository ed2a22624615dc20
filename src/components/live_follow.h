#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tarnveil {

class SoundFile;

// Names the log the logger is recording now, or none while it records nothing.
// Runs on the player's reader thread, so it may wait on a share; throws when it
// cannot tell.
using LiveLogSource = std::function<std::optional<std::filesystem::path>()>;

// Following a log while the logger records it, and on into the files after it
// when the logger starts a new one. The reader thread reads the chain of files
// one after the other into one stretch of the ring, with no break at the seams;
// the GUI thread hears them in turn and moves on to the next file when the seam
// before it reaches the ear.
//
// The chain lives here; the first file stays its opener's. The mutex is taken
// by the reader thread and the GUI thread only, never by the audio callback.
class LiveFollow {
public:
    LiveFollow(SoundFile& first, std::filesystem::path firstPath, LiveLogSource liveLog);
    ~LiveFollow();
    LiveFollow(const LiveFollow&) = delete;
    LiveFollow& operator=(const LiveFollow&) = delete;

    struct Step {
        enum class Kind {
            Read,    // read `frames` frames from readerFile()
            Wait,    // nothing new yet: look again shortly
            Rotated, // readerFile() is now the next log, read from its start
            End,     // the data has ended: the logger stopped or the chain broke
        };
        Kind kind = Kind::End;
        int64_t frames = 0;
    };

    // Reader thread: what to do at frame `position` of readerFile(), wanting `wanted` frames.
    Step next(int64_t position, int64_t wanted);
    SoundFile& readerFile();
    // Reader thread, when it takes a seek: back to the file the GUI aimed it at.
    SoundFile& beginSegment();
    // Reader thread, after Rotated: the new file's first frame is the
    // `deviceFrame`th of the stretch that the seek `seekGeneration` started.
    void markSeam(uint64_t seekGeneration, int64_t deviceFrame);

    // GUI thread: the file being heard, to which positions and seeks refer.
    SoundFile& heardFile();
    const std::filesystem::path& heardPath();
    // GUI thread, before every seek is handed to the reader.
    void aim();
    // GUI thread: the device frame of the stretch `seekGeneration` at which
    // heardFile() began, when it began inside that stretch.
    std::optional<int64_t> heardStart(uint64_t seekGeneration);
    // GUI thread: moves on to the next file once its seam lies at or before
    // `heardDeviceFrame` of the stretch `seekGeneration`; returns its path then.
    std::optional<std::filesystem::path> advance(uint64_t seekGeneration, int64_t heardDeviceFrame);
    bool seamPending();

    // Called on the reader thread whenever a seam has been marked.
    void setSeamNotice(std::function<void()> notice) { seamNotice_ = std::move(notice); }

private:
    struct Link {
        std::unique_ptr<SoundFile> owned; // empty for the first file
        SoundFile* file = nullptr;
        std::filesystem::path path;
    };
    struct Seam {
        uint64_t seekGeneration = 0;
        int64_t deviceFrame = 0;
        uint64_t link = 0;
    };

    Link& link(uint64_t id) { return chain_[id - firstId_]; }
    Step readable(SoundFile& file, int64_t position, int64_t wanted) const;
    bool askLiveLog(std::optional<std::filesystem::path>& named);
    Step rotate(std::chrono::steady_clock::time_point now);
    std::deque<Link> dropLinks(uint64_t keepFrom, uint64_t keepTo);

    const LiveLogSource liveLog_;
    std::function<void()> seamNotice_;

    std::mutex mutex_;
    std::deque<Link> chain_;
    uint64_t firstId_ = 0; // id of chain_.front()
    std::deque<Seam> seams_;
    uint64_t readerId_ = 0;
    uint64_t heardId_ = 0;
    uint64_t aimedId_ = 0;
    bool aimTaken_ = false;
    std::optional<std::pair<uint64_t, int64_t>> heardStart_; // seek generation, device frame

    // Reader thread only.
    std::optional<std::filesystem::path> lastNamed_; // the last log named as being recorded
    std::chrono::steady_clock::time_point lastRefresh_{};
    std::chrono::steady_clock::time_point lastGrowth_{};
    std::optional<std::chrono::steady_clock::time_point> atEndSince_;
};

} // namespace tarnveil
