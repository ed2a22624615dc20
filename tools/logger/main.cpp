#include "options.h"
#include "recorder.h"

#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>

namespace {

// Set by the signal handler, read by the recording loop, which then finishes
// the current file properly: nothing else is safe to do inside a handler.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void requestStop(int)
{
    stopRequested.store(true);
}

void installSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a sleeping loop wakes up at once
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tarnveil::logger;
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "tarnveil-logger: " << error.what() << "\nTry tarnveil-logger --help.\n";
        return 2;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }

    installSignalHandlers();
    try {
        Recorder recorder(options, std::cout);
        if (options.backlogCount > 0)
            recorder.writeBacklog(stopRequested);
        else
            recorder.recordLive(stopRequested);
    } catch (const std::exception& error) {
        std::cerr << "tarnveil-logger: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
