#include "base/trace_block.h"

#include <ostream>

namespace Trace {

Block::Block(bool enabled, char const* name, std::ostream& stream)
    : enabled_(enabled), name_(name), stream_(stream)
{
    if (enabled_)
        stream_ << "Enter " << name_ << std::endl;
}

Block::~Block()
{
    if (enabled_)
        stream_ << "Leave " << name_ << std::endl;
}

}  // namespace Trace
