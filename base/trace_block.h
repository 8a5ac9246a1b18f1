#pragma once

#include <iosfwd>

namespace Trace {

// Writes "Enter <name>" when made and "Leave <name>" when it goes, when enabled.
class Block {
public:
    Block(bool enabled, char const* name, std::ostream& stream);
    ~Block();
    Block(Block const&) = delete;
    Block& operator=(Block const&) = delete;

private:
    bool enabled_;
    char const* name_;
    std::ostream& stream_;
};

}  // namespace Trace
