#pragma once

#include "base/fd.h"
#include "runtime/async_handler.h"
#include "runtime/child_wait.h"
#include "runtime/event.h"
#include "runtime/timer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How a child program is started with fork and execv.
struct ChildProgram {
    // The board path of the program, found under the board root.
    char const* program = nullptr;
    // The argument vector, args[0] first; made before the fork.
    std::vector<std::string> args;
    // Become the child's standard input and output when 0 or more.
    int input = -1;
    int output = -1;
    // What the child ends with when the program cannot be executed.
    int failCode = 2;
    // Seconds the child waits before the exec (0: it only yields the processor once).
    unsigned int delay = 0;
    // Lines the child prints on its standard output just before the exec, and when the exec
    // fails; none when null.
    char const* banner = nullptr;
    char const* failText = nullptr;
};

// Starts the child program (forked by Process::Fork: a signal that reaches it before the exec
// acts as on the program). Only the input and output named are added to what it inherits
// (every other descriptor of the daemon is close-on-exec); it runs nothing of the daemon's
// and, when the exec fails, ends with _exit(failCode) at once.
// Returns the child's pid, or -1 with errno set when the fork fails.
//
// With execReport, the child's exec failure can be told from the program's own exit code:
// *execReport receives a descriptor that holds data once the child has ended without
// executing the program (see ExecFailed).
int StartChildProgram(ChildProgram const& child, Fd* execReport = nullptr);

// The same with the program's input and exit code of a failed exec only.
int StartChildProgram(char const* program, std::vector<std::string> const& args, int input, int failCode);

// The first line a child program writes, taken without waiting in the loop: the program runs
// with its standard output on a pipe that the loop polls, and what it writes up to its first
// end of line (included), its end, maxLength characters, or what the caller's rule finds
// whole before those, is its line. The handler hears
// once, from the loop: the line (empty when the program ended without writing), or nothing
// when the program has not told its line within the time limit; the program is then killed.
// A program that still runs when the time limit is up, or when the object goes, is killed
// too; the child-exit service reaps it.
class ChildProgramLine {
public:
    typedef std::optional<std::string> Line;
    // Whether what the program wrote so far, without an end of line, is a whole line already.
    typedef bool (*Whole)(std::string_view text);

    ChildProgramLine() = default;
    ~ChildProgramLine();
    ChildProgramLine(ChildProgramLine const&) = delete;
    ChildProgramLine& operator=(ChildProgramLine const&) = delete;

    template <class T>
    void Bind(void (T::*action)(Line const&), T* object)
    {
        handler_.Bind(action, object);
    }
    // Starts the program; false, and the handler is never called, when the pipe or the fork
    // fails. whole, when not null, is asked after every read that leaves the line open.
    bool Start(ChildProgram child, std::size_t maxLength, unsigned timeoutMs, Whole whole = nullptr);
    // Started, and the handler not called yet.
    bool awaited() const { return output_.IsActive(); }
    // The program's pid; -1 before the start and once its end was seen.
    int pid() const { return pid_; }
    // The program the time limit killed; -1 when none was (it had ended, and something it
    // left behind held its output open).
    int killed() const { return killed_; }

private:
    void OnOutput(int fd, short revents);
    void OnExit(int status);
    void OnTimeout();
    // Stops reading and hands the line on; nothing may touch the object afterwards.
    void Tell(Line const& line);

    Event output_;
    ChildWait wait_;
    Timer timer_;
    std::string line_;
    std::size_t maxLength_ = 0;
    Whole whole_ = nullptr;
    int pid_ = -1;
    int killed_ = -1;
    ASync::BoundHandler<Line const&> handler_;
};

// Whether a child whose exit was seen had failed to execute its program (from the
// descriptor StartChildProgram gave; it is closed here).
bool ExecFailed(Fd& execReport);
