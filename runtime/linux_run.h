#pragma once

#include "base/fd.h"

#include <string>

namespace Linux {

// The pid file of a running program: "/var/run/<name>.pid" (a board path) holds the
// process id in decimal, without an end of line, while the guard lives, and is removed
// when it goes. A file that cannot be written gives one line on the error stream; the
// program runs without it and removes nothing at the end.
class Run {
public:
    explicit Run(char const* name);
    ~Run();
    Run(Run const&) = delete;
    Run& operator=(Run const&) = delete;

    bool written() const { return fd_.is_valid(); }
    // The path as the program names it ("/var/run/<name>.pid").
    std::string const& path() const { return path_; }

private:
    Fd fd_;
    std::string path_;
};

}  // namespace Linux
