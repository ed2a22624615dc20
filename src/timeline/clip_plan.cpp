#include "timeline/clip_plan.h"

#include "components/sound_file.h"
#include "platform/failure.h"

#include <algorithm>
#include <string>

namespace tarnveil {

namespace {

bool sameShape(const LogSpan& a, const LogSpan& b)
{
    return a.sampleRate == b.sampleRate && a.channels == b.channels && a.format == b.format;
}

// Logs follow each other when the next starts where the one before ends, to
// within one frame as whole milliseconds round it: anything more is a real
// gap, or audio recorded twice.
int64_t frameRoundingMs(const LogSpan& log)
{
    return (1000 + log.sampleRate - 1) / log.sampleRate;
}

ClipPiece pieceOf(const LogSpan& log, int64_t fromMs, int64_t toMs)
{
    ClipPiece piece{log.name, log.live, 0, 0};
    piece.fromFrame = std::clamp<int64_t>(msToFrames(std::max<int64_t>(0, fromMs - log.startMs), log.sampleRate),
                                          0, log.frames);
    piece.toFrame = std::clamp<int64_t>(msToFrames(std::max<int64_t>(0, toMs - log.startMs), log.sampleRate),
                                        piece.fromFrame, log.frames);
    return piece;
}

} // namespace

int64_t ClipPlan::frames() const
{
    int64_t total = 0;
    for (const ClipPiece& piece : pieces)
        total += piece.toFrame - piece.fromFrame;
    return total;
}

ClipPlan planClip(const std::vector<LogSpan>& logs, int64_t fromMs, int64_t toMs)
{
    if (toMs <= fromMs)
        throw Failure(FailureCode::ClipEmpty, "To must lie after From");
    const MomentPlace place = placeMoment(logs, fromMs);
    if (!place.holder)
        throw Failure(FailureCode::NoLogAtTime, describeGap(logs, place, fromMs));

    size_t index = *place.holder;
    const LogSpan& first = logs[index];
    ClipPlan plan;
    plan.sampleRate = first.sampleRate;
    plan.channels = first.channels;
    plan.format = first.format;
    plan.pieces.push_back(pieceOf(first, fromMs, toMs));
    plan.start = QDateTime::fromMSecsSinceEpoch(first.startMs
                                                + framesToMs(plan.pieces.front().fromFrame, first.sampleRate));
    while (toMs > logs[index].endMs() && index + 1 < logs.size()) {
        const LogSpan& done = logs[index];
        const LogSpan& next = logs[index + 1];
        const int64_t apart = next.startMs - done.endMs();
        const std::string both = done.name.toStdString() + " and " + next.name.toStdString();
        if (apart > frameRoundingMs(done))
            throw Failure(FailureCode::ClipCrossesGap, both);
        if (apart < -frameRoundingMs(done))
            throw Failure(FailureCode::ClipLogsOverlap, both);
        if (!sameShape(done, next))
            throw Failure(FailureCode::ClipFormatsDiffer, both);
        plan.pieces.push_back(pieceOf(next, next.startMs, toMs));
        ++index;
    }
    if (plan.frames() == 0)
        throw Failure(FailureCode::ClipEmpty);
    return plan;
}

} // namespace tarnveil
