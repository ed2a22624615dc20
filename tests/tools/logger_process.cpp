#include "logger_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarnveil::test {

namespace {

std::string readAll(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, got);
    return text;
}

} // namespace

LoggerProcess::LoggerProcess(const QStringList& arguments) : out_(std::tmpfile()), err_(std::tmpfile())
{
    if (!out_ || !err_)
        throw std::runtime_error("no room for the logger's output");
    // Everything is prepared before the fork: the child of a threaded process
    // may only call what is safe in a signal handler.
    std::vector<std::string> words{TARNVEIL_LOGGER};
    for (const QString& argument : arguments)
        words.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int out = fileno(out_.get());
    const int err = fileno(err_.get());
    const pid_t parent = ::getpid();

    child_ = ::fork();
    if (child_ < 0)
        throw std::runtime_error("the logger did not start");
    if (child_ == 0) {
        // A test that crashes must not leave a logger recording.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

LoggerProcess::~LoggerProcess()
{
    if (status_ >= 0)
        return;
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
}

void LoggerProcess::terminate()
{
    if (status_ < 0)
        ::kill(child_, SIGTERM);
}

bool LoggerProcess::waitForFinished(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (status_ < 0) {
        int status = 0;
        if (::waitpid(child_, &status, WNOHANG) == child_) {
            status_ = status;
            break;
        }
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int LoggerProcess::exitCode() const
{
    return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string LoggerProcess::standardOutput() const
{
    return readAll(out_.get());
}

std::string LoggerProcess::standardError() const
{
    return readAll(err_.get());
}

} // namespace tarnveil::test
