#pragma once

#include "base/fd.h"

#include <string>

namespace CDR_Sender {

// Sends a text record as one UDP datagram to each address of a list.
class Sender {
public:
    Sender();
    virtual ~Sender() = default;
    Sender(Sender const&) = delete;
    Sender& operator=(Sender const&) = delete;

    // Sends the record to every "a.b.c.d:port" of the blank-separated list, in list order.
    // A word that is not such an address is skipped with a line on the error stream, and
    // so is a failing send; the result is false when the socket could not be made or any
    // address was skipped. An empty list sends nothing and succeeds.
    bool SendTo(std::string const& record, std::string const& addresses);

private:
    Fd fd_;
};

}  // namespace CDR_Sender
