#pragma once

#include "timeline/clip_plan.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace tarnveil {

// A format a clip can be saved in.
struct ClipFormat {
    QString caption;
    QString suffix; // without the dot
    int sndfileFormat = 0;
};

// The formats the installed libsndfile writes for audio of this shape: the
// log's own first, then WAV 16-bit PCM, FLAC, Ogg Vorbis and MP3.
std::vector<ClipFormat> clipFormats(int ownFormat, int sampleRate, int channels);

// Called after each block with the frames written so far.
using ClipProgress = std::function<void(int64_t done, int64_t total)>;

// Shared by a save and whoever may cancel it. Cancel and putting the clip in
// place exclude each other: a save cancelled before that step leaves nothing,
// and once the clip is going into place a Cancel comes too late. Any thread.
class ClipCancel {
public:
    void cancel();
    bool cancelled() const;
    // The save, right before the clip goes into place: false when cancelled.
    bool enterPlacing();

private:
    enum State : int { Running, Cancelled, Placing };
    std::atomic<int> state_{Running};
};

// Any thread. Writes the clip of `plan` (whose logs lie in `logFolder`) to
// `target` in `sndfileFormat`: into a temporary file in the target's folder,
// put in place once complete, so that a cancelled or failed save leaves
// nothing behind and an existing file as it was. Without `replace` an existing
// target is refused (FileExists) before anything is written and again as the
// clip goes in. Logs are only read, and no clip goes into the log folder.
// Returns false when cancelled. Throws Failure.
bool writeClip(const std::filesystem::path& logFolder, const ClipPlan& plan, int sndfileFormat,
               const std::filesystem::path& target, bool replace, ClipCancel& cancel,
               const ClipProgress& progress = {});

} // namespace tarnveil
