#include "support/rotter_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarnveil::test {

namespace {

using namespace std::chrono_literals;

const char* const Programs[] = {"jackd", "jack_wait", "jack_connect", "jack_simple_client", "rotter"};

// Where `program` lies on PATH, or "".
std::string findProgram(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const auto candidate = std::filesystem::path(folder.empty() ? "." : folder) / program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

// The library that gives rotter the clock a test asks for, or "".
std::string fakeClockLibrary()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib", ignored)) {
        const auto library = entry.path() / "faketime" / "libfaketime.so.1";
        if (std::filesystem::exists(library, ignored))
            return library.string();
    }
    return {};
}

// The environment with `added` ("NAME=value") in place of what it held under those names.
std::vector<std::string> environmentWith(const std::vector<std::string>& added)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('=') + 1);
        bool replaced = false;
        for (const std::string& addition : added)
            replaced = replaced || addition.compare(0, name.size(), name) == 0;
        if (!replaced)
            result.push_back(variable);
    }
    result.insert(result.end(), added.begin(), added.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Starts `command` (its program looked up on PATH) with output to `log`.
// Everything is prepared before the fork: the child of a threaded process may
// only call what is safe in a signal handler.
pid_t spawn(std::vector<std::string> command, std::vector<std::string> environment, const std::filesystem::path& log)
{
    const std::string program = findProgram(command.front());
    if (program.empty())
        throw std::runtime_error(command.front() + " is not installed");
    const std::vector<char*> arguments = pointers(command);
    const std::vector<char*> variables = pointers(environment);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("cannot start " + command.front());
    if (child == 0) {
        // A test that crashes must not leave a server or a recorder running.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(input, STDIN_FILENO);
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        ::execve(program.c_str(), arguments.data(), variables.data());
        ::_exit(127);
    }
    return child;
}

// The child's wait status once it has ended, or -1 while it runs. A child
// already waited for counts as ended.
int ended(pid_t process)
{
    int status = 0;
    const pid_t answer = ::waitpid(process, &status, WNOHANG);
    if (answer == process)
        return status;
    return answer < 0 && errno == ECHILD ? 0 : -1;
}

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string uniqueName(const char* prefix)
{
    static std::atomic<int> count{0};
    return prefix + std::to_string(::getpid()) + "-" + std::to_string(count++);
}

// JACK keeps its servers in a registry of eight places in /dev/shm. A server
// that dies without leaving it keeps its place until a server of the same name
// starts, so unique names would fill the registry run by run. The names come
// from a small set instead, each held while its server runs: an abstract socket
// bound to the name is the lock, and the kernel lets go of it however the
// holder ends.
UniqueFd holdServerName(std::string& name)
{
    for (int slot = 0; slot < 64; ++slot) {
        const std::string candidate = "tarnveil-" + std::to_string(slot);
        UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket)
            break;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string key = "tarnveil-jack-server-" + candidate;
        std::memcpy(address.sun_path + 1, key.data(), key.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
        if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            name = candidate;
            return socket;
        }
    }
    throw std::runtime_error("no JACK server name is free");
}

// Sends `signal` (0: none) to a child of this process and waits up to `limit`
// seconds for it to end, then kills it. Its wait status, or -1 when it had to
// be killed.
int stopProcess(pid_t process, int signal, int limit)
{
    // Never a signal to a group or to every process.
    if (process <= 0)
        return -1;
    if (int status = ended(process); status >= 0)
        return status;
    ::kill(process, signal);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
    while (std::chrono::steady_clock::now() < giveUp) {
        const int status = ended(process);
        if (status >= 0)
            return status;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(process, SIGKILL);
    ::waitpid(process, nullptr, 0);
    return -1;
}

} // namespace

std::string JackServer::unavailable()
{
    for (const char* program : Programs) {
        if (findProgram(program).empty())
            return std::string("rotter tests need rotter, jackd2 and faketime (scripts/install-deps.sh test): no ") +
                   program + " here";
    }
    if (fakeClockLibrary().empty())
        return "rotter tests need faketime (scripts/install-deps.sh test): no libfaketime here";
    return {};
}

JackServer::JackServer()
{
    const std::string why = unavailable();
    if (!why.empty())
        throw std::runtime_error(why);
    nameHeld_ = holdServerName(name_);
    // What a killed server of this name left must not stand in this one's way.
    removeLeftovers();
    // Not real-time: a test machine grants no such priority. The long client
    // timeout keeps a recorder on a loaded machine from being thrown off; the
    // short period lets the tools that connect ports come and go quickly.
    server_ = spawn({"jackd", "--name", name_, "--no-realtime", "--timeout", "5000", "-d", "dummy", "-r", "48000",
                     "-p", "256"},
                    environmentWith({}), logs_ / "jackd");
    if (!runTools({{"jack_wait", "--wait", "--timeout", "10"}}).empty() || ended(server_) >= 0) {
        stopProcess(server_, SIGKILL, 1);
        removeLeftovers();
        throw std::runtime_error("the JACK server did not start: " + readAll(file("jackd")));
    }
    tone_ = startClient({"jack_simple_client", "tone"}, "tone");
}

JackServer::~JackServer()
{
    stopProcess(tone_, SIGTERM, 5);
    stopProcess(server_, SIGTERM, 10);
    removeLeftovers();
}

// The server's shared memory and semaphores, and those of its clients, which
// only a server or client that ends cleanly removes itself.
void JackServer::removeLeftovers() const
{
    const std::string uid = std::to_string(::getuid());
    const std::string segments = "jack_" + name_ + "_";
    const std::string semaphores = "jack_sem." + uid + "_" + name_ + "_";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        const std::string entryName = entry.path().filename().string();
        if (entryName.starts_with(segments) || entryName.starts_with(semaphores))
            std::filesystem::remove(entry.path(), ignored);
    }
}

pid_t JackServer::startClient(const std::vector<std::string>& command, const std::string& label,
                              const std::vector<std::string>& environment) const
{
    std::vector<std::string> variables = environment;
    // Clients find this server, and none of them starts a default one of its own.
    variables.push_back("JACK_DEFAULT_SERVER=" + name_);
    variables.emplace_back("JACK_NO_START_SERVER=1");
    return spawn(command, environmentWith(variables), logs_ / label);
}

std::vector<std::vector<std::string>> JackServer::runTools(const std::vector<std::vector<std::string>>& commands) const
{
    std::vector<pid_t> tools;
    for (const auto& command : commands)
        tools.push_back(startClient(command, "tools"));
    std::vector<std::vector<std::string>> failed;
    for (size_t i = 0; i < tools.size(); ++i) {
        const int status = stopProcess(tools[i], 0, 15);
        if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            failed.push_back(commands[i]);
    }
    return failed;
}

bool Rotter::records(const std::string& format)
{
    const TempDir folder;
    if (stopProcess(spawn({"rotter", "-h"}, environmentWith({}), folder / "help"), 0, 10) < 0)
        return false;
    std::istringstream help(readAll(folder / "help"));
    for (std::string line; std::getline(help, line);) {
        std::istringstream words(line);
        std::string first;
        if (words >> first && first == format)
            return true;
    }
    return false;
}

Rotter::Rotter(const JackServer& server, const std::filesystem::path& root, const RotterRecording& recording)
    : server_(server), client_(uniqueName("rotter-"))
{
    std::vector<std::string> environment{"TZ=UTC"};
    if (!recording.clock.empty()) {
        setClock(recording.clock);
        // Read at every look, so that a new time counts at once. Only the wall
        // clock: JACK times its work by the monotonic one.
        environment.insert(environment.end(),
                           {"LD_PRELOAD=" + fakeClockLibrary(), "FAKETIME_TIMESTAMP_FILE=" + clockFile().string(),
                            "FAKETIME_NO_CACHE=1", "FAKETIME_DONT_FAKE_MONOTONIC=1"});
    }
    process_ = server.startClient({"rotter", "-j", "-n", client_, "-L", recording.layout, "-f", recording.format,
                                   root.string()},
                                  client_, environment);
    // Its ports appear once it has registered with the server, which it says.
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    const auto failed = [&] { return ended(process_) >= 0 || std::chrono::steady_clock::now() > giveUp; };
    while (output().find("registered as") == std::string::npos && !failed())
        std::this_thread::sleep_for(10ms);
    // Both at once: each JACK tool takes a few of the server's cycles.
    std::vector<std::vector<std::string>> connections{{"jack_connect", JackServer::ToneLeft, client_ + ":left"},
                                                      {"jack_connect", JackServer::ToneRight, client_ + ":right"}};
    while (!(connections = server.runTools(connections)).empty()) {
        if (failed()) {
            stopProcess(process_, SIGKILL, 1);
            throw std::runtime_error("rotter did not start: " + output());
        }
    }
}

Rotter::~Rotter()
{
    stop();
}

bool Rotter::stop()
{
    if (!stopped_) {
        status_ = stopProcess(process_, SIGTERM, 10);
        stopped_ = true;
        // The fake clock's shared memory, which only a recorder that ends cleanly removes.
        std::error_code ignored;
        std::filesystem::remove("/dev/shm/faketime_shm_" + std::to_string(process_), ignored);
        std::filesystem::remove("/dev/shm/sem.faketime_sem_" + std::to_string(process_), ignored);
    }
    return status_ >= 0 && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

std::string Rotter::output() const
{
    return readAll(server_.file(client_));
}

void Rotter::setClock(const std::string& time) const
{
    // Whole or not at all: rotter may look at any moment.
    const auto next = clockFile().string() + ".next";
    std::ofstream(next) << time << '\n';
    std::filesystem::rename(next, clockFile());
}

std::filesystem::path Rotter::clockFile() const
{
    return server_.file(client_ + ".clock");
}

} // namespace tarnveil::test
