#pragma once

#include "timeline/clip_plan.h"

#include <QString>

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

// Called now and then with the frames written so far; returning false cancels.
using ClipProgress = std::function<bool(int64_t done, int64_t total)>;

// Any thread. Writes the clip of `plan` (whose logs lie in `logFolder`) to
// `target` in `sndfileFormat`: into a temporary file in the target's folder,
// renamed into place once complete, so that a cancelled or failed save leaves
// nothing behind. Logs are only read, and no clip goes into the log folder.
// Returns false when cancelled. Throws Failure.
bool writeClip(const std::filesystem::path& logFolder, const ClipPlan& plan, int sndfileFormat,
               const std::filesystem::path& target, const ClipProgress& progress);

} // namespace tarnveil
