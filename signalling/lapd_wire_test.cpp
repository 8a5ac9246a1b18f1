// The frames of the link scenarios, checked with an independent dissector.
#include "signalling/lapd_test_support.h"

#include "tests/pcap_writer.h"
#include "tests/tshark.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace lapdtest;

// The fields of a frame as the frame formats define them, in tshark's text; a user-side
// link receives commands with C/R 1 and sends them with C/R 0.
std::vector<std::string> expectedFields(testsupport::MemoryHdlc::Frame const& f)
{
    Bytes const& b = f.bytes;
    auto text = [](unsigned v) { return std::to_string(v); };
    bool const cr = b[0] & 0x02;
    bool const command = f.outgoing ? !cr : cr;
    std::vector<std::string> row = {text(b[0] >> 2), text(cr), text(b[1] >> 1), "", "", "", "", "", "", ""};
    std::string pf;
    if (!(b[2] & 0x01)) {
        row[3] = text(b[2] >> 1);
        row[4] = text(b[3] >> 1);
        pf = text(b[3] & 1);
    } else if ((b[2] & 0x03) == 0x01) {
        row[4] = text(b[3] >> 1);
        pf = text(b[3] & 1);
    } else {
        pf = text((b[2] >> 4) & 1);
    }
    // tshark writes a clear poll or final bit as nothing.
    row[command ? 5 : 6] = pf == "1" ? pf : "";
    if (b[0] >> 2 == 63 && b.size() == 8) {
        // tshark reads Ri in network order: compare its octets.
        row[7] = text(unsigned(b[4]) << 8 | b[5]);
        row[8] = text(b[6]);
        row[9] = text(b[7] >> 1);
    }
    return row;
}

TEST(LapdWire, FramesDecodedByTshark)
{
    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): no independent LAPD dissector";
    struct Scenario {
        bool bri;
        std::vector<Step> steps;
    };
    std::vector<unsigned> const ri = seedRi(25, 8);
    Scenario const scenarios[] = {
        {false, dataScenario()}, {false, recoveryScenario()}, {false, peerFramesScenario()}, {true, teiScenario(ri)}};
    std::vector<testsupport::MemoryHdlc::Frame> frames;
    for (Scenario const& s : scenarios) {
        Bench b(ISDN::Side::user, s.bri);
        run(b, s.steps);
        frames.insert(frames.end(), b.channel.journal.begin(), b.channel.journal.end());
    }

    testsupport::PcapWriter capture(testsupport::PcapWriter::kLinuxLapd);
    for (testsupport::MemoryHdlc::Frame const& f : frames)
        capture.addLapd(f.bytes, f.outgoing, false);
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(),
                                          {"lapd.sapi", "lapd.cr", "lapd.tei", "lapd.control.n_s", "lapd.control.n_r",
                                           "lapd.control.p", "lapd.control.f", "tei.reference", "tei.msg", "tei.action"},
                                          rows, error))
        << error;
    ASSERT_EQ(frames.size(), rows.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (std::size_t k : {5, 6})
            if (rows[i][k] == "0")
                rows[i][k].clear();
        EXPECT_EQ(expectedFields(frames[i]), rows[i]) << "frame " << i + 1 << (frames[i].outgoing ? " sent" : " received");
    }
}

}  // namespace
