#include "tests/process_figures.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace testsupport {
namespace {

std::string proc(pid_t pid, char const* file) { return "/proc/" + std::to_string(pid) + "/" + file; }

// The fields of a process's stat line after the command name, from the state (field 3) on;
// empty once the process is gone.
std::istringstream statFields(std::string const& folder)
{
    std::string text;
    std::getline(std::ifstream(folder + "/stat"), text);
    std::size_t const name = text.rfind(')');
    return std::istringstream(name == std::string::npos ? "" : text.substr(name + 1));
}

}  // namespace

double cpuSeconds(pid_t pid)
{
    // User and system time are fields 14 and 15.
    std::istringstream fields = statFields("/proc/" + std::to_string(pid));
    std::string skip;
    for (int field = 3; field < 14; ++field)
        fields >> skip;
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

double cpuSecondsOver(pid_t pid, std::chrono::milliseconds period)
{
    double const before = cpuSeconds(pid);
    std::this_thread::sleep_for(period);
    return cpuSeconds(pid) - before;
}

long statusKb(pid_t pid, std::string const& key)
{
    std::ifstream in(proc(pid, "status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

long openDescriptors(pid_t pid, bool pipes)
{
    long n = 0;
    std::error_code gone;
    for (auto const& fd : std::filesystem::directory_iterator(proc(pid, "fd"), gone)) {
        // A descriptor closed since the listing is not counted.
        std::string const target = std::filesystem::read_symlink(fd.path(), gone).string();
        n += !gone && (pipes || target.rfind("pipe:", 0) != 0);
    }
    return n;
}

int childCount(pid_t pid)
{
    int n = 0;
    std::error_code gone;
    for (auto const& process : std::filesystem::directory_iterator("/proc", gone)) {
        std::istringstream fields = statFields(process.path().string());
        std::string state;
        pid_t parent = 0;
        n += (fields >> state >> parent) && parent == pid;
    }
    return n;
}

}  // namespace testsupport
