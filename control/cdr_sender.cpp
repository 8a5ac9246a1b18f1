#include "control/cdr_sender.h"

#include "base/errno.h"
#include "runtime/inet4_addr.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <iostream>
#include <sstream>

namespace CDR_Sender {

Sender::Sender() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}

bool Sender::SendTo(std::string const& record, std::string const& addresses)
{
    if (!fd_.is_valid())
        return false;
    bool all = true;
    std::istringstream words(addresses);
    std::string word;
    while (words >> word) {
        INet4::Addr to;
        if (!to.Assign(word, nullptr)) {
            std::cerr << "CDR sender: \"" << word << "\" is not an address, skipped" << std::endl;
            all = false;
            continue;
        }
        if (::sendto(fd_.lowlevel_fd(), record.data(), record.size(), 0, to, to.size()) < 0) {
            Errno const error;
            std::cerr << "CDR sender: send to " << to << " failed: " << error << std::endl;
            all = false;
        }
    }
    return all;
}

}  // namespace CDR_Sender
