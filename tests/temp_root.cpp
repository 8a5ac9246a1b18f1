#include "tests/temp_root.h"

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace testsupport {

TempRoot::TempRoot(std::initializer_list<char const*> folders)
{
    char tmpl[] = "/tmp/gw-root-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("a temporary board root cannot be made");
        std::abort();
    }
    dir_ = tmpl;
    board::setRoot(dir_);
    for (char const* f : folders)
        std::filesystem::create_directories(dir_ + f);
}

TempRoot::~TempRoot()
{
    board::setRoot(saved_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void TempRoot::writeFile(std::string const& boardPath, std::string const& text) const
{
    std::filesystem::create_directories(std::filesystem::path(dir_ + boardPath).parent_path());
    std::ofstream(dir_ + boardPath) << text;
}

std::optional<std::string> TempRoot::readFile(std::string const& boardPath) const
{
    std::ifstream in(dir_ + boardPath, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

FrozenWallClock::FrozenWallClock(long seconds, long microseconds)
{
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    set(seconds, microseconds);
}

FrozenWallClock::~FrozenWallClock() { Mux::g_tv_time = Mux::timeval(); }

void FrozenWallClock::set(long seconds, long microseconds)
{
    Mux::g_tv_time = Mux::timeval(int(seconds), int(microseconds));
}

}  // namespace testsupport
