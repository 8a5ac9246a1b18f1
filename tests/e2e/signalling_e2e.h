#pragma once

// The fixture of the end-to-end tests of the signalling slots: the daemon on the simulated
// board with trunk slot 7 (E1 trunk 1, time slot 5), the frames on the far ends of the
// controller's channels, and the periodic link counters left out unless awaited.

#include "tests/sim_daemon_test_support.h"

#include <sstream>
#include <string>
#include <vector>

namespace signallinge2e {

using testsupport::DaemonLauncher;

inline ZGCP::Command create(ZGCP::CreateParams const& params) { return testsupport::createCommand(params); }
inline ZGCP::Command connect(unsigned target) { return testsupport::connectCommand(target); }
inline ZGCP::Command activate() { return testsupport::plainCommand(ZGCP::Command::activate::id); }
inline ZGCP::Command deactivate() { return testsupport::plainCommand(ZGCP::Command::deactivate::id); }
inline ZGCP::Command destroy() { return testsupport::plainCommand(ZGCP::Command::destroy::id); }

inline std::vector<std::string> words(std::string const& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

char const kMcc[] = "/dev/mcc/ctl";
char const kDspData[] = "/dev/dsp-data";

class SignallingE2E : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        SimDaemonTest::SetUp();
        ASSERT_EQ(on(7, create(testsupport::trunkParams(1, 5))), "success");
        next(2);
    }

    // The next message on one line; the periodic counters of a link only while they are
    // awaited.
    using SimDaemonTest::next;
    std::string next() override
    {
        for (;;) {
            std::string const text = SimDaemonTest::next();
            bool const counters =
                text.find(" ioctl hdlcLinkInfo") != std::string::npos || text.find(" ioctl ss7LinkInfo") != std::string::npos;
            if (awaitLinkInfo || !counters)
                return oneLine(text);
        }
    }
    static std::string oneLine(std::string const& text)
    {
        std::string out;
        for (std::string const& w : words(text))
            out += (out.empty() ? "" : " ") + w;
        return out;
    }

    // The switch channels of the device's channels in use, as its dump lists them.
    std::vector<std::string> channels(std::string const& path)
    {
        std::vector<std::string> out;
        for (std::string const& w : words(board->command("dump " + path)))
            if (w[0] >= '0' && w[0] <= '9' && w.find(":ino=") != std::string::npos)
                out.push_back(w.substr(0, w.find(':')));
        return out;
    }
    // The frames the daemon wrote on the channel since last asked, once there are n.
    std::vector<std::string> written(std::string const& path, std::string const& ch, std::size_t n)
    {
        std::vector<std::string> all;
        DaemonLauncher::waitFor([&] {
            std::vector<std::string> w = words(board->command("device " + path + " written " + ch));
            all.insert(all.end(), w.begin() + 1, w.end());
            return all.size() >= n;
        });
        return all;
    }
    // Connects the slot with the trunk slot both ways (its streams open on the way).
    void joinTrunk(unsigned number, std::string const& receive, std::string const& transmit, unsigned trunk = 7)
    {
        std::string const slot = "slot=" + std::to_string(number);
        EXPECT_EQ(on(trunk, connect(number)), slot + " receiver active " + receive);
        EXPECT_EQ(answer(next(), trunk), "success");
        EXPECT_EQ(on(number, connect(trunk)), slot + " transmitter active " + transmit);
        EXPECT_EQ(answer(next(), number), "success");
    }

    bool awaitLinkInfo = false;
};

}  // namespace signallinge2e
