// How long the console's GUI thread stalls while the logger's share stops
// answering. Runs the real console window against logs on a FUSE share
// (bindfs) that is frozen with SIGSTOP, drives it through the scenarios an
// operator meets, and records the lateness of a 10-ms timer on the GUI thread
// in each. A scenario that hangs the GUI thread shows as a lateness of
// seconds. Needs /dev/fuse and bindfs; plays on the default sound device.
//
// Output: one line per scenario, "scenario ticks worst_ms median_ms".

#include "console/main_window.h"
#include "loglist/log_list.h"
#include "loglist/log_list_model.h"
#include "program/module1.h"
#include "platform/drive_map.h"
#include "support/fuse_share.h"
#include "support/temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using tarnveil::test::FuseShare;
using tarnveil::test::TempDir;
namespace fs = std::filesystem;

void writeTone(const fs::path& file, int seconds)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    if (out == nullptr)
        throw std::runtime_error("cannot write " + file.string());
    std::vector<short> block(48000 * 2);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<short>(3000 * std::sin(static_cast<double>(i / 2) * 0.05));
    for (int s = 0; s < seconds; ++s)
        sf_writef_short(out, block.data(), 48000);
    sf_close(out);
}

// The 10-ms timer's lateness, gathered while a scenario runs.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0)
                lateness_.push_back(static_cast<double>(now - last_) / 1e6 - 10.0);
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }

    void begin()
    {
        lateness_.clear();
        last_ = -1;
    }

    void report(const char* scenario)
    {
        std::vector<double> sorted = lateness_;
        std::sort(sorted.begin(), sorted.end());
        const double worst = sorted.empty() ? 0.0 : sorted.back();
        const double median = sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
        std::printf("%-28s %6zu %9.1f %9.2f\n", scenario, sorted.size(), worst, median);
        std::fflush(stdout);
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    std::vector<double> lateness_;
};

void runFor(int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool runUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void select(tarnveil::mnuMenu& w, const std::string& rawName)
{
    tarnveil::LogListModel& rows = w.logList().model();
    auto listed = std::make_shared<tarnveil::LogRows>(rows.rows());
    listed->push_back(tarnveil::LogFile{rawName, {}, {}});
    rows.fill(std::move(listed));
    w.lstLogs->setCurrentIndex(rows.index(rows.rowCount() - 1));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const std::string reason = FuseShare::unavailable(); !reason.empty()) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 77;
    }

    TempDir prefixDir;
    TempDir loggerDir;
    TempDir shareSource;
    tarnveil::DriveMap drives(prefixDir.path());
    drives.ensureSystemDrive();
    fs::create_directories(prefixDir / "drive_c" / "program files" / "Tarnveil");
    std::ofstream(prefixDir / "drive_c" / "program files" / "Tarnveil" / "ZeVudi.ini", std::ios::binary) << "0L";
    fs::create_directories(loggerDir / "logger" / "logs");
    fs::create_directory_symlink(loggerDir.path(), prefixDir / "dosdevices" / "l:");
    writeTone(shareSource / "long.wav", 120);
    writeTone(loggerDir / "logger" / "logs" / "local.wav", 5);

    FuseShare share(shareSource.path());
    fs::create_directory_symlink(share.mountPoint(), loggerDir / "logger" / "logs" / "studio");

    tarnveil::Module1 module(drives);
    QPointer<tarnveil::mnuMenu> w = new tarnveil::mnuMenu(module);
    w->show();
    StallMeter meter;
    std::printf("%-28s %6s %9s %9s\n", "scenario", "ticks", "worst_ms", "median_ms");

    auto playing = [&] { return module.PlayerOpen == -1; };
    auto play = [&](const std::string& rawName) {
        select(*w, rawName);
        w->cmdPlay->click();
    };

    meter.begin();
    runFor(2000);
    meter.report("idle (peer)");

    // The first Play starts the sound system, which takes its time whatever
    // the share does: done here, on a local log, as the peer of the plays below.
    for (const char* scenario : {"first play, local (peer)", "play, local (peer)"}) {
        meter.begin();
        play("local.wav");
        runUntil(playing, 5000);
        runFor(500);
        w->cmdStop->click();
        runUntil([&] { return module.PlayerOpen == 0; }, 5000);
        meter.report(scenario);
    }

    // Play on the frozen share: the deadline's message, nothing else.
    share.freeze();
    meter.begin();
    play("studio/long.wav");
    runFor(6000);
    meter.report("play, share frozen");
    share.thaw();
    runFor(300);

    // Recovery: the share answers again.
    meter.begin();
    play("studio/long.wav");
    const bool recovered = runUntil(playing, 5000);
    runFor(500);
    meter.report(recovered ? "recovery, play" : "recovery, play (FAILED)");

    // Playback running when the share freezes: clock, meter and slider go on.
    share.freeze();
    meter.begin();
    runFor(2000);
    meter.report("playback, share freezes");

    meter.begin();
    w->cmdStop->click();
    const bool stopped = runUntil([&] { return module.PlayerOpen == 0; }, 5000);
    runFor(500);
    meter.report(stopped ? "stop, share frozen" : "stop, share frozen (FAILED)");

    meter.begin();
    play("local.wav");
    const bool other = runUntil(playing, 5000);
    runFor(500);
    meter.report(other ? "play another, share frozen" : "play another (FAILED)");
    share.thaw();

    play("studio/long.wav");
    runUntil(playing, 5000);
    runFor(500);
    share.freeze();
    runFor(700);
    meter.begin();
    QElapsedTimer closing;
    closing.start();
    w->close();
    const bool closed = runUntil([&] { return w.isNull(); }, 5000);
    const qint64 closeMs = closing.elapsed();
    runFor(500);
    meter.report(closed ? "close, share frozen" : "close, share frozen (FAILED)");
    std::printf("close removed the window after %lld ms\n", static_cast<long long>(closeMs));
    share.thaw();
    return 0;
}
