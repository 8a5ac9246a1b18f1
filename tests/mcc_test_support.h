#pragma once

// Shared by the tests of the MCC controller's users: failures injected into
// "/dev/mcc/ctl" and the allocation records the daemon sent.

#include "board/mcc.h"
#include "board/sim/sim_board.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The next open ("open") or request (by the model's name: "allocate", "timeslot", "counts")
// of the controller fails with the error.
inline void failMcc(board::sim::SimBoard& sim, std::string const& what, int error)
{
    if (what == "open")
        sim.failOpen(mcc::kPath, error);
    else
        sim.failRequest(mcc::kPath, sim.device(mcc::kPath)->find(what)->number, error);
}

// The allocation records journaled from the mark on, as their five words each.
inline std::vector<std::vector<std::uint32_t>> mccAllocations(board::sim::SimBoard& sim, std::uint64_t mark)
{
    std::vector<std::vector<std::uint32_t>> out;
    for (auto const& e : sim.journal().since(mark))
        if (e.path == mcc::kPath && e.name == "allocate")
            out.push_back({e.word(0), e.word(1), e.word(2), e.word(3), e.word(4)});
    return out;
}

}  // namespace testsupport
