#include "slots/child_program.h"

#include "base/open_files.h"
#include "board/path.h"
#include "runtime/fork.h"
#include "runtime/read_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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

ChildProgramLine::~ChildProgramLine()
{
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);
}

bool ChildProgramLine::Start(ChildProgram child, std::size_t maxLength, unsigned timeoutMs, Whole whole)
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    Fd output(ends[0]);
    child.output = ends[1];
    int const pid = StartChildProgram(child);
    ::close(ends[1]);
    if (pid < 0)
        return false;
    pid_ = pid;
    killed_ = -1;
    maxLength_ = maxLength;
    whole_ = whole;
    line_.clear();
    wait_.Bind(this, &ChildProgramLine::OnExit);
    wait_.Attach(pid);
    output_.Bind("ChildProgramLine::OnOutput", &ChildProgramLine::OnOutput, this);
    output_.Schedule(std::move(output), POLLIN);
    timer_.set(timeoutMs, &ChildProgramLine::OnTimeout, this);
    return true;
}

void ChildProgramLine::OnOutput(int fd, short revents)
{
    if (ReadEnd::ofPoll(revents) == ReadEnd::again)
        return;
    char buffer[64];
    while (line_.size() < maxLength_) {
        ssize_t const n = ::read(fd, buffer, std::min(sizeof buffer, maxLength_ - line_.size()));
        int const error = errno;
        ReadEnd::Kind const k = ReadEnd::ofRead(n, error, revents);
        if (k == ReadEnd::again && error == EINTR)
            continue;
        if (k == ReadEnd::again)
            return;
        if (k == ReadEnd::end)
            break;
        line_.append(buffer, std::size_t(n));
        std::size_t const end = line_.find('\n');
        if (end != std::string::npos) {
            line_.resize(end + 1);
            break;
        }
        if (whole_ != nullptr && whole_(line_))
            break;
    }
    Tell(line_);
}

void ChildProgramLine::OnExit(int)
{
    // What the program wrote is still read to its end.
    pid_ = -1;
    if (!awaited())
        timer_.reset();
}

void ChildProgramLine::OnTimeout()
{
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0)
        killed_ = pid_;
    if (awaited())
        Tell(std::nullopt);
}

void ChildProgramLine::Tell(Line const& line)
{
    output_.Release();
    if (pid_ < 0)
        timer_.reset();
    handler_.Invoke(line);
}

bool ExecFailed(Fd& execReport)
{
    int error = 0;
    bool const failed = execReport && ::read(execReport.lowlevel_fd(), &error, sizeof error) > 0;
    execReport.close();
    return failed;
}
