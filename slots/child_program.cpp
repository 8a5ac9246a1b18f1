#include "slots/child_program.h"

#include "base/fd.h"
#include "board/path.h"

#include <signal.h>
#include <unistd.h>

int StartChildProgram(char const* program, std::vector<std::string> const& args, int input, int failCode)
{
    std::string const path = board::path(program);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t const pid = ::fork();
    if (pid != 0)
        return pid;
    // The child: only calls that are safe after a fork.
    if (input == 0)
        SetCloexec(0, false);
    else if (input > 0)
        ::dup2(input, 0);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(failCode);
}
