#pragma once

#include "base/packet.h"

#include <vector>

namespace testsupport {

// Takes every free block of the packet pool while it lives (all but `leave` of them), the
// blocks kept for any use included.
struct PoolDrain {
    explicit PoolDrain(unsigned int leave = 0)
    {
        while (_Packet::Pool::available() > leave)
            held.push_back(new _Packet);
    }
    ~PoolDrain()
    {
        for (_Packet* b : held)
            delete b;
    }
    PoolDrain(PoolDrain const&) = delete;
    PoolDrain& operator=(PoolDrain const&) = delete;

    std::vector<_Packet*> held;
};

}  // namespace testsupport
