#pragma once

#include "timeline/log_timeline.h"

#include <QByteArray>
#include <QDateTime>

#include <cstdint>
#include <optional>
#include <vector>

namespace tarnveil {

// One stretch of one log: frames [fromFrame, toFrame).
struct ClipPiece {
    QByteArray name;
    bool live = false;
    int64_t fromFrame = 0;
    int64_t toFrame = 0;
};

// What a clip is made of, in order, and the audio shape all pieces share.
struct ClipPlan {
    std::vector<ClipPiece> pieces;
    int sampleRate = 0;
    int channels = 0;
    int format = 0;                  // the first log's own SF_FORMAT_* word
    std::optional<QDateTime> start;  // the clip's first sample, when the log's time is known

    int64_t frames() const;
};

// The clip from `fromMs` to `toMs` on the time line of `logs` (sorted by
// start). It starts in the log holding `fromMs` and runs on into the logs that
// follow without a gap, up to `toMs` or the end of what is recorded. Throws
// Failure: NoLogAtTime, ClipCrossesGap, ClipLogsOverlap, ClipFormatsDiffer, ClipEmpty.
ClipPlan planClip(const std::vector<LogSpan>& logs, int64_t fromMs, int64_t toMs);

} // namespace tarnveil
