#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// The stub child program (tests/stub_child.sh) installed in place of a child program of the
// daemon, at a board path under a root: it records its arguments, its standard input and
// the signals it gets, answers "--num-of-instances", and ends as configured (see the
// script's head for the settings).
class StubChild {
public:
    // Installs the stub at root + boardPath (folders made as needed), with no settings.
    StubChild(std::string const& root, std::string const& boardPath);

    // Replaces the settings: shell assignments such as "INSTANCES=4" or "IGNORE=TERM".
    void configure(std::string const& settings) const;
    // The file system path of the installed program.
    std::string const& path() const { return path_; }

    // The pids of its runs, in the order they started.
    std::vector<int> pids() const;
    // What one run recorded, in order, without the pid: "args --child ...", "stdin
    // socket:[123]", "signal TERM", "exit 3".
    std::vector<std::string> lines(int pid) const;
    // The arguments of one run as one line ("" when it did not run).
    std::string args(int pid) const;
    // Whether one run recorded that line.
    bool recorded(int pid, std::string const& line) const;
    // The descriptors one run had when it started, by number, each with what /proc showed of
    // it ("socket:[123]", "/dev/null"); the shell's own hold of the script left out.
    std::map<int, std::string> descriptors(int pid) const;

private:
    std::string path_;
};

}  // namespace testsupport
