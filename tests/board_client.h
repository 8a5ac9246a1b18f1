#pragma once

#include <string>

namespace testsupport {

// A client of the simulated board's console ($GW_ROOT/var/run/board.sock) for end-to-end
// tests: one command line out, one reply line back, waiting without running any loop.
class BoardClient {
public:
    // Connects to the board socket under the given root, retrying until it is there or
    // timeoutMs have passed.
    explicit BoardClient(std::string const& root, int timeoutMs = 20000);
    ~BoardClient();
    BoardClient(BoardClient const&) = delete;
    BoardClient& operator=(BoardClient const&) = delete;

    bool connected() const { return fd_ >= 0; }
    // Sends the command and returns its reply line (without the line end); "" when no
    // reply came within timeoutMs or the connection is gone.
    std::string command(std::string const& line, int timeoutMs = 20000);

    // Readers of the board's state.
    // The opens of the device the board holds (its "devices" list); -1 for no such device.
    int opens(std::string const& device);
    // What the time-slot switch ("dump /dev/hal") shows left behind: every connection
    // ("512<37"), and every output beyond the trunks' (0..127) that is still driven
    // ("512=0xd5"), with a space between them; "" when nothing is.
    std::string switchLeftovers();

private:
    int fd_ = -1;
    std::string in_;
};

// A device model's state with the numbers that name a request or a channel made "#": those
// after "id=", after a word and a colon ("ids=vad:5") and after "timeslot ". So two channels
// given the same requests read the same, and a channel reads the same before its device ends
// and after it is back (the enables then have new ids).
std::string withoutIds(std::string const& state);

}  // namespace testsupport
