#include "components/live_follow.h"

#include "components/log_growth.h"
#include "components/sound_file.h"
#include "platform/failure.h"
#include "platform/log_folder.h"

#include <algorithm>

namespace tarnveil {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often the length of a log is looked at while the reader is ahead of it,
// so that the console's length keeps up with the recording.
constexpr auto RefreshInterval = 100ms;
// A log the logger has left without writing its true sizes (it died) ends
// where its data stops, once it has not grown for this long.
constexpr auto FinishGrace = 3s;
// The next log is named in CurFile before a share may show it: it is tried
// again for this long before the chain counts as broken.
constexpr auto OpenGrace = 5s;

// The next log by name after `current` in its folder, up to `upTo` if given.
std::optional<std::filesystem::path> nextInFolder(const std::filesystem::path& current,
                                                  const std::optional<std::string>& upTo)
{
    const std::string after = current.filename().string();
    try {
        for (const LogFile& log : listLogs(current.parent_path())) {
            if (log.path > after && (!upTo || log.path <= *upTo) && log.path.find('/') == std::string::npos)
                return current.parent_path() / log.path;
        }
    } catch (const Failure&) {
        // The folder cannot be listed just now: the logger's word will do.
    }
    return std::nullopt;
}

// The log that comes after `current`: the next one by name in its folder, up
// to the one being recorded. Names are times, so after a long pause this is a
// finished file between the two rather than the live one.
std::filesystem::path successor(const std::filesystem::path& current, const std::filesystem::path& live)
{
    if (current.parent_path() != live.parent_path())
        return live;
    return nextInFolder(current, live.filename().string()).value_or(live);
}

} // namespace

LiveFollow::LiveFollow(SoundFile& first, std::filesystem::path firstPath, LiveLogSource liveLog)
    : liveLog_(std::move(liveLog))
{
    chain_.push_back(Link{nullptr, &first, std::move(firstPath)});
}

LiveFollow::~LiveFollow() = default;

LiveFollow::Step LiveFollow::readable(SoundFile& file, int64_t position, int64_t wanted) const
{
    const LogGrowth* growth = file.growing();
    const int64_t frames = growth != nullptr ? growth->readableFrom(position, wanted)
                                             : std::clamp<int64_t>(file.frames() - position, 0, wanted);
    if (frames > 0)
        return {Step::Kind::Read, frames};
    return {Step::Kind::Wait, 0};
}

bool LiveFollow::askLiveLog(std::optional<std::filesystem::path>& named)
{
    try {
        named = liveLog_();
        if (named)
            lastNamed_ = named;
        return true;
    } catch (...) {
        // CurFile could not be read this time (a share in trouble): ask again later.
        return false;
    }
}

LiveFollow::Step LiveFollow::next(int64_t position, int64_t wanted)
{
    SoundFile& file = readerFile();
    LogGrowth* growth = file.growing();
    const Clock::time_point now = Clock::now();
    if (growth != nullptr && !growth->settled() &&
        (growth->readableFrom(position, 1) == 0 || now - lastRefresh_ >= RefreshInterval)) {
        lastRefresh_ = now;
        if (growth->refresh())
            lastGrowth_ = now;
    }
    if (const Step step = readable(file, position, wanted); step.kind == Step::Kind::Read)
        return step;

    if (growth != nullptr && !growth->settled()) {
        std::optional<std::filesystem::path> live;
        if (!askLiveLog(live))
            return {Step::Kind::Wait, 0};
        std::filesystem::path path;
        {
            std::lock_guard lock(mutex_);
            path = link(readerId_).path;
        }
        if (live && *live == path)
            return {Step::Kind::Wait, 0};
        // The logger has moved on: its last samples and the true sizes follow
        // the samples we have, and the header is written last.
        if (!growth->settleIfFinished()) {
            if (now - lastGrowth_ < FinishGrace)
                return {Step::Kind::Wait, 0};
            growth->settle();
        }
        if (const Step step = readable(file, position, wanted); step.kind == Step::Kind::Read)
            return step;
    }
    return rotate(now);
}

LiveFollow::Step LiveFollow::rotate(Clock::time_point now)
{
    if (!atEndSince_)
        atEndSince_ = now;
    std::optional<std::filesystem::path> live;
    if (!askLiveLog(live))
        return {now - *atEndSince_ < OpenGrace ? Step::Kind::Wait : Step::Kind::End, 0};

    SoundFile* current = nullptr;
    std::filesystem::path currentPath;
    {
        std::lock_guard lock(mutex_);
        current = link(readerId_).file;
        currentPath = link(readerId_).path;
    }
    std::filesystem::path nextPath;
    if (live) {
        if (*live == currentPath)
            return {Step::Kind::End, 0};
        nextPath = successor(currentPath, *live);
    } else {
        // The logger has stopped. It may have moved on and stopped since it
        // was last asked, or between two looks: what it recorded after this
        // log is then the next log in the folder, or the one it named last.
        // Read as growing: a logger that died left its last header stale.
        std::optional<std::filesystem::path> after = nextInFolder(currentPath, std::nullopt);
        if (!after && lastNamed_ && lastNamed_->native() > currentPath.native())
            after = lastNamed_;
        if (!after)
            return {Step::Kind::End, 0};
        nextPath = *after;
    }
    std::unique_ptr<SoundFile> nextFile;
    try {
        nextFile = std::make_unique<SoundFile>(
            nextPath, !live || nextPath == *live ? SoundFile::Growth::Growing : SoundFile::Growth::Fixed);
    } catch (const Failure&) {
        return {now - *atEndSince_ < OpenGrace ? Step::Kind::Wait : Step::Kind::End, 0};
    }
    // One stretch of samples has one rate and one channel layout.
    if (nextFile->sampleRate() != current->sampleRate() || nextFile->channels() != current->channels())
        return {Step::Kind::End, 0};

    std::deque<Link> released;
    {
        std::lock_guard lock(mutex_);
        SoundFile* file = nextFile.get();
        chain_.push_back(Link{std::move(nextFile), file, nextPath});
        readerId_ = firstId_ + chain_.size() - 1;
        // Files before the one heard (or aimed at) are needed no more.
        released = dropLinks(aimTaken_ ? heardId_ : std::min(aimedId_, heardId_), readerId_);
    }
    // Closing may wait on a share: outside the lock.
    released.clear();
    lastGrowth_ = now;
    lastRefresh_ = now;
    atEndSince_.reset();
    return {Step::Kind::Rotated, 0};
}

// Under the lock: removes the links outside keepFrom..keepTo and hands them back.
std::deque<LiveFollow::Link> LiveFollow::dropLinks(uint64_t keepFrom, uint64_t keepTo)
{
    std::deque<Link> dropped;
    while (firstId_ < keepFrom && chain_.size() > 1) {
        dropped.push_back(std::move(chain_.front()));
        chain_.pop_front();
        ++firstId_;
    }
    while (firstId_ + chain_.size() - 1 > keepTo) {
        dropped.push_back(std::move(chain_.back()));
        chain_.pop_back();
    }
    return dropped;
}

SoundFile& LiveFollow::readerFile()
{
    std::lock_guard lock(mutex_);
    return *link(readerId_).file;
}

SoundFile& LiveFollow::beginSegment()
{
    std::deque<Link> released;
    SoundFile* file = nullptr;
    {
        std::lock_guard lock(mutex_);
        readerId_ = aimedId_;
        aimTaken_ = true;
        seams_.clear();
        // Files read ahead past the seek are opened afresh when reached again.
        released = dropLinks(aimedId_, aimedId_);
        file = link(readerId_).file;
    }
    released.clear();
    lastGrowth_ = Clock::now();
    atEndSince_.reset();
    return *file;
}

void LiveFollow::markSeam(uint64_t seekGeneration, int64_t deviceFrame)
{
    {
        std::lock_guard lock(mutex_);
        seams_.push_back(Seam{seekGeneration, deviceFrame, readerId_});
    }
    if (seamNotice_)
        seamNotice_();
}

SoundFile& LiveFollow::heardFile()
{
    std::lock_guard lock(mutex_);
    return *link(heardId_).file;
}

const std::filesystem::path& LiveFollow::heardPath()
{
    std::lock_guard lock(mutex_);
    return link(heardId_).path;
}

void LiveFollow::aim()
{
    std::lock_guard lock(mutex_);
    aimedId_ = heardId_;
    aimTaken_ = false;
}

std::optional<int64_t> LiveFollow::heardStart(uint64_t seekGeneration)
{
    std::lock_guard lock(mutex_);
    if (heardStart_ && heardStart_->first == seekGeneration)
        return heardStart_->second;
    return std::nullopt;
}

std::optional<std::filesystem::path> LiveFollow::advance(uint64_t seekGeneration, int64_t heardDeviceFrame)
{
    std::lock_guard lock(mutex_);
    // Seams of stretches that a seek has replaced will never be heard.
    while (!seams_.empty() && seams_.front().seekGeneration != seekGeneration)
        seams_.pop_front();
    if (seams_.empty() || seams_.front().deviceFrame > heardDeviceFrame)
        return std::nullopt;
    const Seam seam = seams_.front();
    seams_.pop_front();
    heardId_ = seam.link;
    heardStart_ = std::make_pair(seekGeneration, seam.deviceFrame);
    return link(heardId_).path;
}

bool LiveFollow::seamPending()
{
    std::lock_guard lock(mutex_);
    return !seams_.empty();
}

} // namespace tarnveil
