#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The path of an executable found on PATH, /usr/sbin or /sbin; "" when there is none.
std::string findTool(std::string const& name);

// The values of the given fields (tshark's names) in each frame of a capture, one row per
// frame, decoded by tshark with its extra arguments (for example "-d" rules). An absent
// field is an empty text. False, with tshark's complaint in error, when it failed.
bool tsharkFields(std::string const& capture, std::vector<std::string> const& fields,
                  std::vector<std::vector<std::string>>& rows, std::string& error,
                  std::vector<std::string> const& extra = {});

}  // namespace testsupport
