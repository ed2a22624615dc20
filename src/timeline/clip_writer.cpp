#include "timeline/clip_writer.h"

#include "components/sndfile_open.h"
#include "platform/failure.h"
#include "platform/unique_fd.h"
#include "timeline/log_source.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

namespace tarnveil {

namespace {

constexpr int64_t BlockFrames = 32768;

// FLAC holds up to 24 bits: the log's own depth where it fits, so that a
// lossless clip stays sample-exact.
int flacSubtype(int ownFormat)
{
    switch (ownFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return SF_FORMAT_PCM_S8;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE: return SF_FORMAT_PCM_24;
    default: return SF_FORMAT_PCM_16;
    }
}

bool isFloat(int format)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

struct SndfileCloser {
    void operator()(SNDFILE* handle) const { sf_close(handle); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

// Fails when `target` exists, without following a link it may be.
void refuseExisting(const std::filesystem::path& target)
{
    struct stat status {};
    if (::lstat(target.c_str(), &status) == 0)
        throw Failure(FailureCode::FileExists, target.string());
}

// Without leave to replace, the target must still be free at the very moment
// the clip goes in: another program may have made it meanwhile.
void putInPlace(const std::string& from, const std::filesystem::path& target, bool replace)
{
    if (!replace) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return;
        if (errno == EEXIST)
            throw Failure(FailureCode::FileExists, target.string());
        if (errno != EINVAL && errno != ENOSYS)
            throw failureFromErrno(errno, target.string());
        // A file system without that kind of rename (some network shares): check as late as it gets.
        refuseExisting(target);
    }
    if (::rename(from.c_str(), target.c_str()) != 0)
        throw failureFromErrno(errno, target.string());
}

// The temporary file until it is put in place; removed on every other way out.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& target)
    {
        std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
        fd_ = UniqueFd(::mkstemp(pattern.data()));
        if (!fd_)
            throw failureFromErrno(errno, target.parent_path().string());
        path_ = pattern;
    }
    ~TemporaryFile()
    {
        fd_.reset();
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_.get(); }

    // False when cancelled before the clip went in.
    bool putInPlaceAs(const std::filesystem::path& target, bool replace, ClipCancel& cancel)
    {
        // A clip is an ordinary file for whoever receives it, not a private one.
        if (::fchmod(fd_.get(), 0644) != 0 || ::fsync(fd_.get()) != 0)
            throw failureFromErrno(errno, target.string());
        fd_.reset();
        if (!cancel.enterPlacing())
            return false;
        putInPlace(path_, target, replace);
        path_.clear();
        return true;
    }

private:
    UniqueFd fd_;
    std::string path_;
};

void tagStart(SNDFILE* clip, int format, const ClipPlan& plan)
{
    if (!plan.start)
        return;
    const QDateTime& start = *plan.start;
    const std::string stamp = start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        SF_BROADCAST_INFO bext{};
        const std::string date = start.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
        const std::string time = start.toString(QStringLiteral("HH:mm:ss")).toStdString();
        std::memcpy(bext.origination_date, date.data(), std::min(date.size(), sizeof bext.origination_date));
        std::memcpy(bext.origination_time, time.data(), std::min(time.size(), sizeof bext.origination_time));
        const std::string originator = "Tarnveil";
        std::memcpy(bext.originator, originator.data(), originator.size());
        const std::string description = "Clip of " + plan.pieces.front().name.toStdString();
        std::memcpy(bext.description, description.data(), std::min(description.size(), sizeof bext.description));
        const auto sinceMidnight =
            static_cast<uint64_t>(start.time().msecsSinceStartOfDay()) * static_cast<uint64_t>(plan.sampleRate) / 1000;
        bext.time_reference_low = static_cast<uint32_t>(sinceMidnight);
        bext.time_reference_high = static_cast<uint32_t>(sinceMidnight >> 32);
        bext.version = 1;
        sf_command(clip, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
        return;
    }
    // Tags are a courtesy: a format that takes none still gets its audio.
    sf_set_string(clip, SF_STR_DATE, stamp.c_str());
    sf_set_string(clip, SF_STR_COMMENT, ("Recorded from " + stamp + " local time").c_str());
}

// The log folder and everything in it belong to the logger: a clip put in
// place there could replace a log. Folders are compared as the file system
// knows them, so that a bind mount, a second mount of the share or a share
// that ignores case cannot pass for another folder.
void checkOutsideLogFolder(const std::filesystem::path& logFolder, const std::filesystem::path& target)
{
    std::error_code error;
    const std::filesystem::path parent = target.parent_path();
    std::filesystem::path folder = std::filesystem::canonical(parent.empty() ? "." : parent, error);
    struct stat logs {};
    // A folder that is not there holds no log; making the temporary file reports it.
    if (error || ::stat(logFolder.c_str(), &logs) != 0)
        return;
    for (;;) {
        struct stat here {};
        if (::stat(folder.c_str(), &here) == 0 && here.st_dev == logs.st_dev && here.st_ino == logs.st_ino)
            throw Failure(FailureCode::PermissionDenied, target.string() + " lies in the log folder");
        if (folder == folder.parent_path())
            return;
        folder = folder.parent_path();
    }
}

QString ownSuffix(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: return QStringLiteral("wav");
    case SF_FORMAT_FLAC: return QStringLiteral("flac");
    case SF_FORMAT_OGG: return QStringLiteral("ogg");
    case SF_FORMAT_MPEG: return QStringLiteral("mp3");
    case SF_FORMAT_AIFF: return QStringLiteral("aiff");
    case SF_FORMAT_AU: return QStringLiteral("au");
    case SF_FORMAT_CAF: return QStringLiteral("caf");
    default: return {};
    }
}

// Copies one piece; false when cancelled.
template <typename Sample>
bool copyPiece(const LogSource& source, const ClipPiece& piece, SNDFILE* clip, int channels, int64_t& done,
               int64_t total, const ClipCancel& cancel, const ClipProgress& progress)
{
    std::vector<Sample> block(static_cast<size_t>(BlockFrames * channels));
    if (sf_seek(source.handle(), piece.fromFrame, SEEK_SET) < 0)
        throw Failure(FailureCode::DeviceIoError, piece.name.toStdString() + ": " + sf_strerror(source.handle()));
    for (int64_t at = piece.fromFrame; at < piece.toFrame;) {
        if (cancel.cancelled())
            return false;
        const int64_t want = std::min(BlockFrames, piece.toFrame - at);
        sf_count_t got = 0;
        if constexpr (std::is_same_v<Sample, float>)
            got = sf_readf_float(source.handle(), block.data(), want);
        else
            got = sf_readf_int(source.handle(), block.data(), want);
        if (got != want)
            throw Failure(FailureCode::InputPastEnd, piece.name.toStdString());
        sf_count_t put = 0;
        if constexpr (std::is_same_v<Sample, float>)
            put = sf_writef_float(clip, block.data(), got);
        else
            put = sf_writef_int(clip, block.data(), got);
        if (put != got)
            throw Failure(FailureCode::DeviceIoError, sf_strerror(clip));
        at += got;
        done += got;
        if (progress)
            progress(done, total);
    }
    return true;
}

} // namespace

std::vector<ClipFormat> clipFormats(int ownFormat, int sampleRate, int channels)
{
    const std::vector<ClipFormat> candidates{
        {QStringLiteral("The log's own format"), ownSuffix(ownFormat), ownFormat},
        {QStringLiteral("WAV 16-bit PCM"), QStringLiteral("wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {QStringLiteral("FLAC"), QStringLiteral("flac"), SF_FORMAT_FLAC | flacSubtype(ownFormat)},
        {QStringLiteral("Ogg Vorbis"), QStringLiteral("ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {QStringLiteral("MP3"), QStringLiteral("mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
    };
    std::vector<ClipFormat> writable;
    for (const ClipFormat& format : candidates) {
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = channels;
        info.format = format.sndfileFormat;
        if (sf_format_check(&info) == SF_TRUE)
            writable.push_back(format);
    }
    return writable;
}

void ClipCancel::cancel()
{
    int running = Running;
    state_.compare_exchange_strong(running, Cancelled);
}

bool ClipCancel::cancelled() const
{
    return state_.load() == Cancelled;
}

bool ClipCancel::enterPlacing()
{
    int running = Running;
    return state_.compare_exchange_strong(running, Placing);
}

bool writeClip(const std::filesystem::path& logFolder, const ClipPlan& plan, int sndfileFormat,
               const std::filesystem::path& target, bool replace, ClipCancel& cancel, const ClipProgress& progress)
{
    checkOutsideLogFolder(logFolder, target);
    if (!replace)
        refuseExisting(target);
    TemporaryFile temporary(target);

    SF_INFO info{};
    info.samplerate = plan.sampleRate;
    info.channels = plan.channels;
    info.format = sndfileFormat;
    std::string error;
    SndfileHandle clip(openSndfile([&] { return sf_open_fd(temporary.fd(), SFM_WRITE, &info, SF_FALSE); }, error));
    if (!clip)
        throw Failure(FailureCode::InvalidFileFormat, target.string() + ": " + error);
    // A float log louder than full scale is held at full scale in an integer
    // clip, instead of wrapping round to the other end.
    sf_command(clip.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    tagStart(clip.get(), sndfileFormat, plan);

    const int64_t total = plan.frames();
    int64_t done = 0;
    for (const ClipPiece& piece : plan.pieces) {
        const LogSource source(logFolder / piece.name.toStdString(), piece.live);
        if (source.info().samplerate != plan.sampleRate || source.info().channels != plan.channels)
            throw Failure(FailureCode::ClipFormatsDiffer, piece.name.toStdString());
        // Integers carry every PCM depth through unchanged; float logs stay float.
        const bool copied =
            isFloat(source.info().format)
                ? copyPiece<float>(source, piece, clip.get(), plan.channels, done, total, cancel, progress)
                : copyPiece<int>(source, piece, clip.get(), plan.channels, done, total, cancel, progress);
        if (!copied)
            return false;
    }
    if (sf_close(clip.release()) != 0)
        throw Failure(FailureCode::DeviceIoError, target.string());
    return temporary.putInPlaceAs(target, replace, cancel);
}

} // namespace tarnveil
