#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The state of one E1 framer as its driver's status file tells it. A plain value.
class FramerDataHolder {
public:
    // Reads at most this many bytes of a status file.
    static constexpr std::size_t max_status = 1024;

    // e1 from 1 to 4; path is the board path of the driver's status file.
    FramerDataHolder(std::int32_t e1, std::string path);

    // Parses the bytes of one status file (up to the first zero byte) line by line; the
    // last occurrence of a label stands. True when any field changed.
    bool setFramerStatus(std::vector<char> const& bytes);

    bool connected = false;  // state is not "No Carrier"
    std::string state = "absent";
    bool signalLoss = true;
    bool frameAlignmentLoss = true;
    std::int32_t negativeSlips = 0;
    std::int32_t positiveSlips = 0;
    std::int32_t e1;
    std::string path;

private:
    bool parseLine(std::string const& line);
};
