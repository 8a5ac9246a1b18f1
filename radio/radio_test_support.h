#pragma once

// Shared by the tests of the radio codecs and their users: octets from text and records
// packed into them; the simulated board with the RTP and extension devices for the radio
// controls' tests: payloads from the IP side, what a control wrote, what it reported.

#include "base/clock.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/sim_board.h"
#include "messages/term.h"
#include "radio/r2s_proto.h"
#include "radio/radio_control.h"
#include "radio/sig_proto.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace radiotest {

using Bytes = std::vector<std::uint8_t>;

// "3a 80 00 00" as octets.
inline Bytes hex(std::string const& text)
{
    Bytes out;
    std::istringstream in(text);
    for (std::string octet; in >> octet;)
        out.push_back(std::uint8_t(std::stoul(octet, nullptr, 16)));
    return out;
}

// The packet a packer writes into a buffer of the size; none when it fails.
template <class Record>
Bytes packed(Record const& rec, int (*packer)(Record const*, std::uint8_t*, std::size_t), std::size_t size)
{
    Bytes buf(size);
    int n = packer(&rec, buf.data(), buf.size());
    buf.resize(n > 0 ? std::size_t(n) : 0);
    return buf;
}

inline Bytes pack(sig_proto const& rec, std::size_t size = 1024) { return packed(rec, sig_proto_pack, size); }
inline Bytes pack(r2s_proto const& rec, std::size_t size = 1024) { return packed(rec, r2s_proto_pack, size); }

// Octets as hex() reads them.
inline std::string text(Bytes const& octets)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t o : octets)
        out += std::string(out.empty() ? "" : " ") + digits[o >> 4] + digits[o & 15];
    return out;
}

// What a control reports: "10.0.0.1 gw-set-ptt" (the sender and the command's alternative),
// "abort 151".
struct Reports : RTPSignalling::IRadioControlNotify {
    std::vector<std::string> seen;
    std::vector<TERM::RtpRadioRequest> requests;  // every report, kept
    void RadioControlNotify(TERM::RtpRadioRequest const& r) override
    {
        requests.push_back(r);
        std::string const params = r.get_request().zarn_isSelected()
                                       ? r.get_request().get_zarn().get_params().asValueNotation()
                                       : r.get_request().get_ed_137().get_params().asValueNotation();
        TERM::RadioModifierAddr const& a = r.get_request().zarn_isSelected() ? r.get_request().get_zarn().get_addr()
                                                                              : r.get_request().get_ed_137().get_addr();
        seen.push_back(a.get_session_addr() + " " + params.substr(0, params.find(' ')));
    }
    void RadioControlNotify(int cause) override { seen.push_back("abort " + std::to_string(cause)); }
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(seen);
        return out;
    }
};

struct ControlTest : ::testing::Test {
    Mux::TestClock clock;
    board::sim::SimBoard sim;
    board::ScopedBoard installed{sim};
    board::sim::RtpModel& rtp = sim.add<board::sim::RtpModel>();
    board::sim::RtpExtModel& ext = sim.add<board::sim::RtpExtModel>(&rtp);
    testsupport::CaptureStream errors{std::cerr};
    testsupport::CaptureStream log{std::clog};
    Reports reports;

    static constexpr rtp_ext_attach_session_params kAttach{12, 4242};

    unsigned open() const { return ext.sessions().empty() ? 0 : ext.sessions().back()->open; }
    // Queues a payload (as hex() reads it) from the sender; the loop reads it later.
    void deliver(char const* addr, std::uint32_t ssrc, std::string const& payload)
    {
        Bytes const octets = hex(payload);
        EXPECT_TRUE(ext.deliver(open(), rtp_ext_source{ssrc, ::inet_addr(addr), 0}, octets)) << payload;
    }
    // Runs the loop until nothing is left to do, then gives the reports since the last call.
    std::vector<std::string> reported()
    {
        testsupport::settle();
        return reports.take();
    }
    // What the control wrote since the last call, as text.
    std::vector<std::string> written()
    {
        sim.service();
        std::vector<std::string> out;
        for (auto const& p : ext.takeWritten(open()))
            out.push_back(text(p));
        return out;
    }
    std::string filter() const
    {
        auto const& f = ext.sessions().back()->filter;
        in_addr a{};
        a.s_addr = f ? *f : 0;
        return f ? ::inet_ntoa(a) : "-";
    }
    void advance(std::uint32_t ms) { testsupport::advance(clock, ms); }

    // A value sent to the control: whether it took it, what it wrote, the filter afterwards.
    struct Sent {
        char const* name;
        std::function<bool()> send;
        bool taken;
        std::vector<std::string> written;
        char const* filter;
    };
    void expect(Sent const& c)
    {
        EXPECT_EQ(c.send(), c.taken) << c.name;
        EXPECT_EQ(written(), c.written) << c.name;
        EXPECT_EQ(filter(), c.filter) << c.name;
    }
};

}  // namespace radiotest
