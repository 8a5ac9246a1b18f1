#include "tests/process_figures.h"

#include "base/leading_number.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace testsupport {

std::istringstream statFields(std::string const& folder)
{
    std::string text;
    std::getline(std::ifstream(folder + "/stat"), text);
    std::size_t const name = text.rfind(')');
    return std::istringstream(name == std::string::npos ? "" : text.substr(name + 1));
}

double cpuSeconds(pid_t pid)
{
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
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    long kb = -1;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0)
            return leadingNumber(std::string_view(line).substr(key.size() + 1), kb) == NumberRead::read ? kb : -1;
    return -1;
}

std::map<int, std::string> descriptorTargets(pid_t pid, bool pipes)
{
    std::map<int, std::string> out;
    std::error_code gone;
    for (auto const& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone)) {
        // A descriptor closed since the listing is left out.
        std::string const target = std::filesystem::read_symlink(fd.path(), gone).string();
        int number = -1;
        if (!gone && (pipes || target.rfind("pipe:", 0) != 0)
            && leadingNumber(fd.path().filename().string(), number) == NumberRead::read)
            out[number] = target;
    }
    return out;
}

long openDescriptors(pid_t pid, bool pipes) { return long(descriptorTargets(pid, pipes).size()); }

int descriptorOn(pid_t pid, std::string const& file)
{
    std::error_code gone;
    for (auto const& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone))
        if (int number = -1; std::filesystem::read_symlink(fd.path(), gone) == file
                             && leadingNumber(fd.path().filename().string(), number) == NumberRead::read)
            return number;
    return -1;
}

std::vector<pid_t> children(pid_t pid, char const* state)
{
    std::vector<pid_t> out;
    std::error_code gone;
    for (auto const& process : std::filesystem::directory_iterator("/proc", gone)) {
        std::istringstream fields = statFields(process.path().string());
        std::string now;
        pid_t parent = 0;
        if ((fields >> now >> parent) && parent == pid && (state == nullptr || now == state))
            out.push_back(pid_t(std::atoi(process.path().filename().c_str())));
    }
    return out;
}

int childCount(pid_t pid) { return int(children(pid).size()); }

}  // namespace testsupport
