#include "errorbox/DialogTool.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace tamsel
{

namespace
{

// zenity ends with status 1 both when the user closes its box and when it could not show one (no usable
// display, a broken desktop), so the status alone cannot tell them apart; what can is the time. Failing takes
// a fraction of a second, while a box has to appear, be read and be dismissed before its tool ends with a
// failure status. A failure sooner than this counts as no box shown: at worst a very quick user sees the
// message a second time, in the box of our own, which is better than seeing no box at all.
constexpr std::chrono::milliseconds quickFailure{2000};

// The signals that end the program from outside: a plain kill, Control-C and a closed terminal or session.
constexpr int endingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// How long a tool that was asked to end may take before it is killed.
constexpr std::chrono::milliseconds toolEndGrace{2000};

// The running tool and the signal caught while it runs, shared with the signal handler. A box left on the
// screen, its program gone, would no longer mean anything, and its tool would be left to init.
std::atomic<pid_t> runningTool{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may use only lock-free atomics");
std::atomic<int> caughtSignal{0};

extern "C" void endTool(int signal)
{
    const int savedErrno = errno;
    caughtSignal = signal;
    // Whichever thread takes the signal, the tool ends, and with it the wait for it.
    const pid_t tool = runningTool.load();
    if (tool > 0)
        kill(tool, SIGTERM);
    errno = savedErrno;
}

// While it lives, the signals that would end the program end the tool first; the program then ends by the signal
// it was sent, as it would have without a box, with its handling put back to the default. A signal that was
// ignored stays ignored, by the tool too.
class ToolGuard
{
public:
    ToolGuard()
    {
        caughtSignal = 0;
        struct sigaction action = {};
        action.sa_handler = endTool;
        sigemptyset(&action.sa_mask);
        for (const int signal : endingSignals)
            sigaddset(&action.sa_mask, signal);
        action.sa_flags = 0; // no SA_RESTART: the wait for the tool returns to notice the signal
        for (std::size_t i = 0; i < std::size(endingSignals); ++i)
        {
            sigaction(endingSignals[i], nullptr, &m_previous[i]);
            m_caught[i] = m_previous[i].sa_handler != SIG_IGN;
            if (m_caught[i])
                sigaction(endingSignals[i], &action, nullptr);
        }
    }

    ToolGuard(const ToolGuard&) = delete;
    ToolGuard& operator=(const ToolGuard&) = delete;

    ~ToolGuard()
    {
        runningTool = 0;
        for (std::size_t i = 0; i < std::size(endingSignals); ++i)
            if (m_caught[i])
                sigaction(endingSignals[i], &m_previous[i], nullptr);
        if (caughtSignal != 0)
            endBySignal(caughtSignal);
    }

    // The tool has been started: from now on a signal ends it, and one that came before does so now.
    void started(pid_t tool)
    {
        runningTool = tool;
        if (caughtSignal != 0)
            kill(tool, SIGTERM);
    }

    bool signalled() const { return caughtSignal != 0; }

private:
    [[noreturn]] static void endBySignal(int signal)
    {
        std::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal);
        // The default action of each of these signals ends the process; were it to come back, the status still
        // says which signal it was, as a shell says it.
        std::_Exit(128 + signal);
    }

    struct sigaction m_previous[std::size(endingSignals)];
    bool m_caught[std::size(endingSignals)];
};

// While it lives, SIGCHLD has its default action. A program started with SIGCHLD ignored (some supervisors start
// theirs so, and exec keeps it) would have its children reaped by the kernel, with no status left to wait for; the
// tool's status is what tells whether the user saw its box. What was there before is put back.
class ChildStatusGuard
{
public:
    ChildStatusGuard()
    {
        struct sigaction byDefault = {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        sigaction(SIGCHLD, &byDefault, &m_previous);
    }

    ChildStatusGuard(const ChildStatusGuard&) = delete;
    ChildStatusGuard& operator=(const ChildStatusGuard&) = delete;

    ~ChildStatusGuard() { sigaction(SIGCHLD, &m_previous, nullptr); }

private:
    struct sigaction m_previous;
};

// Waits for the tool to end and returns its wait status, or -1 when it cannot be waited for. Once a signal has
// asked it to end, it gets toolEndGrace before it is killed.
int waitForTool(pid_t tool, const ToolGuard& guard)
{
    auto deadline = std::chrono::steady_clock::time_point::max();
    for (;;)
    {
        // Waited for without reaping it: until it is reaped its process id goes to no other process, which a
        // signal's handler would then end in its place.
        siginfo_t info{};
        const int options = WEXITED | WNOWAIT | (guard.signalled() ? WNOHANG : 0);
        if (waitid(P_PID, static_cast<id_t>(tool), &info, options) == 0)
        {
            if (info.si_pid == tool)
                break;
        }
        else if (errno != EINTR)
            return -1;
        if (!guard.signalled())
            continue;
        const auto now = std::chrono::steady_clock::now();
        if (deadline == std::chrono::steady_clock::time_point::max())
            deadline = now + toolEndGrace;
        else if (now >= deadline)
            kill(tool, SIGKILL);
        const timespec pause{0, 10'000'000}; // 10 ms
        nanosleep(&pause, nullptr);
    }
    runningTool = 0;
    int status = 0;
    while (waitpid(tool, &status, 0) != tool)
        if (errno != EINTR)
            return -1;
    return status;
}

// The full path of an executable found on PATH, or an empty string.
std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    const std::string dirs = path;
    std::size_t start = 0;
    while (start <= dirs.size())
    {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Runs a dialog tool with exactly these arguments (no shell sees the message), waits for it to end and tells
// whether it showed its box: not when it could not be started, was killed by a signal, or ended with a failure
// status within quickFailure.
bool runDialog(const std::string& program, std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The tool gets SIGPIPE's default back: an ignored signal stays ignored across exec.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const auto started = std::chrono::steady_clock::now();
    const ChildStatusGuard childStatus;
    // From here on a signal that would end the program ends the tool first, and then the program on the way out.
    ToolGuard guard;
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return false;
    guard.started(child);
    const int status = waitForTool(child, guard);
    if (status < 0 || !WIFEXITED(status))
        return false;
    return WEXITSTATUS(status) == 0 || std::chrono::steady_clock::now() - started >= quickFailure;
}

} // namespace

bool showWithTool(const std::vector<DialogTool>& tools)
{
    for (const DialogTool& tool : tools)
    {
        const std::string program = findOnPath(tool.name);
        if (!program.empty() && runDialog(program, tool.args))
            return true;
    }
    return false;
}

} // namespace tamsel
