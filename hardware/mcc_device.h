#pragma once

#include "base/fd.h"
#include "board/mcc.h"

// The requests of the MCC controller device "/dev/mcc/ctl", made through the board. Each
// open of the device is one controller channel, freed with the last descriptor of it.
namespace Mcc {

// Opens a new channel's descriptor with the open(2) flags (close-on-exec added); an empty
// Fd with errno set on failure.
Fd open(int flags);
// Allocates the channel; false with errno set when the driver refuses.
bool allocate(Fd const& channel, mcc::Allocate record);
// The channel's switch channel; negative with errno set on failure.
int timeslot(Fd const& channel);
// The controller's channel counts, read on a descriptor of their own; false (and the
// record zero) when the device does not open or refuses.
bool counts(mcc::Counts& record);

}  // namespace Mcc
