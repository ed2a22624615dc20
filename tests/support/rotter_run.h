#pragma once

#include "platform/unique_fd.h"
#include "support/temp_dir.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tarnveil::test {

// A JACK server of its own on the dummy driver, which needs no sound card, with
// a steady tone on it for recordings to carry: Debian's rotter records from
// such a server as a station's logger would from its mixing desk.
//
// The server's name is held by this object alone, so that test programs running
// side by side never meet on one. It and its clients never outlive their owner:
// the destructor ends them (killing what does not end in time) and removes what
// a killed one left in /dev/shm, and they die with the process that started
// them should that process crash.
class JackServer {
public:
    // Why rotter cannot record here (a program or library missing), or "".
    static std::string unavailable();

    // Throws std::runtime_error, saying why, when the server does not come up.
    JackServer();
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // The tone's ports, left and right.
    static constexpr const char* ToneLeft = "tone:output1";
    static constexpr const char* ToneRight = "tone:output2";

    // Runs a program as a client of this server, with `environment` added to its
    // own; its output goes to a file named `label` in the server's log folder.
    pid_t startClient(const std::vector<std::string>& command, const std::string& label,
                      const std::vector<std::string>& environment = {}) const;
    // Runs JACK tools (jack_connect ...) side by side to their end; those that failed.
    std::vector<std::vector<std::string>> runTools(const std::vector<std::vector<std::string>>& commands) const;
    // A file of the client started as `label`: its output, or what it adds to that name.
    std::filesystem::path file(const std::string& label) const { return logs_ / label; }

private:
    void removeLeftovers() const;

    TempDir logs_;
    UniqueFd nameHeld_;
    std::string name_;
    pid_t server_ = -1;
    pid_t tone_ = -1;
};

// How rotter is told to record (its options -L and -f), and the local time its
// clock shows ("2026-12-07 14:59:59"), which names its files: the clock stands
// still there until Rotter::setClock moves it, so that an hour turns exactly
// when a test wants. Empty: the real time.
struct RotterRecording {
    std::string layout = "flat";
    std::string format = "wav";
    std::string clock;
};

// rotter recording the server's tone into `root`. The constructor returns once
// it records the tone; it throws std::runtime_error, saying why, when rotter
// does not start.
class Rotter {
public:
    // Whether this build of rotter offers `format` (rotter -h lists them).
    static bool records(const std::string& format);

    Rotter(const JackServer& server, const std::filesystem::path& root, const RotterRecording& recording);
    ~Rotter();
    Rotter(const Rotter&) = delete;
    Rotter& operator=(const Rotter&) = delete;

    // Ends the recording as its operator would: rotter closes its file, giving
    // the header its true sizes. True when rotter ended cleanly.
    bool stop();
    // What rotter said, for a failure message.
    std::string output() const;
    // Sets the clock of a recording started with one.
    void setClock(const std::string& time) const;

private:
    std::filesystem::path clockFile() const;

    const JackServer& server_;
    std::string client_;
    pid_t process_ = -1;
    bool stopped_ = false;
    int status_ = -1;
};

} // namespace tarnveil::test
