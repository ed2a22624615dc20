#pragma once

#include <QStringList>

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

namespace tarnveil::test {

// The logger simulator as a child process, its output kept in unnamed files.
//
// Started with fork() and exec, not QProcess: Qt starts its children with a
// clone() the thread checker does not see, and what the child calls before its
// exec runs on the test thread's checker state, after which every hand-off
// that thread makes is lost to the checker.
class LoggerProcess {
public:
    // Throws when the logger cannot be started.
    explicit LoggerProcess(const QStringList& arguments);
    // Kills a logger still running, so that no test leaves one behind.
    ~LoggerProcess();
    LoggerProcess(const LoggerProcess&) = delete;
    LoggerProcess& operator=(const LoggerProcess&) = delete;

    // Asks the logger to finish, as an operator's Ctrl+C would.
    void terminate();
    // True once the logger has ended, within `timeoutMs`.
    bool waitForFinished(int timeoutMs);
    // The exit code of a logger that exited on its own, else -1.
    int exitCode() const;
    std::string standardOutput() const;
    std::string standardError() const;

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    using File = std::unique_ptr<std::FILE, FileCloser>;

    File out_;
    File err_;
    pid_t child_ = -1;
    int status_ = -1; // the wait status once ended
};

} // namespace tarnveil::test
