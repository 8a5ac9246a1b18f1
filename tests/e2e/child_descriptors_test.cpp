// The descriptors a child program of the daemon starts with, on the simulated board, while
// every kind of peer is connected or connecting: only the daemon's standard streams and what
// the program is handed in place of one of them.

#include "tests/fake_agent.h"
#include "tests/loopback.h"
#include "tests/process_figures.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using testsupport::DaemonLauncher;
using testsupport::StubChild;

class ChildDescriptors : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        daemon.writeFile("/usr/local/etc/server.conf", "[snmpagent]\nhost=127.0.0.1:" + std::to_string(agent.port()) +
                                                           "\nname=qelt\n");
        SimDaemonTest::SetUp();
        ASSERT_TRUE(agent.accept());
        trunkSlot7();
    }

    // A modem slot joined to trunk slot 7, which starts its program.
    void modem(unsigned number, TERM::ModemParams const& params)
    {
        ASSERT_EQ(done(number, create(testsupport::modemCreate(params))), "success");
        ASSERT_EQ(done(number, connect(7)), "success");
    }

    // The run's descriptors once it has listed them (the standard streams at least).
    std::map<int, std::string> descriptors(StubChild const& stub, int pid)
    {
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return stub.descriptors(pid).size() >= 3; })) << pid;
        return stub.descriptors(pid);
    }

    testsupport::FakeAgent agent{testsupport::TcpClient::Waiting::Socket};
};

// Started while a recorder and a network player connect, a controller and an agent are
// connected and the board console has a client: pppd and the fax programs get the daemon's
// standard streams, the T.38 relay its MCC channel as standard input, the relay's instance
// count a pipe as standard output; nothing else.
TEST_F(ChildDescriptors, AChildHasTheStandardStreamsAndWhatItIsHandedOnly)
{
    StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    StubChild sender(daemon.root(), "/usr/local/sbin/fax");
    StubChild receiver(daemon.root(), "/usr/local/bin/fax");
    StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    relay.configure("INSTANCES=4");
    std::map<int, std::string> streams = testsupport::descriptorTargets(daemon.pid());
    streams.erase(streams.upper_bound(2), streams.end());

    // Their connects wait: the listener's queue is full.
    testsupport::LoopbackListener full(0);
    Fd const parked = full.connect();
    ASSERT_EQ(done(40, create(testsupport::recorderParams("127.0.0.1", full.port()))), "success");
    ASSERT_EQ(done(7, connect(40)), "success");
    ASSERT_EQ(done(30, create(testsupport::networkPlayerParams("127.0.0.1", full.port(), 1))), "success");
    ASSERT_EQ(done(30, connect(7)), "success");

    modem(20, testsupport::modemParams("123"));
    TERM::ModemParams fax = testsupport::modemParams("");
    fax.set_fax();
    modem(22, fax);
    fax.set_execargs().push_back(ASN1::IA5String("page"));
    modem(21, fax);
    ASSERT_EQ(done(50, create(testsupport::t38Params("10.0.0.1", 4000, 5000))), "success");
    next(2);
    EXPECT_EQ(resources().get_t38_instances().getValue(), 4);
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return pppd.pids().size() == 1 && sender.pids().size() == 1 &&
                                                     receiver.pids().size() == 1 && relay.pids().size() == 2; }));
    EXPECT_EQ(daemon.said("connected to 127.0.0.1:" + std::to_string(full.port())), 0u) << "no longer connecting";

    // A run of the stub by the start of its arguments (the relay's two runs apart).
    auto run = [](StubChild const& stub, std::string const& args) {
        for (int pid : stub.pids())
            if (stub.args(pid).rfind(args, 0) == 0)
                return pid;
        return 0;
    };
    struct Child {
        char const* kind;
        StubChild const& stub;
        char const* args;
        int handed;  // the standard stream it gets in place of the daemon's; -1: none
    } const children[] = {
        {"pppd", pppd, "", -1}, {"fax sender", sender, "", -1}, {"fax receiver", receiver, "", -1},
        {"T.38 relay", relay, "--child", 0}, {"T.38 instance count", relay, "--num-of-instances", 1},
    };
    for (Child const& c : children) {
        SCOPED_TRACE(c.kind);
        std::map<int, std::string> const held = descriptors(c.stub, run(c.stub, c.args));
        std::map<int, std::string> expected = streams;
        if (c.handed >= 0)
            expected[c.handed] = held.count(c.handed) ? held.at(c.handed) : "";
        EXPECT_EQ(held, expected);
        if (c.handed >= 0) {
            EXPECT_NE(expected[c.handed], streams[c.handed]);
        }
    }
}

}  // namespace
