// The daemon on the simulated board: the same start-up as the server, with every device
// model installed first and its console served on $GW_ROOT/var/run/board.sock.

#include "board/sim/simulation.h"
#include "base/errno.h"
#include "server/start_up.h"

#include <iostream>

int main(int argc, char** argv)
{
    // Installed before any singleton opens a device, and kept until the process ends.
    static board::sim::Simulation simulation;
    if (!simulation.serve())
        std::cerr << "server-sim: cannot serve the board socket: " << Errno() << std::endl;
    return serverMain(argc, argv);
}
