#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

// Figures of a running process read from /proc, for the tests that watch a daemon (or their
// own process).
namespace testsupport {

// The fields of the stat line of the process in the folder ("/proc/<pid>") after its command
// name, from the state (field 3) on; empty once the process is gone.
inline std::istringstream statFields(std::string const& folder)
{
    std::string text;
    std::getline(std::ifstream(folder + "/stat"), text);
    std::size_t const name = text.rfind(')');
    return std::istringstream(name == std::string::npos ? "" : text.substr(name + 1));
}

// The processor time (user and system, fields 14 and 15) it has used, in seconds.
inline double cpuSeconds(pid_t pid)
{
    std::istringstream fields = statFields("/proc/" + std::to_string(pid));
    std::string skip;
    for (int field = 3; field < 14; ++field)
        fields >> skip;
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / double(::sysconf(_SC_CLK_TCK));
}

// The processor time it uses while the test sleeps for the period, in seconds.
inline double cpuSecondsOver(pid_t pid, std::chrono::milliseconds period)
{
    double const before = cpuSeconds(pid);
    std::this_thread::sleep_for(period);
    return cpuSeconds(pid) - before;
}

// A figure of /proc/<pid>/status in kB ("VmRSS": the resident memory, "VmHWM": its peak);
// -1 when not there.
inline long statusKb(pid_t pid, std::string const& key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

// The descriptors it holds, by number, each with what it leads to ("socket:[4711]"); with
// pipes passed over when asked (the sanitizers of the test build open and close pipes of
// their own at any moment).
inline std::map<int, std::string> descriptorTargets(pid_t pid, bool pipes = true)
{
    std::map<int, std::string> out;
    std::error_code gone;
    for (auto const& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone)) {
        // A descriptor closed since the listing is left out.
        std::string const target = std::filesystem::read_symlink(fd.path(), gone).string();
        if (!gone && (pipes || target.rfind("pipe:", 0) != 0))
            out[std::stoi(fd.path().filename().string())] = target;
    }
    return out;
}

// How many.
inline long openDescriptors(pid_t pid, bool pipes = true) { return long(descriptorTargets(pid, pipes).size()); }

// Its descriptor that has the file open; -1 when none.
inline int descriptorOn(pid_t pid, std::string const& file)
{
    std::error_code gone;
    for (auto const& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone))
        if (std::filesystem::read_symlink(fd.path(), gone) == file)
            return std::stoi(fd.path().filename().string());
    return -1;
}

// The processes whose parent it is.
inline int childCount(pid_t pid)
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
