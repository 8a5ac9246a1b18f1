#pragma once

#include <string>

// The path root of the board's files and devices.
//
// Every absolute path of the board (configuration file, pid file, device nodes, status
// files, child programs, ...) is opened through board::path, which puts the root in front
// of it. The root is the environment variable GW_ROOT, read on first use; unset or empty
// means the real paths. Log lines keep printing the path as the daemon names it.
namespace board {

// The root in use ("" on the real board).
std::string const& root();

// Replaces the root (tests and the simulated board); "" restores the real paths.
void setRoot(std::string root);

// The file system path of the board path p (an absolute path such as "/dev/hal").
std::string path(char const* p);
inline std::string path(std::string const& p) { return path(p.c_str()); }

}  // namespace board
