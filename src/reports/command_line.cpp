#include "reports/command_line.h"

#include "console/live_log_header.h"
#include "program/module1.h"
#include "loudness/silence_defaults.h"
#include "platform/drive_map.h"
#include "platform/failure.h"
#include "reports/report_csv.h"
#include "reports/span_report.h"
#include "settings/settings_file.h"
#include "share/drive_lane.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnveil {

namespace {

constexpr const char* HelpText =
    "Usage: tarnveil                 open the console\n"
    "       tarnveil --help          show this text\n"
    "       tarnveil report silence --from \"YYYY-MM-DD HH:MM:SS\" --to \"YYYY-MM-DD HH:MM:SS\"\n"
    "                               [--threshold DBFS] [--min SECONDS]\n"
    "       tarnveil report loudness --from \"YYYY-MM-DD HH:MM:SS\" --to \"YYYY-MM-DD HH:MM:SS\"\n"
    "\n"
    "The reports need no window and no display. They read the logs of the logger's\n"
    "drive as the console does (the drive letter from ZeVudi.ini, the letters mapped\n"
    "in $TARNVEIL_PREFIX/dosdevices) and keep what they measure in the same catalog.\n"
    "\n"
    "report silence   every stretch in the span in which no sample reaches the\n"
    "                 threshold (default -50 dBFS sample peak) for at least the\n"
    "                 minimum (default 10 s), as CSV: start,end,length_s,log\n"
    "report loudness  each log in the span, as CSV:\n"
    "                 log,start,integrated_lufs,range_lu,max_sample_peak_dbfs\n"
    "\n"
    "Times are local, written YYYY-MM-DD HH:MM:SS.mmm. The exit status is 0 when\n"
    "every log in the span was read; otherwise each failure's number and\n"
    "description go to standard error, as the console's error window shows them.\n";

struct Request {
    bool silence = false;
    int64_t fromMs = 0;
    int64_t toMs = 0;
    double thresholdDbfs = DefaultSilenceThresholdDbfs;
    int64_t minimumMs = DefaultSilenceMinimumMs;
};

Failure badArgument(const std::string& detail)
{
    return Failure(FailureCode::InvalidArgument, detail + " (see tarnveil --help)");
}

int64_t parseMoment(const std::string& option, const std::string& text)
{
    const QDateTime moment = QDateTime::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!moment.isValid())
        throw badArgument(option + " \"" + text + "\" is not YYYY-MM-DD HH:MM:SS");
    return moment.toMSecsSinceEpoch();
}

double parseNumber(const std::string& option, const std::string& text)
{
    bool ok = false;
    const double value = QString::fromStdString(text).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw badArgument(option + " \"" + text + "\" is not a number");
    return value;
}

Request parseReport(const std::vector<std::string>& args)
{
    if (args.size() < 2 || (args[1] != "silence" && args[1] != "loudness"))
        throw badArgument("report silence or report loudness");
    Request request;
    request.silence = args[1] == "silence";
    std::map<std::string, std::string> options;
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::string& option = args[i];
        const bool known = option == "--from" || option == "--to"
                           || (request.silence && (option == "--threshold" || option == "--min"));
        if (!known)
            throw badArgument("unknown option " + option);
        if (i + 1 >= args.size())
            throw badArgument(option + " needs a value");
        options[option] = args[i + 1];
    }
    if (!options.contains("--from") || !options.contains("--to"))
        throw badArgument("--from and --to are both needed");
    request.fromMs = parseMoment("--from", options["--from"]);
    request.toMs = parseMoment("--to", options["--to"]);
    if (request.toMs <= request.fromMs)
        throw badArgument("--to must come after --from");
    if (options.contains("--threshold"))
        request.thresholdDbfs = parseNumber("--threshold", options["--threshold"]);
    if (options.contains("--min")) {
        const double seconds = parseNumber("--min", options["--min"]);
        if (seconds < 0)
            throw badArgument("--min must not be negative");
        request.minimumMs = static_cast<int64_t>(seconds * 1000);
    }
    return request;
}

// What the measuring thread hands back; it holds a share, so a thread stuck on
// a dead share may outlive the wait.
struct Outcome {
    MeasureControl control;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    SpanReport report;
    std::string failure;
};

[[noreturn]] void failAndLeave(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    // A thread may be stuck in the kernel on the drive: leave without waiting for it.
    std::_Exit(1);
}

int runReport(const Request& request)
{
    const DriveMap drives(DriveMap::defaultPrefix());
    Module1 module(drives);
    ReadSettings(module);
    const LoggerPlaces places = LoggerPlaces::of(module);
    const std::string place = places.logFolderDrivePath();

    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, places, request] {
        SpanReport report;
        std::string failure;
        try {
            LogCatalog catalog;
            report = collectSpanReport(catalog, places.logFolder, places.curFile, request.fromMs, request.toMs,
                                       outcome->control);
        } catch (const std::exception& error) {
            failure = failureFromException(error).message();
        }
        std::lock_guard lock(outcome->mutex);
        outcome->report = std::move(report);
        outcome->failure = std::move(failure);
        outcome->done = true;
        outcome->finished.notify_all();
    }).detach();

    std::unique_lock lock(outcome->mutex);
    while (!outcome->finished.wait_for(lock, std::chrono::milliseconds(200), [&] { return outcome->done; })) {
        if (outcome->control.stuckForMs() > DriveDeadline.count())
            failAndLeave(Failure(FailureCode::DeviceIoError, place + " does not answer")
                             .message());
    }
    if (!outcome->failure.empty())
        failAndLeave(outcome->failure);

    const SpanReport& report = outcome->report;
    const QString csv = request.silence
                            ? silenceCsv(report, silencesInSpan(report, request.thresholdDbfs, request.minimumMs))
                            : loudnessCsv(report);
    std::fputs(csv.toUtf8().constData(), stdout);
    std::fflush(stdout);
    int status = 0;
    for (const ReportedLog& reported : report.logs) {
        if (!reported.failure.isEmpty()) {
            std::fprintf(stderr, "%s\n", reported.failure.toUtf8().constData());
            status = 1;
        }
    }
    return status;
}

} // namespace

std::optional<int> runCommandLine(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return std::nullopt;
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(HelpText, stdout);
        return 0;
    }
    if (args[0] != "report")
        return std::nullopt;
    // Qt's SQL drivers need an application object; this one needs no display.
    QCoreApplication app(argc, argv);
    try {
        return runReport(parseReport(args));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", failureFromException(error).message().c_str());
        return 1;
    }
}

} // namespace tarnveil
