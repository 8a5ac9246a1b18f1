#pragma once

// Shared by the in-process tests of the modem slots: the modem control device and three
// generic-HDLC interfaces on the simulated board, a modem factory whose authentication
// listener takes a port the system chooses, the stub child in place of pppd and the fax
// programs, and reaping of children.

#include "board/sim/hdlc_iface_model.h"
#include "board/sim/mctl_model.h"
#include "slots/dsp_modem_slot.h"
#include "slots/hdlc_modem_slot.h"
#include "slots/modem_factory.h"
#include "tests/auth_records.h"
#include "tests/loop_pump.h"
#include "tests/slots_test_support.h"
#include "tests/stub_child.h"
#include "tests/temp_root.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace modemtest {

using testsupport::modemCreate;
using testsupport::modemParams;
using testsupport::operator+;

constexpr int kTimeout = 20000;

// Modem parameters with the data modes given (an empty list is still present).
inline TERM::ModemParams withModes(std::vector<TERM::DigitalDataModeEnum::NamedNumber> const& modes)
{
    TERM::ModemParams p = modemParams("");
    p.set_ddm();
    for (auto m : modes)
        p.set_ddm().push_back(TERM::DigitalDataModeEnum(m));
    return p;
}

struct ModemTest : slotstest::SlotsTest {
    testsupport::TempRoot root{{"/var"}};
    board::sim::MctlModel& mctl = env.sim.add<board::sim::MctlModel>();
    board::sim::HdlcIfaceModel& hdlc0 = iface(0);
    board::sim::HdlcIfaceModel& hdlc1 = iface(1);
    board::sim::HdlcIfaceModel& hdlc2 = iface(2);
    testsupport::StubChild pppd{root.dir(), ModemSlot::kPppd};
    std::unique_ptr<ModemFactory> factory = std::make_unique<ModemFactory>(0);

    ModemTest() { ChildWait::Activate(); }
    ~ModemTest() override
    {
        env.sim.clearFailures();
        table.OnDisconnect();
        factory.reset();
        ChildWaitService::childWaitService->Deactivate();
    }

    board::sim::HdlcIfaceModel& iface(int n)
    {
        return static_cast<board::sim::HdlcIfaceModel&>(
            env.sim.addInterface(std::make_unique<board::sim::HdlcIfaceModel>(n)));
    }
    bool waitFor(std::function<bool()> const& done) { return testsupport::runUntil(done, kTimeout); }
    ModemSlot* modem(unsigned number) { return static_cast<ModemSlot*>(at(number)); }
    // The pid of the slot's child once the stub has recorded its start.
    int started(unsigned number, testsupport::StubChild const& stub)
    {
        int const pid = modem(number)->childId();
        waitFor([&] { return stub.lines(pid).size() >= 2; });
        return pid;
    }
    // A connection of the authentication client to the factory.
    std::unique_ptr<testsupport::TcpClient> authClient()
    {
        auto c = std::make_unique<testsupport::TcpClient>(factory->authPort());
        std::size_t const before = factory->connections();
        waitFor([&] { return factory->connections() > before; });
        return c;
    }
};

}  // namespace modemtest
