#pragma once

#include "board/board.h"
#include "board/sim/board_socket.h"
#include "board/sim/sim_board.h"

namespace board::sim {

// The simulated board of the server-sim daemon: every device model, installed as the board
// while it lives, with its console on the board socket.
//
// Make it at the top of main, before any singleton opens a device, as a static so that it
// outlives them.
class Simulation {
public:
    Simulation();
    Simulation(Simulation const&) = delete;
    Simulation& operator=(Simulation const&) = delete;

    // Serves the console at $GW_ROOT/var/run/board.sock from the event loop; false with
    // errno set when it cannot listen there.
    bool serve() { return socket_.listen(); }

    SimBoard& board() { return board_; }
    BoardSocket& socket() { return socket_; }

private:
    SimBoard board_;
    ScopedBoard installed_{board_};
    BoardSocket socket_{board_};
};

}  // namespace board::sim
