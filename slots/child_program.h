#pragma once

#include "base/fd.h"

#include <string>
#include <vector>

// How a child program is started with fork and execv.
struct ChildProgram {
    // The board path of the program, found under the board root.
    char const* program = nullptr;
    // The argument vector, args[0] first; made before the fork.
    std::vector<std::string> args;
    // Becomes the child's standard input when 0 or more.
    int input = -1;
    // What the child ends with when the program cannot be executed.
    int failCode = 2;
    // Seconds the child waits before the exec (0: it only yields the processor once).
    unsigned int delay = 0;
    // Lines the child prints on its standard output just before the exec, and when the exec
    // fails; none when null.
    char const* banner = nullptr;
    char const* failText = nullptr;
};

// Starts the child program. In the child the daemon's signal handlers go back to the
// default before the signal mask is cleared (a signal sent before the exec ends the child as
// it would end the program), and only the input named is added to what it inherits (every
// other descriptor of the daemon is close-on-exec); it runs nothing of the daemon's and,
// when the exec fails, ends with _exit(failCode) at once.
// Returns the child's pid, or -1 with errno set when the fork fails.
//
// With execReport, the child's exec failure can be told from the program's own exit code:
// *execReport receives a descriptor that holds data once the child has ended without
// executing the program (see ExecFailed).
int StartChildProgram(ChildProgram const& child, Fd* execReport = nullptr);

// The same with the program's input and exit code of a failed exec only.
int StartChildProgram(char const* program, std::vector<std::string> const& args, int input, int failCode);

// Whether a child whose exit was seen had failed to execute its program (from the
// descriptor StartChildProgram gave; it is closed here).
bool ExecFailed(Fd& execReport);
