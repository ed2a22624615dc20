#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct mpg123_handle_struct;

namespace tarnveil {

// Decodes an MPEG audio log that its logger is still recording, by handing
// libmpg123 the file's bytes as they come. A decoder that reads the file itself
// takes the length it saw at open as the end; this one waits for more at the
// last whole frame and goes on from there once the file has grown, so it never
// decodes half a frame. Nothing here writes to the file.
class FedMpegDecoder {
public:
    // `fd` stays the caller's and must outlive this. Throws Failure
    // (InvalidFileFormat) when the file's first frames are not `channels`
    // channels at `sampleRate`.
    FedMpegDecoder(int fd, int channels, int sampleRate);
    ~FedMpegDecoder();
    FedMpegDecoder(const FedMpegDecoder&) = delete;
    FedMpegDecoder& operator=(const FedMpegDecoder&) = delete;

    // Up to `count` interleaved frames; fewer once the file holds no further
    // whole frame, and more may follow when it has grown.
    int64_t read(float* interleaved, int64_t count);
    // Frame `frame` of the stream comes next; one not recorded yet comes when it is.
    bool seek(int64_t frame);

private:
    bool start();
    bool feed();
    int64_t decode(float* interleaved, int64_t count);
    bool formatMatches();

    const int fd_;
    const int channels_;
    const long sampleRate_;
    mpg123_handle_struct* handle_ = nullptr;
    uint64_t fedTo_ = 0; // the file's bytes up to here are with the decoder
    int64_t lead_ = 0;   // decoded frames before the stream's first frame
    int64_t toDrop_ = 0; // of the lead, still to be decoded and dropped
    std::vector<unsigned char> bytes_;
};

} // namespace tarnveil
