#pragma once

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarnveil {

class FedMpegDecoder;
class GrowingStream;
class GrowingWaveIo;
class LogGrowth;

// One audio file open for reading through libsndfile. Opening reads the header
// only, so a log of any size opens at once. Reading and seeking belong to one
// thread at a time (the player's reader thread once playback is set up).
class SoundFile {
public:
    // Throws Failure: FileNotFound, PermissionDenied, ... from the system, or
    // InvalidFileFormat with libsndfile's own text when the content is no audio
    // it can read.
    //
    // A Growing file is a log the logger is still recording: a WAV log is read
    // past the sizes its header states, up to the whole frames the file holds;
    // a compressed one is read on as it grows (see growing()). A WAV file whose
    // header cannot be followed opens as a fixed one. MayGrow is a log that no
    // logger has named: it is followed like a growing one unless it is a WAV
    // file whose header states at least as much as the file holds (a finished
    // log, or one cut short).
    enum class Growth { Fixed, Growing, MayGrow };
    explicit SoundFile(const std::filesystem::path& file, Growth growth = Growth::Fixed);
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Any thread. For a growing file, the frames wholly recorded at the reader's last look.
    int64_t frames() const;
    int sampleRate() const { return info_.samplerate; }
    int channels() const { return info_.channels; }
    int format() const { return info_.format; }

    // Speaker position of each channel (SF_CHANNEL_MAP_*), or empty when the
    // file does not say.
    const std::vector<int>& channelMap() const { return channelMap_; }

    // Reads up to `count` interleaved frames as floats in -1..1; fewer at the
    // end of the data, 0 past it or when the file can no longer be read.
    int64_t read(float* interleaved, int64_t count);
    // The same as whole numbers in -32768..32767: exact, and cheaper, for a
    // file whose samples have 16 bits or fewer (see sixteenBitsOrFewer()).
    int64_t read(int16_t* interleaved, int64_t count);

    // True when the file's samples fit 16 bits without loss.
    bool sixteenBitsOrFewer() const;

    // Moves the read position; false when the file refuses. Codecs libsndfile
    // cannot seek in (GSM 6.10) are read again from the start.
    bool seek(int64_t frame);

    // True once the file's last name has been removed: the data is still
    // readable through the open handle, but the log is gone for the operator.
    bool unlinked() const;

    // The growing file's view of its length, or nullptr for a fixed file.
    LogGrowth* growing() const;

private:
    void openHandle(SF_INFO& info, const std::string& name);
    void reopen();
    template <typename Sample>
    int64_t readFrames(Sample* interleaved, int64_t count);
    template <typename Sample>
    int64_t readStream(Sample* interleaved, int64_t count);
    template <typename Sample>
    int64_t readHandle(Sample* interleaved, int64_t count);
    bool resumesInPlace() const;
    int64_t recordedFlacFrames() const;
    bool skip(int64_t frames);

    struct SndfileCloser {
        void operator()(SNDFILE* handle) const { sf_close(handle); }
    };

    int descriptor_ = -1;
    std::unique_ptr<GrowingWaveIo> waveGrowth_;
    std::unique_ptr<GrowingStream> streamGrowth_;
    // A growing MPEG log is decoded from its bytes as they come, not by libsndfile.
    std::unique_ptr<FedMpegDecoder> mpegFeed_;
    // A block codec decodes its first block as it opens: opened before that
    // block was recorded, the handle must be opened again once it is there.
    bool openedEmpty_ = false;
    SF_INFO info_{};
    std::unique_ptr<SNDFILE, SndfileCloser> handle_;
    std::vector<int> channelMap_;
    int64_t position_ = 0;
    // The stream decoder could not yet go to position_: it tries again once the log has grown.
    bool resumePending_ = false;
};

// Milliseconds that `frames` frames last at `sampleRate`, rounded down.
int64_t framesToMs(int64_t frames, int sampleRate);

// The first frame at or after `ms` milliseconds, so that framesToMs gives `ms` back.
int64_t msToFrames(int64_t ms, int sampleRate);

} // namespace tarnveil
