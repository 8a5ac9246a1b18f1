// The command path's fuzz program, started as a user starts it (its replay over the corpus):
// when the process started ends, however it ends, every process of its run ends, and the
// run's board root goes with them.

#include "base/fd.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

// Real time within which only a hang leaves the run going, or the program silent.
constexpr int kHangMs = 60000;
constexpr char kReplay[] = GW_COMMAND_PATH_REPLAY;
constexpr char kCorpus[] = GW_COMMAND_PATH_CORPUS;

// The namespace of processes the process is in ("pid") or starts its children in
// ("pid_for_children"), as /proc names it ("pid:[4026532461]"); empty once it has gone.
std::string pidNamespace(pid_t pid, char const* which)
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/" + which, error).string();
}

// The processes in the namespace.
std::vector<pid_t> processesIn(std::string const& space)
{
    std::vector<pid_t> out;
    std::error_code error;
    for (auto const& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::string const name = entry.path().filename();
        pid_t pid = 0;
        auto const [end, bad] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (bad == std::errc() && end == name.data() + name.size() && pidNamespace(pid, "pid") == space)
            out.push_back(pid);
    }
    return out;
}

// The run's board root: the run puts its board's files in memory there, in the mounts of its
// own that the process shares ("/tmp/gw-fuzz-..."); empty when none is there.
std::string boardRootIn(pid_t pid)
{
    std::ifstream mounts("/proc/" + std::to_string(pid) + "/mountinfo");
    for (std::string id, parent, device, root, point; mounts >> id >> parent >> device >> root >> point;
         mounts.ignore(std::numeric_limits<std::streamsize>::max(), '\n'))
        if (point.rfind("/tmp/gw-fuzz-", 0) == 0)
            return point;
    return {};
}

bool exists(std::string const& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The next line of the stream; what came of it when the stream ends or is silent past the
// bound.
std::string nextLine(Fd& stream)
{
    std::string line;
    for (char c = 0; c != '\n';) {
        pollfd in{stream.lowlevel_fd(), POLLIN, 0};
        if (::poll(&in, 1, kHangMs) != 1 || ::read(stream.lowlevel_fd(), &c, 1) != 1)
            break;
        line += c;
    }
    return line;
}

// What the replay writes on its error stream over the whole corpus: a line an input.
std::size_t corpusLineBytes()
{
    std::size_t bytes = 0;
    for (auto const& entry : std::filesystem::directory_iterator(kCorpus))
        bytes += std::string("replaying \n").size() + entry.path().filename().string().size();
    return bytes;
}

// The program, started as from a shell, its error stream written to errors; killed when the
// test ends.
pid_t startProgram(Fd const& errors)
{
    pid_t const parent = ::getpid();
    pid_t const pid = ::fork();
    if (pid != 0)
        return pid;
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
        ::_exit(127);
    int const null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(errors.lowlevel_fd(), 2) < 0)
        ::_exit(127);
    ::close_range(3, ~0u, 0);
    ::execl(kReplay, kReplay, kCorpus, static_cast<char*>(nullptr));
    ::_exit(127);
}

// How the process a user started ends.
struct Ending {
    char const* how;
    int signal;
};

TEST(CommandPathFuzz, EndsEveryProcessOfItsRunWithTheProcessStarted)
{
    Ending const endings[] = {
        {"killed alone (SIGKILL, as the machine out of memory kills it)", SIGKILL},
        {"asked to end (SIGTERM)", SIGTERM},
    };
    for (Ending const& ending : endings) {
        SCOPED_TRACE(ending.how);
        // The test reads the program's error stream up to the run's second input, then no
        // more: the stream holds a page, less than the lines of the whole corpus, so that the
        // run waits to write one and does not end by itself (as a fuzzing run with no time
        // limit does not).
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        Fd errors(ends[0]);
        Fd written(ends[1]);
        int const held = ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        ASSERT_GT(held, 0);
        ASSERT_GT(corpusLineBytes(), std::size_t(held)) << "the run would end by itself";
        pid_t const top = startProgram(written);
        ASSERT_GT(top, 0);
        written.close();
        std::string said;
        for (int inputs = 0; inputs < 2;) {
            std::string const line = nextLine(errors);
            if (line.find("runs among the machine's processes") != std::string::npos) {
                ::kill(top, SIGKILL);
                ::waitpid(top, nullptr, 0);
                GTEST_SKIP() << "no namespace of processes may be made here: the run's end is not checked";
            }
            ASSERT_FALSE(line.empty()) << "the program ended or fell silent:" << said;
            said += "\n" + line;
            inputs += line.rfind("replaying ", 0) == 0;
        }
        // The run is under way: the first process of its namespace, and the run.
        std::string const space = pidNamespace(top, "pid_for_children");
        ASSERT_FALSE(space.empty());
        ASSERT_NE(space, pidNamespace(::getpid(), "pid")) << "the run is among the machine's processes";
        std::string const root = boardRootIn(top);
        ASSERT_FALSE(root.empty()) << "no board root in the run's mounts";
        EXPECT_GE(processesIn(space).size(), 2u);

        ::kill(top, ending.signal);
        bool reaped = false;
        bool const gone = testsupport::runUntil(
            [&] {
                reaped = reaped || ::waitpid(top, nullptr, WNOHANG) == top;
                return reaped && processesIn(space).empty() && !exists(root);
            },
            kHangMs);
        std::string left;
        for (pid_t pid : processesIn(space)) {
            left += " " + std::to_string(pid);
            ::kill(pid, SIGKILL);
        }
        EXPECT_TRUE(gone) << (reaped ? "" : "the process started lives; ") << "processes left:" << left
                          << (exists(root) ? "; the board root is left" : "");
        // What is left of a failed row goes with the test.
        if (!reaped) {
            ::kill(top, SIGKILL);
            ::waitpid(top, nullptr, 0);
        }
        EXPECT_TRUE(testsupport::runUntil([&] { return !exists(root); }, kHangMs)) << root << " is left";
    }
}

}  // namespace
