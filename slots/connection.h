#pragma once

class Slot;

// The connection rules between slots. Media flows from a source to any number of
// destinations; a destination has at most one source. Streams are opened on a slot's first
// connection and released after its last; the side with the higher connection priority
// programs the hardware (on a tie the destination connects and the source disconnects).
// Each returns true on success. A slot that lost its channel takes no link.

// dst receives from src (the `connect` command).
bool Connect(Slot& src, Slot& dst);
// dst leaves its source; true also when it had none. The logical link goes even when the
// hardware step fails.
bool Disconnect(Slot& dst);
// The slot leaves its source and every listener leaves it (a slot being destroyed, or one
// that lost its channel).
void DisconnectAll(Slot& slot);

// The hardware step alone, on the side the priorities choose.
bool llConnect(Slot& src, Slot& dst);
bool llDisconnect(Slot& dst);

// The default hardware step: the time-slot switch joins src's transmit channel to dst's
// receive channel, or sends the idle byte on dst's receive channel while it still copies
// src's transmit channel (a connection another slot made on it since is kept).
bool MuxConnect(Slot& src, Slot& dst);
bool MuxDisconnect(Slot& src, Slot& dst);
