// Console timings on the offscreen platform: the log-list fill as the folder
// grows, an update of a long list by one log, the live-log header fix-up
// whatever the log's size, the time read-out, one timer tick while a log plays
// on the sound server, and the start-up of the main window until it has
// painted and until its list has filled.
//
// Run: console_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Folders and logs go to $TMPDIR/tarnveil-console-bench (default /tmp) and are
// reused by later runs.
#include "components/wave_out.h"
#include "components/wave_player.h"
#include "console/live_log_header.h"
#include "console/main_window.h"
#include "program/module1.h"
#include "console/playback_control.h"
#include "console/range_control.h"
#include "loglist/log_list.h"
#include "loglist/log_list_model.h"
#include "loglist/widest_name_delegate.h"
#include "platform/drive_map.h"
#include "platform/log_folder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QListWidget>
#include <QPointer>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace tarnveil;
namespace fs = std::filesystem;

namespace {

fs::path benchRoot()
{
    const char* tmp = std::getenv("TMPDIR");
    return fs::path(tmp != nullptr ? tmp : "/tmp") / "tarnveil-console-bench";
}

// A log name as the logger gives them, one per quarter hour from 2020 on.
std::string logName(int index)
{
    const int quarter = index % 96;
    const int day = index / 96;
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d.wav", 2020 + day / 372, 1 + day / 31 % 12, 1 + day % 31,
                  quarter / 4, quarter % 4 * 15);
    return name;
}

// A prefix with c: (program folder, settings naming drive L) and l: leading to
// a logger drive whose logs folder holds `logCount` empty logs and a few other
// files the list must skip. Made once and kept.
struct Prefix {
    // `hourFolders`: a year of another logger's hourly logs, YYYY/MM/DD/HH/archive.mp3.
    explicit Prefix(int logCount, bool hourFolders = false)
        : root(benchRoot() / ("prefix-" + std::to_string(logCount) + (hourFolders ? "-hourly" : ""))), drives(root)
    {
        const fs::path logger = root / "logger-drive";
        logs = logger / "logger" / "logs";
        const fs::path done = root / "complete";
        if (fs::exists(done))
            return;
        fs::remove_all(root);
        fs::create_directories(logs);
        drives.ensureSystemDrive();
        const fs::path programFolder = root / "drive_c" / "program files" / "Tarnveil";
        fs::create_directories(programFolder);
        std::ofstream(programFolder / "ZeVudi.ini", std::ios::binary) << "0L";
        fs::create_directory_symlink(logger, root / "dosdevices" / "l:");
        // Created out of order, so that the list's sort has work to do.
        for (int i = 0; i < logCount; ++i) {
            const int index = static_cast<int>((static_cast<int64_t>(i) * 7919) % logCount);
            if (hourFolders) {
                char folder[32];
                std::snprintf(folder, sizeof folder, "%04d/%02d/%02d/%02d", 2026 + index / 8928, 1 + index / 744 % 12,
                              1 + index / 24 % 31, index % 24);
                fs::create_directories(logs / folder);
                std::ofstream(logs / folder / "archive.mp3");
            } else {
                std::ofstream(logs / logName(index));
            }
        }
        for (const char* other : {"notes.txt", "index.dat", "readme", "wav", ".wav.tmp"})
            std::ofstream(logs / other);
        std::ofstream(done) << logCount;
    }

    fs::path root;
    DriveMap drives;
    fs::path logs;
};

Prefix& prefixWith(int logCount, bool hourFolders = false)
{
    static std::map<std::pair<int, bool>, std::unique_ptr<Prefix>> prefixes;
    auto& prefix = prefixes[{logCount, hourFolders}];
    if (!prefix)
        prefix = std::make_unique<Prefix>(logCount, hourFolders);
    return *prefix;
}

double guiThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Serves events, sleeping while there are none, until `done` holds.
template <typename Done>
void serveUntil(Done done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
}

void drainEvents()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Notes the first paint of any widget of one window.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~PaintWatch() override { qApp->removeEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == window_)
            painted = true;
        return false;
    }

private:
    QWidget* window_;
};

// --- log list -------------------------------------------------------------

// The folder scan alone.
void BM_ListLogs(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Prefix& prefix = prefixWith(count, state.range(1) != 0);
    for (auto _ : state) {
        const auto logs = listLogs(prefix.logs);
        if (static_cast<int>(logs.size()) != count)
            state.SkipWithError("the scan missed logs");
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.SetLabel(state.range(1) != 0 ? "hour folders" : "flat");
}
BENCHMARK(BM_ListLogs)
    ->Args({1000, 0})
    ->Args({32767, 0})
    ->Args({100000, 0})
    ->Args({8760, 1})
    ->Unit(benchmark::kMillisecond);

// One look for the log being recorded by a logger without CurFile, made once a
// second while playback waits at the live edge: the peer is BM_ListLogs.
void BM_NewestLog(benchmark::State& state)
{
    Prefix& prefix = prefixWith(static_cast<int>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        if (!newestLog(prefix.logs))
            state.SkipWithError("no newest log");
    }
    state.SetLabel(state.range(1) != 0 ? "hour folders" : "flat");
}
BENCHMARK(BM_NewestLog)->Args({100000, 0})->Args({8760, 1})->Unit(benchmark::kMillisecond);

// The window's load step on an emptied list: the scan on its lane, then the
// fill of lstLogs on the GUI thread, until the list has been laid out.
// gui_ms: what of it the GUI thread spent.
void BM_LogListFill(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Prefix& prefix = prefixWith(count, state.range(1) != 0);
    Module1 module(prefix.drives);
    auto* window = new mnuMenu(module);
    serveUntil([&] { return !window->logList().loading(); });
    double gui = 0;
    for (auto _ : state) {
        const double before = guiThreadSeconds();
        window->logList().reload();
        serveUntil([&] { return !window->logList().loading(); });
        window->lstLogs->doItemsLayout();
        gui += guiThreadSeconds() - before;
        if (window->lstLogs->model()->rowCount() != count) {
            state.SkipWithError("the list does not hold every log");
            break;
        }
    }
    state.counters["listed"] = window->lstLogs->model()->rowCount();
    state.counters["gui_ms"] = benchmark::Counter(gui * 1e3, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations() * count);
    state.SetLabel(state.range(1) != 0 ? "hour folders" : "flat");
    delete window;
    drainEvents();
}
BENCHMARK(BM_LogListFill)
    ->Args({1000, 0})
    ->Args({32767, 0})
    ->Args({100000, 0})
    ->Args({8760, 1})
    ->Unit(benchmark::kMillisecond);

// A long list following its folder: one log added (or removed again) and the
// look at the folder that brings it into the list, until it has been laid out.
// Compare with BM_LogListFill at the same count, and the short list with the
// long one, in the same run.
void BM_LogListUpdateOneLog(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Prefix& prefix = prefixWith(count);
    Module1 module(prefix.drives);
    auto* window = new mnuMenu(module);
    serveUntil([&] { return !window->logList().loading(); });
    const fs::path extra = prefix.logs / "20200101-0007.wav";
    double gui = 0;
    bool added = false;
    for (auto _ : state) {
        state.PauseTiming();
        if (added)
            fs::remove(extra);
        else
            std::ofstream{extra};
        added = !added;
        state.ResumeTiming();
        const double before = guiThreadSeconds();
        bool settled = false;
        const auto connection =
            QObject::connect(&window->logList(), &LogList::settled, [&settled] { settled = true; });
        window->logList().refresh();
        serveUntil([&] { return settled; });
        window->lstLogs->doItemsLayout();
        QObject::disconnect(connection);
        gui += guiThreadSeconds() - before;
        if (window->lstLogs->model()->rowCount() != count + (added ? 1 : 0)) {
            state.SkipWithError("the list did not follow");
            break;
        }
    }
    if (added)
        fs::remove(extra);
    state.counters["gui_ms"] = benchmark::Counter(gui * 1e3, benchmark::Counter::kAvgIterations);
    delete window;
    drainEvents();
}
BENCHMARK(BM_LogListUpdateOneLog)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The list filled once the names are known, until it has been laid out:
// the console's model (the rows handed over whole, the widest name measured),
// and as its peer in the same run an item widget filled one item per name
// from names already made text, as the console filled lstLogs before.
void BM_ListFillFromNames(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const bool items = state.range(1) != 0;
    auto rows = std::make_shared<LogRows>();
    QList<QString> names;
    QList<QByteArray> paths;
    for (int i = 0; i < count; ++i) {
        rows->push_back(LogFile{logName(i), {}, {}});
        names.push_back(QString::fromStdString(logName(i)));
        paths.push_back(names.back().toUtf8());
    }
    QListWidget widget;
    QListView view;
    LogListModel model;
    view.setModel(&model);
    auto* delegate = new WidestNameDelegate(&view);
    for (QListView* list : {static_cast<QListView*>(&widget), &view}) {
        list->setUniformItemSizes(true);
        list->resize(300, 240);
        list->show();
    }
    auto* widgetDelegate = new WidestNameDelegate(&widget);
    widget.setItemDelegate(widgetDelegate);
    for (auto _ : state) {
        if (items) {
            widget.clear();
            widget.addItems(names);
            const QSignalBlocker quiet(widget.model());
            for (int row = 0; row < count; ++row)
                widget.item(row)->setData(Qt::UserRole, paths[row]);
            WidestName widest(widget.fontMetrics());
            for (const LogFile& log : *rows)
                widest.add(log.shown());
            widgetDelegate->setWidest(widest.width());
            widget.doItemsLayout();
        } else {
            model.fill(rows);
            WidestName widest(view.fontMetrics());
            for (const LogFile& log : *rows)
                widest.add(log.shown());
            delegate->setWidest(widest.width());
            view.doItemsLayout();
        }
        state.PauseTiming();
        if (items)
            widget.clear();
        else
            model.fill(std::make_shared<const LogRows>());
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetLabel(items ? "item widget (before)" : "model");
}
BENCHMARK(BM_ListFillFromNames)->Args({100000, 0})->Args({100000, 1})->Unit(benchmark::kMillisecond);

// From constructing the console (settings, controls, the load step) until the
// first paint of the shown window has been handled; `filled`: until the list
// has been filled and painted as well.
void startUp(benchmark::State& state, bool untilFilled)
{
    const int count = static_cast<int>(state.range(0));
    Prefix& prefix = prefixWith(count);
    for (auto _ : state) {
        Module1 module(prefix.drives);
        const auto start = std::chrono::steady_clock::now();
        QPointer<mnuMenu> window = new mnuMenu(module);
        PaintWatch watch(window);
        window->show();
        serveUntil([&] { return watch.painted; });
        if (untilFilled) {
            serveUntil([&] { return !window->logList().loading(); });
            watch.painted = false;
            serveUntil([&] { return watch.painted; });
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        serveUntil([&] { return !window->logList().loading(); });
        if (window->lstLogs->model()->rowCount() != count)
            state.SkipWithError("the list does not hold every log");
        delete window.data();
        drainEvents();
    }
}

void BM_StartupToFirstPaint(benchmark::State& state)
{
    startUp(state, false);
}
BENCHMARK(BM_StartupToFirstPaint)->Arg(1000)->Arg(32767)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_StartupToListFilled(benchmark::State& state)
{
    startUp(state, true);
}
BENCHMARK(BM_StartupToListFilled)->Arg(1000)->Arg(32767)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- live-log header ------------------------------------------------------

// A live log whose header still says 0 bytes, named by CurFile; its size is
// made sparse so that a 2 GiB one costs no disk.
void BM_FixLiveLogHeader(benchmark::State& state)
{
    const auto bytes = static_cast<uint64_t>(state.range(0));
    Prefix& prefix = prefixWith(0);
    const std::string name = "live-" + std::to_string(bytes) + ".wav";
    const fs::path log = prefix.logs / name;
    {
        const unsigned char header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                          16, 0, 0, 0, 1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0,
                                          'd', 'a', 't', 'a', 0, 0, 0, 0};
        std::ofstream out(log, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header), sizeof header);
    }
    fs::resize_file(log, bytes);
    const std::string drivePath = ":\\logger\\logs\\" + name;
    {
        std::ofstream curFile(prefix.logs.parent_path() / "CurFile", std::ios::binary | std::ios::trunc);
        const char count[2] = {static_cast<char>(drivePath.size()), 0};
        curFile.write(count, 2);
        curFile << drivePath;
    }
    Module1 module(prefix.drives);
    module.LoggerDrive = "L";
    for (auto _ : state)
        FixLiveLogHeader(module, "L" + drivePath);
    if (module.CurrentLogPath != "L" + drivePath)
        state.SkipWithError("CurFile was not taken for the selected log");
    state.SetLabel(bytes >= (1ULL << 30) ? "2 GiB live log" : "1 MiB live log");
    fs::remove(log);
}
BENCHMARK(BM_FixLiveLogHeader)->Arg(1 << 20)->Arg((2LL << 30) - 2)->Unit(benchmark::kMicrosecond);

// --- time read-out --------------------------------------------------------

void BM_FormatTime(benchmark::State& state)
{
    Prefix& prefix = prefixWith(0);
    Module1 module(prefix.drives);
    int32_t seconds = 0;
    for (auto _ : state) {
        module.TimeSeconds = seconds;
        module.FormatTime();
        benchmark::DoNotOptimize(module.TimeText.data());
        // Steps through minutes, hours and the day wrap alike.
        seconds = (seconds + 7919) % 100000;
    }
}
BENCHMARK(BM_FormatTime);

// --- timer tick while playing ---------------------------------------------

int32_t soundServerDevice()
{
    const WaveOut devices;
    for (const char* name : {"pulse", "default"}) {
        for (int32_t i = 0; i < devices.DeviceCount(); ++i) {
            if (devices.DeviceName(i) == QLatin1String(name))
                return i;
        }
    }
    return -1;
}

// The console playing a one-minute 48 kHz stereo log on the sound server.
struct PlayingConsole {
    PlayingConsole() : prefix(prefixWith(1000)), module(prefix.drives)
    {
        const fs::path log = prefix.logs / "20200101-0000.wav";
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        if (SNDFILE* out = sf_open(log.c_str(), SFM_WRITE, &info)) {
            std::vector<short> block(2 * 48000);
            for (size_t i = 0; i < 48000; ++i)
                block[2 * i] = block[2 * i + 1] = static_cast<short>(8000 * std::sin(static_cast<double>(i) * 0.0573));
            for (int second = 0; second < 60; ++second)
                sf_writef_short(out, block.data(), 48000);
            sf_close(out);
        }
        window = new mnuMenu(module);
        module.PlayDevice = static_cast<int16_t>(soundServerDevice());
        window->show();
        serveUntil([this] { return !window->logList().loading(); });
        window->lstLogs->setCurrentIndex(window->lstLogs->model()->index(0, 0));
        window->playback().cmdPlay_Click();
        QElapsedTimer waited;
        waited.start();
        while (module.PlayerOpen != -1 && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        // The ticks are driven by the benchmark itself.
        window->Timer1->stop();
    }
    ~PlayingConsole()
    {
        delete window.data();
        drainEvents();
        // The next window made over this prefix fills the list from an empty logs folder again.
        fs::remove(prefix.logs / "20200101-0000.wav");
        std::ofstream(prefix.logs / "20200101-0000.wav");
    }
    bool playing() const { return module.PlayerOpen == -1 && window->WavePlayer->isPlaying(); }

    Prefix& prefix;
    Module1 module;
    QPointer<mnuMenu> window;
};

// A console playing on the sound server, or nothing with the benchmark marked skipped.
std::unique_ptr<PlayingConsole> playingConsoleOrSkip(benchmark::State& state)
{
    if (soundServerDevice() < 0) {
        state.SkipWithError("no sound server device");
        return nullptr;
    }
    auto console = std::make_unique<PlayingConsole>();
    if (!console->playing()) {
        state.SkipWithError("the console did not start playing");
        return nullptr;
    }
    return console;
}

// The handler alone: clock, both read-outs, the slider.
void BM_TimerTick(benchmark::State& state)
{
    const auto console = playingConsoleOrSkip(state);
    if (!console)
        return;
    RangeControl& range = console->window->range();
    for (auto _ : state)
        range.Timer1_Timer();
    if (!console->playing())
        state.SkipWithError("playback stopped during the ticks");
}
BENCHMARK(BM_TimerTick)->Unit(benchmark::kMicrosecond);

// The handler and the repaint it causes, as the event loop does it every 50 ms.
void BM_TimerTickWithRepaint(benchmark::State& state)
{
    const auto console = playingConsoleOrSkip(state);
    if (!console)
        return;
    RangeControl& range = console->window->range();
    for (auto _ : state) {
        range.Timer1_Timer();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    if (!console->playing())
        state.SkipWithError("playback stopped during the ticks");
}
BENCHMARK(BM_TimerTickWithRepaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
