#include "recorder.h"

#include "cur_file.h"
#include "log_file_writer.h"
#include "log_signal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <ostream>
#include <stdexcept>
#include <system_error>

namespace tarnveil::logger {

namespace {

constexpr int64_t OneDay = 86400;

std::tm localTime(std::time_t time)
{
    std::tm tm{};
    localtime_r(&time, &tm);
    return tm;
}

int secondOfHour(std::time_t time)
{
    const std::tm tm = localTime(time);
    return tm.tm_min * 60 + std::min(tm.tm_sec, 59);
}

int64_t secondOfDay(std::time_t time)
{
    const std::tm tm = localTime(time);
    return int64_t{tm.tm_hour} * 3600 + tm.tm_min * 60 + std::min(tm.tm_sec, 59);
}

// Sleeps, but returns early when a signal arrives, so a stop request is seen at once.
void pause(std::chrono::milliseconds span)
{
    timespec wanted{};
    wanted.tv_sec = static_cast<time_t>(span.count() / 1000);
    wanted.tv_nsec = static_cast<long>(span.count() % 1000) * 1000000L;
    ::nanosleep(&wanted, nullptr);
}

std::string curFileText(const std::string& name)
{
    return ":\\logger\\logs\\" + name;
}

// Generates `frames` frames of the signal into `writer`, in blocks that keep memory small.
void render(LogSignal& signal, LogFileWriter& writer, int64_t frames)
{
    constexpr int64_t Block = 16384;
    while (frames > 0) {
        const int64_t count = std::min(frames, Block);
        writer.append(signal.next(count).data(), count);
        frames -= count;
    }
}

} // namespace

std::string logFileName(std::time_t start)
{
    const std::tm tm = localTime(start);
    char name[64];
    std::strftime(name, sizeof name, "%Y-%m-%d_%H-%M-%S.wav", &tm);
    return name;
}

std::time_t nextBoundary(std::time_t time, std::chrono::seconds period, bool align)
{
    const int64_t length = period.count();
    if (!align || OneDay % length != 0)
        return time + length;
    // Counted on the local clock's face, so an hourly log starts on the hour also
    // on the days the clocks change.
    return time + (length - secondOfDay(time) % length);
}

std::time_t currentBoundary(std::time_t time, std::chrono::seconds period, bool align)
{
    const int64_t length = period.count();
    if (!align || OneDay % length != 0)
        return time;
    return time - secondOfDay(time) % length;
}

Recorder::Recorder(Options options, std::ostream& report) : options_(std::move(options)), report_(report) {}

void Recorder::prepareFolders() const
{
    // The root is a drive: a missing one is a mistake, not something to create.
    if (!std::filesystem::is_directory(options_.root))
        throw std::runtime_error("no such folder: " + options_.root.string());
    std::filesystem::create_directories(logsFolder());
}

void Recorder::recordLive(const std::atomic<bool>& stop)
{
    using namespace std::chrono;
    prepareFolders();

    // Start on a whole second, so that every file does and its clicks fall on
    // whole frames of a second.
    const auto startWall = ceil<seconds>(system_clock::now());
    while (!stop && system_clock::now() < startWall)
        pause(duration_cast<milliseconds>(startWall - system_clock::now()) + milliseconds(1));
    if (stop)
        return;
    const auto startSteady = steady_clock::now();
    const std::time_t start = system_clock::to_time_t(startWall);
    const int64_t rate = options_.sampleRate;
    const int64_t endFrame = options_.duration ? options_.duration->count() * rate : INT64_MAX;

    int64_t written = 0; // frames since `start`, over all files
    std::time_t fileStart = start;
    std::unique_ptr<LogFileWriter> writer;
    std::unique_ptr<LogSignal> signal;
    std::string name;
    int64_t fileEndFrame = 0;

    const auto openFile = [&] {
        name = logFileName(fileStart);
        // Twice the same name happens when the clocks go back an hour; the
        // recording must go on all the same.
        for (int copy = 2; std::filesystem::exists(logsFolder() / name); ++copy)
            name = logFileName(fileStart).insert(19, "_" + std::to_string(copy));
        writer = LogFileWriter::create(logsFolder() / name, options_);
        signal = std::make_unique<LogSignal>(options_.sampleRate, options_.channels, secondOfHour(fileStart));
        fileEndFrame = (nextBoundary(fileStart, options_.period, options_.align) - start) * rate;
        writeCurFile(loggerFolder(), curFileText(name));
        report_ << "recording " << name << std::endl;
    };
    const auto finishFile = [&] {
        writer->finish();
        report_ << "finished " << name << ": " << writer->framesWritten() << " frames" << std::endl;
        writer.reset();
    };

    try {
        openFile();
        while (!stop && written < endFrame) {
            pause(milliseconds(50));
            const auto elapsed = duration_cast<microseconds>(steady_clock::now() - startSteady).count();
            const int64_t due = std::min(endFrame, elapsed * rate / 1000000);
            while (written < due) {
                const int64_t count = std::min(due, fileEndFrame) - written;
                render(*signal, *writer, count);
                written += count;
                if (written == fileEndFrame) {
                    finishFile();
                    if (written == endFrame)
                        break;
                    fileStart = start + written / rate;
                    openFile();
                }
            }
        }
        if (writer)
            finishFile();
    } catch (...) {
        // Leave no file behind with stale sizes, and no CurFile naming a dead recording.
        writer.reset();
        try {
            writeCurFile(loggerFolder(), "");
        } catch (...) {
        }
        throw;
    }
    writeCurFile(loggerFolder(), "");
}

void Recorder::writeBacklog(const std::atomic<bool>& stop)
{
    prepareFolders();
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::time_t end = options_.backlogEnd.value_or(currentBoundary(now, options_.period, options_.align));
    const int64_t length = options_.backlogLength.count();
    const int64_t frames = length * options_.sampleRate;

    for (int i = 0; i < options_.backlogCount && !stop; ++i) {
        const std::time_t fileStart = end - (options_.backlogCount - i) * length;
        const std::string name = logFileName(fileStart);
        const auto file = logsFolder() / name;
        if (std::filesystem::exists(file)) {
            report_ << "kept " << name << " (exists)" << std::endl;
            continue;
        }
        auto writer = LogFileWriter::create(file, options_);
        LogSignal signal(options_.sampleRate, options_.channels, secondOfHour(fileStart));
        // A second at a time, so that a stop request cuts the file short promptly.
        for (int64_t done = 0; done < frames && !stop;) {
            const int64_t count = std::min<int64_t>(frames - done, options_.sampleRate);
            render(signal, *writer, count);
            done += count;
        }
        writer->finish();
        report_ << "wrote " << name << ": " << writer->framesWritten() << " frames" << std::endl;
    }
}

} // namespace tarnveil::logger
