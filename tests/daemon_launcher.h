#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Runs a daemon executable as a separate process under a fresh temporary GW_ROOT, for
// end-to-end tests.
//
// The launcher makes a temporary directory holding the board root (root()) and the
// files that take the process's standard output and error; it chooses a free TCP port
// (port(), portOption()). start() runs the binary with exactly the arguments given and
// GW_ROOT set; the test then watches its output and files, signals it, and stop() sends
// SIGTERM and returns the exit code. A daemon that detaches (-D) is followed through its
// pid file: the test process is made a child subreaper, so the detached process becomes
// its child and its exit code can be read too.
//
// Being a subreaper, the test process also adopts whatever the daemon's child programs leave
// behind. The binary runs as the leader of a process group of its own, and a reaper thread of
// the launcher reaps every ended child of the test in that group (and, after follow(), in the
// detached daemon's), keeping the leader's status for wait(); children of the test in other
// groups (those of the in-process child reaping, of other launchers) are left to their owners.
// The reaper does not depend on the test calling the launcher: a test that only talks TCP
// for minutes gathers no zombie. A thread rather than SIGCHLD, which the in-process runtime
// owns. A status that another waiter of the test took (a wait for any child, the in-process
// child reaping's) reads as unknown (kUnknownStatus), never as a clean end.
//
// What it started ends with it, however the test ends. The leader gets SIGTERM when the thread
// that started it ends, so that a test interrupted from the terminal (whose Ctrl-C no longer
// reaches a group of its own) stops the daemon as the Ctrl-C did, and the daemon its child
// programs. When the launcher goes, every process whose GW_ROOT lies in its directory (the
// daemon, detached and followed or not, and what its child programs left) gets SIGTERM, then
// SIGKILL if still there; those that were children of the test are reaped, and the directory
// is removed. A test process that ends without that (Ctrl-C, a crash, SIGKILL) leaves the same
// to a janitor process (tests/janitor.h), which does it for all the launchers of the process
// once the process has gone.
class DaemonLauncher {
public:
    // Generous bound of every wait, in milliseconds of real time.
    static constexpr int kTimeout = 20000;
    // What wait() returns for a process that has ended when another waiter of the test took
    // its status: no check of a clean end (0) passes.
    static constexpr int kUnknownStatus = -2;

    // The folders the daemon writes to: configuration, pid file, status dump, syslog.
    static std::vector<char const*> defaultFolders();

    explicit DaemonLauncher(std::string binary);
    DaemonLauncher(std::string binary, std::vector<char const*> const& folders);
    ~DaemonLauncher();
    DaemonLauncher(DaemonLauncher const&) = delete;
    DaemonLauncher& operator=(DaemonLauncher const&) = delete;

    std::string const& root() const { return root_; }
    // The file system path of a board path under the root.
    std::string path(std::string const& boardPath) const { return root_ + boardPath; }
    int port() const { return port_; }
    // "--port=<port()>".
    std::string portOption() const;

    // Board files under the root (folders are made as needed).
    void writeFile(std::string const& boardPath, std::string const& text) const;
    bool exists(std::string const& boardPath) const;
    std::string readFile(std::string const& boardPath) const;

    // The limits of open descriptors the binary starts with (by default the test's own).
    void limitOpenFiles(rlim_t soft, rlim_t hard) { openFiles_ = rlimit{soft, hard}; }

    // Starts the binary with these arguments (argv[0] is the binary). False when the
    // process could not be made.
    bool start(std::vector<std::string> const& args);
    // Starts it and waits for its end: the exit code (see wait()).
    int run(std::vector<std::string> const& args, int timeoutMs = kTimeout);

    // The watched process (the detached one after follow()); -1 before start().
    pid_t pid() const { return pid_; }
    bool running() const { return running_; }

    // Everything written to the standard output and error so far.
    std::string out() const;
    std::string err() const;
    // How often the part occurs in what it wrote to both (a log line).
    std::size_t said(std::string const& part) const;

    // Waits until done() is true, asking it every few milliseconds.
    static bool waitFor(std::function<bool()> const& done, int timeoutMs = kTimeout);
    bool waitForOut(std::string const& text, int timeoutMs = kTimeout) const;
    bool waitForErr(std::string const& text, int timeoutMs = kTimeout) const;
    // Waits for the text in either (a log line).
    bool logged(std::string const& text, int timeoutMs = kTimeout) const;

    bool signal(int sig) const;
    // Asks for a status dump (SIGUSR2) and waits until the whole of it is in
    // "/var/log/server-status" (the table of descriptors and a blank line end it): the loop
    // is running then.
    bool dumpStatus() const;
    // Waits for the watched process to end: its exit code, 128 + the signal that ended it,
    // kUnknownStatus when another waiter took its status, or -1 when it is still running after
    // timeoutMs.
    int wait(int timeoutMs = kTimeout);
    // SIGTERM, then wait().
    int stop(int timeoutMs = kTimeout);

    // For a daemon that detaches: waits for the started process to end (its exit code is
    // returned through foregroundExit), then for the pid file (a board path) to name the
    // detached process, which is watched from then on. False on time-out.
    bool follow(int& foregroundExit, std::string const& pidFile = "/var/run/server.pid",
                int timeoutMs = kTimeout);

private:
    // Watches the process (its status kept for wait()) and its group.
    void watch(pid_t pid, pid_t group);
    // Reaps the ended children of the test in the watched groups; drops a group once it has
    // no member left. Called with mutex_ held.
    void reapLocked();
    void reaperLoop();
    // Watches the group of a process found by its root (a callback of the janitor's search).
    static void found(pid_t pid, void* self);

    std::string binary_;
    std::string dir_;
    std::string root_;
    int port_;
    pid_t pid_ = -1;
    bool running_ = false;
    std::optional<rlimit> openFiles_;

    // Shared with the reaper thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<pid_t> groups_;
    std::optional<int> end_;  // how the watched process ended (what wait() returns), once known
    bool quit_ = false;
    std::thread reaper_;
};

}  // namespace testsupport
