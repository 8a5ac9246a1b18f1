#include "tests/janitor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace testsupport {

namespace {

// Whether the environment read from the descriptor holds an entry that begins with the text.
bool holds(int fd, char const* entry, std::size_t length)
{
    char buffer[4096];
    // How much of the text the entry read so far matches; past length once it differs.
    std::size_t at = 0;
    for (;;) {
        ssize_t const n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\0')
                at = 0;
            else if (at < length && buffer[i] == entry[at])
                ++at;
            else
                at = length + 1;
            if (at == length)
                return true;
        }
    }
}

// Signals the process if its environment holds the entry; whether it does. The process is
// held by a descriptor before its environment is read, so that the signal goes to that one.
bool signalIfHolds(int proc, char const* name, pid_t pid, char const* entry, std::size_t length, int signal)
{
    int const process = int(::syscall(SYS_pidfd_open, pid, 0));
    if (process < 0)
        return false;
    char path[32];
    std::size_t const digits = std::strlen(name);
    std::memcpy(path, name, digits);
    std::memcpy(path + digits, "/environ", sizeof "/environ");
    int const fd = ::openat(proc, path, O_RDONLY | O_CLOEXEC);
    bool const found = fd >= 0 && holds(fd, entry, length);
    if (fd >= 0)
        ::close(fd);
    if (found && signal != 0)
        ::syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0);
    ::close(process);
    return found;
}

// The pid a name of /proc gives, or 0 when it names none.
pid_t pidNamed(char const* name)
{
    pid_t pid = 0;
    std::size_t n = 0;
    for (; name[n] >= '0' && name[n] <= '9'; ++n) {
        if (n == 9)
            return 0;
        pid = pid * 10 + (name[n] - '0');
    }
    return n > 0 && name[n] == '\0' ? pid : 0;
}

// Signals every process but the caller whose environment holds an entry that begins with the
// text, with the signal (0: none), and calls found, when given, with each one's pid. How many
// there are. A process that has ended (a zombie) holds no environment. The process signalled
// is the one whose environment was read, never another that took its pid meanwhile.
int signalProcessesWith(char const* entry, int signal, void (*found)(pid_t, void*), void* context)
{
    std::size_t const length = std::strlen(entry);
    int const proc = length == 0 ? -1 : ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return 0;
    pid_t const self = ::getpid();
    int count = 0;
    // Records of getdents64: the inode and offset (8 bytes each), the record's size (2), the
    // type (1) and the name, ended by a NUL.
    alignas(8) char listing[8192];
    for (long n; (n = ::syscall(SYS_getdents64, proc, listing, sizeof listing)) > 0;) {
        for (long at = 0; at < n;) {
            unsigned short size = 0;
            std::memcpy(&size, listing + at + 16, sizeof size);
            char const* const name = listing + at + 19;
            at += size;
            pid_t const pid = pidNamed(name);
            if (pid <= 0 || pid == self || !signalIfHolds(proc, name, pid, entry, length, signal))
                continue;
            ++count;
            if (found != nullptr)
                found(pid, context);
        }
    }
    ::close(proc);
    return count;
}

long long nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Polls for the processes every few milliseconds, sending each the signal (0: none), until
// there is none: true then; false when some are still there after ms.
bool noneWithin(char const* entry, int signal, int ms, void (*found)(pid_t, void*), void* context)
{
    long long const deadline = nowMs() + ms;
    while (nowMs() < deadline) {
        timespec const pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
        if (signalProcessesWith(entry, signal, found, context) == 0)
            return true;
    }
    return false;
}

// What the janitor does, with its end of the pipe as 3 and the folder as 4: it waits for the
// end of the pipe, ends the processes, and removes the folder if the path is that one still.
[[noreturn]] void clean(char const* folder, char const* processes, char const* const* remove)
{
    struct sigaction act {};
    act.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &act, nullptr);
    act.sa_handler = SIG_IGN;
    for (int signal : {SIGINT, SIGQUIT, SIGHUP})
        ::sigaction(signal, &act, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::prctl(PR_SET_NAME, "gw-janitor");

    char byte;
    for (ssize_t n; (n = ::read(3, &byte, 1)) > 0 || (n < 0 && errno == EINTR);)
        ;
    if (*processes != '\0')
        endProcessesWith(processes);
    struct stat held {}, named {};
    if (::fstat(4, &held) == 0 && ::stat(folder, &named) == 0 && held.st_dev == named.st_dev
        && held.st_ino == named.st_ino) {
        char* const noEnvironment[] = {nullptr};
        ::execve("/bin/rm", const_cast<char* const*>(remove), noEnvironment);
    }
    ::_exit(0);
}

}  // namespace

void endProcessesWith(char const* entry, void (*found)(pid_t, void*), void* context)
{
    if (signalProcessesWith(entry, SIGTERM, found, context) == 0)
        return;
    signalProcessesWith(entry, SIGCONT, nullptr, nullptr);
    if (noneWithin(entry, 0, kGentleMs, found, context))
        return;
    signalProcessesWith(entry, SIGKILL, found, context);
    noneWithin(entry, SIGKILL, kGentleMs, found, context);
}

int startJanitor(std::string const& folder, std::string const& processes)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    int const held = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Made here: the copies allocate nothing.
    char const* const remove[] = {"rm", "-rf", "--", folder.c_str(), nullptr};
    pid_t const middle = held < 0 ? -1 : ::fork();
    if (middle == 0) {
        // The janitor's descriptors are made here, before it is forked: once this process has
        // ended (which the caller waits for) no copy of the caller's is held anywhere.
        ::setsid();
        int const null = ::open("/dev/null", O_RDWR);
        int const in = ::fcntl(ends[0], F_DUPFD, 5);
        int const root = ::fcntl(held, F_DUPFD, 5);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(null, fd);
        ::dup2(in, 3);
        ::dup2(root, 4);
        ::close_range(5, ~0u, 0);
        if (in < 0 || root < 0 || ::chdir("/") != 0)
            ::_exit(1);
        if (pid_t const janitor = ::fork(); janitor != 0)
            ::_exit(janitor > 0 ? 0 : 1);
        clean(folder.c_str(), processes.c_str(), remove);
    }
    int const error = errno;
    ::close(ends[0]);
    if (held >= 0)
        ::close(held);
    int status = -1;
    while (middle > 0 && ::waitpid(middle, &status, 0) < 0 && errno == EINTR)
        ;
    if (middle < 0 || status != 0) {
        ::close(ends[1]);
        errno = middle < 0 ? error : ECHILD;
        return -1;
    }
    return ends[1];
}

}  // namespace testsupport
