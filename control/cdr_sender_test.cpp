#include "control/cdr_sender.h"

#include "tests/capture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

namespace {

// A UDP socket on 127.0.0.1 that notes the kernel's arrival time of the last datagram.
class Receiver {
public:
    Receiver() : fd_(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int on = 1;
        ::setsockopt(fd_.lowlevel_fd(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        ::bind(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len);
        address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    // The datagrams that have come, waiting up to a second for each of the expected ones.
    std::vector<std::string> take(std::size_t expected)
    {
        std::vector<std::string> got;
        pollfd entry{fd_.lowlevel_fd(), POLLIN, 0};
        while (::poll(&entry, 1, got.size() < expected ? 1000 : 0) > 0) {
            char data[64];
            char control[CMSG_SPACE(sizeof(timespec))];
            iovec piece{data, sizeof data};
            msghdr m{};
            m.msg_iov = &piece;
            m.msg_iovlen = 1;
            m.msg_control = control;
            m.msg_controllen = sizeof control;
            ssize_t const n = ::recvmsg(fd_.lowlevel_fd(), &m, 0);
            if (n < 0)
                break;
            if (cmsghdr* c = CMSG_FIRSTHDR(&m)) {
                timespec const at = *reinterpret_cast<timespec*>(CMSG_DATA(c));
                lastArrival = std::uint64_t(at.tv_sec) * 1000000000u + std::uint64_t(at.tv_nsec);
            }
            got.emplace_back(data, std::size_t(n));
        }
        return got;
    }

    std::uint64_t lastArrival = 0;  // in nanoseconds
    std::string address;

private:
    Fd fd_;
};

TEST(CdrSender, SendsTheRecordToEachAddressInOrderAndReportsSkippedOnes)
{
    Receiver first, second;
    struct Case {
        std::string record, addresses;
        bool result;
        std::vector<std::string> toFirst, toSecond;
        std::string error;
    };
    std::vector<Case> const cases = {
        {"call 1", first.address + " " + second.address, true, {"call 1"}, {"call 1"}, ""},
        {"", "\t" + first.address + "\n", true, {""}, {}, ""},
        {"call 2", "", true, {}, {}, ""},
        {"call 3", "gateway " + second.address, false, {}, {"call 3"}, "CDR sender: \"gateway\" is not an address, skipped\n"},
        // Without a port the send cannot go anywhere.
        {"call 4", "127.0.0.1 " + first.address, false, {"call 4"}, {},
         "CDR sender: send to 127.0.0.1:0 failed: Invalid argument\n"},
    };
    CDR_Sender::Sender sender;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.addresses);
        testsupport::CaptureStream err(std::cerr);
        EXPECT_EQ(c.result, sender.SendTo(c.record, c.addresses));
        EXPECT_EQ(c.error, err.text());
        EXPECT_EQ(c.toFirst, first.take(c.toFirst.size()));
        EXPECT_EQ(c.toSecond, second.take(c.toSecond.size()));
        if (!c.toFirst.empty() && !c.toSecond.empty()) {
            EXPECT_LT(first.lastArrival, second.lastArrival) << "in list order";
        }
    }
}

}  // namespace
