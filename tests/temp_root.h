#pragma once

#include "board/path.h"
#include "base/clock.h"

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

namespace testsupport {

// A fresh temporary board root for the process while it lives, with the given folders
// (board paths such as "/dev"); removed with its contents afterwards, the former root back.
class TempRoot {
public:
    explicit TempRoot(std::initializer_list<char const*> folders = {})
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
    ~TempRoot()
    {
        board::setRoot(saved_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempRoot(TempRoot const&) = delete;
    TempRoot& operator=(TempRoot const&) = delete;

    std::string const& dir() const { return dir_; }

    // Writes the file at the board path, making the folders it needs.
    void writeFile(std::string const& boardPath, std::string const& text) const
    {
        std::filesystem::create_directories(std::filesystem::path(dir_ + boardPath).parent_path());
        std::ofstream(dir_ + boardPath) << text;
    }
    // The content of the file at the board path; none when it cannot be read.
    std::optional<std::string> readFile(std::string const& boardPath) const
    {
        std::ifstream in(dir_ + boardPath, std::ios::binary);
        if (!in)
            return std::nullopt;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string saved_ = board::root();
    std::string dir_;
};

// Local time is UTC and the wall clock stands still at the time given while it lives.
class FrozenWallClock {
public:
    explicit FrozenWallClock(long seconds, long microseconds = 0)
    {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        set(seconds, microseconds);
    }
    ~FrozenWallClock() { Mux::g_tv_time = Mux::timeval(); }
    FrozenWallClock(FrozenWallClock const&) = delete;
    FrozenWallClock& operator=(FrozenWallClock const&) = delete;

    void set(long seconds, long microseconds = 0) { Mux::g_tv_time = Mux::timeval(int(seconds), int(microseconds)); }
};

}  // namespace testsupport
