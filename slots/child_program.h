#pragma once

#include <string>
#include <vector>

// Starts a child program with fork and execv. The argument vector (args[0] first) and the
// program's path under the board root are made before the fork. In the child the descriptor
// `input`, when 0 or more, becomes the standard input (inherited across the exec; every other
// descriptor of the daemon is close-on-exec), the signal mask is cleared, and the program is
// executed; when it cannot be, the child ends with _exit(failCode) at once, running nothing
// of the daemon's. Returns the child's pid, or -1 with errno set when the fork fails.
int StartChildProgram(char const* program, std::vector<std::string> const& args, int input, int failCode);
