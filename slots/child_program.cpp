#include "slots/child_program.h"

#include "base/open_files.h"
#include "board/path.h"
#include "runtime/fork.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// Writes a line on the standard output from the child (no stream buffers there).
void say(char const* text)
{
    if (text == nullptr)
        return;
    ssize_t ignored = ::write(1, text, std::strlen(text));
    ignored = ::write(1, "\n", 1);
    (void)ignored;
}

}  // namespace

int StartChildProgram(ChildProgram const& child, Fd* execReport)
{
    std::string const path = board::path(child.program);
    std::vector<char*> argv;
    argv.reserve(child.args.size() + 1);
    for (std::string const& a : child.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // A close-on-exec pipe: the exec closes its write end, a failed exec writes into it.
    int report[2] = {-1, -1};
    if (execReport != nullptr && ::pipe2(report, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;

    pid_t const pid = Process::Fork(Process::ForkFor::program);
    if (pid != 0) {
        int const saved = errno;
        if (report[1] >= 0)
            ::close(report[1]);
        if (execReport != nullptr && pid < 0)
            ::close(report[0]);
        else if (execReport != nullptr)
            *execReport = Fd(report[0]);
        errno = saved;
        return pid;
    }
    // The child (signals at their defaults, none blocked): only calls that are safe after a fork.
    OpenFiles::RestoreForChild();
    if (child.input == 0)
        SetCloexec(0, false);
    else if (child.input > 0)
        ::dup2(child.input, 0);
    if (child.output == 1)
        SetCloexec(1, false);
    else if (child.output >= 0)
        ::dup2(child.output, 1);
    timespec wait{time_t(child.delay), 0};
    ::nanosleep(&wait, nullptr);
    say(child.banner);
    ::execv(path.c_str(), argv.data());
    int const error = errno;
    say(child.failText);
    if (report[1] >= 0) {
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
    }
    ::_exit(child.failCode);
}

int StartChildProgram(char const* program, std::vector<std::string> const& args, int input, int failCode)
{
    ChildProgram child;
    child.program = program;
    child.args = args;
    child.input = input;
    child.failCode = failCode;
    return StartChildProgram(child);
}

std::optional<std::string> ReadChildProgramLine(ChildProgram child, std::size_t maxLength)
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    Fd const output(ends[0]);
    child.output = ends[1];
    int const pid = StartChildProgram(child);
    ::close(ends[1]);
    if (pid < 0)
        return std::nullopt;
    std::string line;
    char c = 0;
    while (line.size() < maxLength && ::read(output.lowlevel_fd(), &c, 1) == 1) {
        line += c;
        if (c == '\n')
            break;
    }
    return line;
}

bool ExecFailed(Fd& execReport)
{
    int error = 0;
    bool const failed = execReport && ::read(execReport.lowlevel_fd(), &error, sizeof error) > 0;
    execReport.close();
    return failed;
}
