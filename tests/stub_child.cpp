#include "tests/stub_child.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

namespace testsupport {

StubChild::StubChild(std::string const& root, std::string const& boardPath) : path_(root + boardPath)
{
    std::filesystem::path const target(path_);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(GW_STUB_CHILD_SCRIPT, target, std::filesystem::copy_options::overwrite_existing);
    ::chmod(path_.c_str(), 0755);
    std::filesystem::remove(path_ + ".log");
    std::filesystem::remove(path_ + ".fds");
    std::filesystem::remove(path_ + ".conf");
}

void StubChild::configure(std::string const& settings) const { std::ofstream(path_ + ".conf") << settings << '\n'; }

namespace {

// The lines of a stub's log as the pid and what that run recorded.
std::vector<std::pair<int, std::string>> entries(std::string const& log)
{
    std::vector<std::pair<int, std::string>> out;
    std::ifstream in(log);
    int pid = 0;
    std::string rest;
    while (in >> pid && std::getline(in, rest))
        out.emplace_back(pid, rest.empty() ? rest : rest.substr(1));
    return out;
}

}  // namespace

std::vector<int> StubChild::pids() const
{
    std::vector<int> out;
    for (auto const& [pid, line] : entries(path_ + ".log"))
        if (std::find(out.begin(), out.end(), pid) == out.end())
            out.push_back(pid);
    return out;
}

std::vector<std::string> StubChild::lines(int pid) const
{
    std::vector<std::string> out;
    for (auto const& [p, line] : entries(path_ + ".log"))
        if (p == pid)
            out.push_back(line);
    return out;
}

std::string StubChild::args(int pid) const
{
    for (std::string const& line : lines(pid))
        if (line.rfind("args", 0) == 0)
            return line.size() > 5 ? line.substr(5) : "";
    return "";
}

bool StubChild::recorded(int pid, std::string const& line) const
{
    std::vector<std::string> const all = lines(pid);
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::map<int, std::string> StubChild::descriptors(int pid) const
{
    std::error_code none;
    std::string const script = std::filesystem::canonical(path_, none).string();
    std::map<int, std::string> out;
    for (auto const& [p, line] : entries(path_ + ".fds")) {
        int fd = -1;
        char what[512] = "";
        if (p == pid && std::sscanf(line.c_str(), "%d %511[^\n]", &fd, what) == 2 && what != script)
            out[fd] = what;
    }
    return out;
}

}  // namespace testsupport
