#pragma once

#include <string>

namespace board::sim {

class SimBoard;

// The line protocol of the simulated board: one command line in, one reply line out
// ("ok ..." or "error ..."). The commands are listed in board/README.md.
class Console {
public:
    explicit Console(SimBoard& board) : board_(board) {}

    // Runs one command (without its line end) and returns the reply (without its line end).
    std::string execute(std::string const& line);

private:
    SimBoard& board_;
};

}  // namespace board::sim
