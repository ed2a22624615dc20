// A logger that records compressed logs through libsndfile, as other stations'
// loggers do, for timing the console at the live edge of a long log:
//
//   growing_log_writer ROOT NAME mp3|flac SECONDS [live]
//       writes SECONDS of programme to ROOT/logger/logs/NAME at full speed;
//       with "live" it then names the log in ROOT/logger/CurFile, prints
//       "live" and records on in real time until SIGINT or SIGTERM. The log is
//       finished (closed) either way.
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int BlockFrames = Rate / 10;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

// A tone gliding over low noise, so that the coder has work to do.
class Programme {
public:
    const std::vector<float>& next()
    {
        for (size_t i = 0; i < BlockFrames; ++i, ++frame_) {
            const double hz = 200.0 + 800.0 * std::fmod(static_cast<double>(frame_) / (3600.0 * Rate), 1.0);
            phase_ += 2.0 * std::numbers::pi * hz / Rate;
            noise_ = noise_ * 1664525U + 1013904223U;
            const double hiss = static_cast<double>(noise_ >> 16) / 65536.0 - 0.5;
            block_[2 * i] = static_cast<float>(0.3 * std::sin(phase_) + 0.02 * hiss);
            block_[2 * i + 1] = static_cast<float>(0.3 * std::sin(phase_ * 1.5) - 0.02 * hiss);
        }
        return block_;
    }

private:
    std::vector<float> block_ = std::vector<float>(2 * BlockFrames);
    int64_t frame_ = 0;
    double phase_ = 0.0;
    uint32_t noise_ = 1;
};

// CurFile: a 16-bit length, the log's path below the drive, zeros to 128 bytes.
void nameInCurFile(const std::filesystem::path& root, const std::string& name)
{
    const std::string text = ":\\logger\\logs\\" + name;
    std::vector<char> record(128, 0);
    record[0] = static_cast<char>(text.size() & 0xFF);
    record[1] = static_cast<char>(text.size() >> 8);
    text.copy(record.data() + 2, text.size());
    const auto temporary = root / "logger" / "CurFile.tmp";
    std::ofstream(temporary, std::ios::binary).write(record.data(), static_cast<std::streamsize>(record.size()));
    std::filesystem::rename(temporary, root / "logger" / "CurFile");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || (argc == 6 && std::string(argv[5]) != "live") || argc > 6) {
        std::fputs("usage: growing_log_writer ROOT NAME mp3|flac SECONDS [live]\n", stderr);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    const std::string name = argv[2];
    const std::string format = argv[3];
    const long seconds = std::atol(argv[4]);
    const bool live = argc == 6;
    std::filesystem::create_directories(root / "logger" / "logs");

    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = 2;
    info.format = format == "mp3" ? SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III : SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* log = sf_open((root / "logger" / "logs" / name).c_str(), SFM_WRITE, &info);
    if (log == nullptr) {
        std::fprintf(stderr, "growing_log_writer: %s\n", sf_strerror(nullptr));
        return 1;
    }
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    Programme programme;
    for (long block = 0; block < seconds * 10 && stopRequested == 0; ++block)
        sf_writef_float(log, programme.next().data(), BlockFrames);
    if (live) {
        sf_write_sync(log);
        nameInCurFile(root, name);
        std::puts("live");
        std::fflush(stdout);
        auto tick = std::chrono::steady_clock::now();
        while (stopRequested == 0) {
            sf_writef_float(log, programme.next().data(), BlockFrames);
            sf_write_sync(log);
            tick += std::chrono::milliseconds(1000 * BlockFrames / Rate);
            std::this_thread::sleep_until(tick);
        }
    }
    sf_close(log);
    return 0;
}
