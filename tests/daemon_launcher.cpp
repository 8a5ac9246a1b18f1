#include "tests/daemon_launcher.h"

#include "tests/capture.h"
#include "tests/tcp_client.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

std::vector<char const*> DaemonLauncher::defaultFolders()
{
    return {"/usr/local/etc", "/var/run", "/var/log", "/dev"};
}

DaemonLauncher::DaemonLauncher(std::string binary) : DaemonLauncher(std::move(binary), defaultFolders()) {}

DaemonLauncher::DaemonLauncher(std::string binary, std::vector<char const*> const& folders)
    : binary_(std::move(binary)), port_(testsupport::freePort())
{
    char tmpl[] = "/tmp/gw-e2e-XXXXXX";
    char const* made = ::mkdtemp(tmpl);
    dir_ = made ? made : "";
    root_ = dir_ + "/root";
    std::filesystem::create_directories(root_);
    for (char const* f : folders)
        std::filesystem::create_directories(root_ + f);
    // A daemon that detaches is re-parented to this process, so that it can be waited for.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

DaemonLauncher::~DaemonLauncher()
{
    if (running_) {
        ::kill(pid_, SIGKILL);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    if (!dir_.empty())
        std::filesystem::remove_all(dir_, ignored);
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
    std::string const out = dir_ + "/stdout";
    std::string const err = dir_ + "/stderr";

    pid_t const pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::setenv("GW_ROOT", root_.c_str(), 1);
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
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    pid_ = pid;
    running_ = true;
    return true;
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

bool DaemonLauncher::signal(int sig) const { return running_ && ::kill(pid_, sig) == 0; }

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
    int status = 0;
    bool const ended = waitFor(
        [&] {
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            return r == pid_ || (r < 0 && errno != EINTR);
        },
        timeoutMs);
    if (!ended)
        return -1;
    running_ = false;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

int DaemonLauncher::stop(int timeoutMs)
{
    signal(SIGTERM);
    return wait(timeoutMs);
}

bool DaemonLauncher::follow(int& foregroundExit, std::string const& pidFile, int timeoutMs)
{
    foregroundExit = wait(timeoutMs);
    if (foregroundExit < 0)
        return false;
    pid_t detached = -1;
    bool const named = waitFor(
        [&] {
            std::string text = readFile(pidFile);
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
                return false;
            detached = pid_t(std::stol(text));
            return true;
        },
        timeoutMs);
    if (!named)
        return false;
    pid_ = detached;
    running_ = true;
    return true;
}

}  // namespace testsupport
