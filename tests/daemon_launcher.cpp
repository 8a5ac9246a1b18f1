#include "tests/daemon_launcher.h"

#include "tests/capture.h"
#include "tests/janitor.h"
#include "tests/tcp_client.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace testsupport {

namespace {

std::string slurp(std::string const& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The entry of the environment of every process started by a launcher whose directory (or
// the folder of the launchers) is the folder: "GW_ROOT=<folder>/".
std::string rootEntry(std::string const& folder) { return "GW_ROOT=" + folder + "/"; }

// The folder of the process's launchers' directories, and its janitor, which ends what they
// started and removes it once the process has gone; empty when it could not be made. The
// janitor is started before the process is made a subreaper, so that it is no child of it.
std::string const& launchersFolder()
{
    static std::string const folder = [] {
        char tmpl[] = "/tmp/gw-e2e-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr)
            return std::string();
        if (startJanitor(tmpl, rootEntry(tmpl)) < 0) {
            std::fprintf(stderr, "daemon launcher: no janitor for %s: %s\n", tmpl, std::strerror(errno));
            ::rmdir(tmpl);
            return std::string();
        }
        return std::string(tmpl);
    }();
    return folder;
}

// What wait() returns for a wait status.
int endOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return DaemonLauncher::kUnknownStatus;
}

}  // namespace

std::vector<char const*> DaemonLauncher::defaultFolders()
{
    return {"/usr/local/etc", "/var/run", "/var/log", "/dev"};
}

DaemonLauncher::DaemonLauncher(std::string binary) : DaemonLauncher(std::move(binary), defaultFolders()) {}

DaemonLauncher::DaemonLauncher(std::string binary, std::vector<char const*> const& folders)
    : binary_(std::move(binary)), port_(testsupport::freePort())
{
    std::string const& within = launchersFolder();
    std::string tmpl = within + "/XXXXXX";
    if (!within.empty() && ::mkdtemp(tmpl.data()) != nullptr)
        dir_ = tmpl;
    root_ = dir_ + "/root";
    if (!dir_.empty()) {
        std::filesystem::create_directories(root_);
        for (char const* f : folders)
            std::filesystem::create_directories(root_ + f);
    }
    // A daemon that detaches is re-parented to this process, so that it can be waited for.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

DaemonLauncher::~DaemonLauncher()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (reaper_.joinable())
        reaper_.join();
    // Everything it started ends, found by its root: the daemon (in the foreground, or detached
    // and followed or not) and what child programs left. Those that were not children of the
    // test become so as their parents die, and are reaped in turn with the groups of those
    // found.
    std::unique_lock<std::mutex> lock(mutex_);
    if (!dir_.empty())
        endProcessesWith(rootEntry(dir_).c_str(), &DaemonLauncher::found, this);
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeout);
    for (reapLocked(); !groups_.empty() && std::chrono::steady_clock::now() < deadline; reapLocked())
        wake_.wait_for(lock, std::chrono::milliseconds(5));
    lock.unlock();
    std::error_code ignored;
    if (!dir_.empty())
        std::filesystem::remove_all(dir_, ignored);
}

void DaemonLauncher::found(pid_t pid, void* self)
{
    std::vector<pid_t>& groups = static_cast<DaemonLauncher*>(self)->groups_;
    pid_t const group = ::getpgid(pid);
    if (group > 0 && std::find(groups.begin(), groups.end(), group) == groups.end())
        groups.push_back(group);
}

std::string DaemonLauncher::portOption() const { return "--port=" + std::to_string(port_); }

void DaemonLauncher::writeFile(std::string const& boardPath, std::string const& text) const
{
    std::filesystem::path file(path(boardPath));
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

bool DaemonLauncher::exists(std::string const& boardPath) const
{
    return ::access(path(boardPath).c_str(), F_OK) == 0;
}

std::string DaemonLauncher::readFile(std::string const& boardPath) const { return slurp(path(boardPath)); }

bool DaemonLauncher::start(std::vector<std::string> const& args)
{
    if (running_ || dir_.empty())
        return false;
    std::vector<std::string> all{binary_};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The test's environment with GW_ROOT set, made here: the copy of a process with threads
    // allocates nothing.
    std::vector<std::string> environment{"GW_ROOT=" + root_};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "GW_ROOT=", 8) != 0)
            environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string const out = dir_ + "/stdout";
    std::string const err = dir_ + "/stderr";

    pid_t const parent = ::getpid();
    pid_t const pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        // The leader of a group of its own, so that what it leaves behind is told from the
        // test's other children; stopped when the thread that started it ends.
        ::setpgid(0, 0);
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent)
            ::_exit(127);
        int in = ::open("/dev/null", O_RDONLY);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        // The daemon starts with 0, 1 and 2 only, as from a shell.
        ::close_range(3, ~0U, 0);
        if (openFiles_ && ::setrlimit(RLIMIT_NOFILE, &*openFiles_) != 0)
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    // As the child does, so that the group is there whichever runs first.
    ::setpgid(pid, pid);
    watch(pid, pid);
    running_ = true;
    if (!reaper_.joinable()) {
        // The thread takes no signal: those of the process go to the test's threads.
        sigset_t all, saved;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &saved);
        reaper_ = std::thread(&DaemonLauncher::reaperLoop, this);
        ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
    return true;
}

void DaemonLauncher::watch(pid_t pid, pid_t group)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pid_ = pid;
    end_.reset();
    if (std::find(groups_.begin(), groups_.end(), group) == groups_.end())
        groups_.push_back(group);
}

void DaemonLauncher::reapLocked()
{
    for (auto g = groups_.begin(); g != groups_.end();) {
        int status = 0;
        pid_t ended;
        while ((ended = ::waitpid(-*g, &status, WNOHANG)) > 0)
            if (ended == pid_)
                end_ = endOf(status);
        // No child of the test in the group now, and no member left that could become one.
        if (ended < 0 && errno == ECHILD && ::kill(-*g, 0) != 0 && errno == ESRCH)
            g = groups_.erase(g);
        else
            ++g;
    }
    // Reaped by another waiter of the process: how it ended is not known.
    siginfo_t info{};
    if (!end_ && pid_ > 0 && ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD)
        end_ = kUnknownStatus;
}

void DaemonLauncher::reaperLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        reapLocked();
        wake_.wait_for(lock, std::chrono::milliseconds(10));
    }
}

int DaemonLauncher::run(std::vector<std::string> const& args, int timeoutMs)
{
    if (!start(args))
        return -1;
    return wait(timeoutMs);
}

std::string DaemonLauncher::out() const { return slurp(dir_ + "/stdout"); }

std::string DaemonLauncher::err() const { return slurp(dir_ + "/stderr"); }

std::size_t DaemonLauncher::said(std::string const& part) const { return occurrences(out() + err(), part); }

bool DaemonLauncher::waitFor(std::function<bool()> const& done, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool DaemonLauncher::waitForOut(std::string const& text, int timeoutMs) const
{
    return waitFor([&] { return out().find(text) != std::string::npos; }, timeoutMs);
}

bool DaemonLauncher::waitForErr(std::string const& text, int timeoutMs) const
{
    return waitFor([&] { return err().find(text) != std::string::npos; }, timeoutMs);
}

bool DaemonLauncher::logged(std::string const& text, int timeoutMs) const
{
    return waitFor([&] { return said(text) > 0; }, timeoutMs);
}

bool DaemonLauncher::signal(int sig) const
{
    if (!running_)
        return false;
    // Held, so that the pid is not reaped (and reused) meanwhile; one that ended and was
    // reaped takes the signal as a zombie would.
    std::lock_guard<std::mutex> lock(mutex_);
    return end_ || ::kill(pid_, sig) == 0;
}

bool DaemonLauncher::dumpStatus() const
{
    std::remove(path("/var/log/server-status").c_str());
    return signal(SIGUSR2) && waitFor([&] {
        std::string const dump = readFile("/var/log/server-status");
        return dump.size() >= 3 && dump.compare(dump.size() - 3, 3, "+\n\n") == 0;
    });
}

int DaemonLauncher::wait(int timeoutMs)
{
    if (!running_)
        return -1;
    int end = -1;
    bool const ended = waitFor(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            reapLocked();
            if (end_)
                end = *end_;
            return end_.has_value();
        },
        timeoutMs);
    if (!ended)
        return -1;
    running_ = false;
    return end;
}

int DaemonLauncher::stop(int timeoutMs)
{
    signal(SIGTERM);
    return wait(timeoutMs);
}

bool DaemonLauncher::follow(int& foregroundExit, std::string const& pidFile, int timeoutMs)
{
    foregroundExit = wait(timeoutMs);
    if (foregroundExit == -1)
        return false;
    pid_t detached = -1;
    bool const named = waitFor(
        [&] {
            std::string const text = readFile(pidFile);
            char const* const end = text.data() + text.size();
            auto const [at, error] = std::from_chars(text.data(), end, detached);
            return error == std::errc() && at == end && detached > 0;
        },
        timeoutMs);
    if (!named)
        return false;
    // Its own session's group, which its children share.
    pid_t const group = ::getpgid(detached);
    watch(detached, group > 0 ? group : detached);
    running_ = true;
    return true;
}

}  // namespace testsupport
