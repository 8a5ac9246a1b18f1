#pragma once

#include "board/path.h"
#include "base/clock.h"

#include <initializer_list>
#include <optional>
#include <string>

namespace testsupport {

// A fresh temporary board root for the process while it lives, with the given folders
// (board paths such as "/dev"); removed with its contents afterwards, the former root back.
class TempRoot {
public:
    explicit TempRoot(std::initializer_list<char const*> folders = {});
    ~TempRoot();
    TempRoot(TempRoot const&) = delete;
    TempRoot& operator=(TempRoot const&) = delete;

    std::string const& dir() const { return dir_; }

    // Writes the file at the board path, making the folders it needs.
    void writeFile(std::string const& boardPath, std::string const& text) const;
    // The content of the file at the board path; none when it cannot be read.
    std::optional<std::string> readFile(std::string const& boardPath) const;

private:
    std::string saved_ = board::root();
    std::string dir_;
};

// Local time is UTC and the wall clock stands still at the time given while it lives.
class FrozenWallClock {
public:
    explicit FrozenWallClock(long seconds, long microseconds = 0);
    ~FrozenWallClock();
    FrozenWallClock(FrozenWallClock const&) = delete;
    FrozenWallClock& operator=(FrozenWallClock const&) = delete;

    void set(long seconds, long microseconds = 0);
};

}  // namespace testsupport
