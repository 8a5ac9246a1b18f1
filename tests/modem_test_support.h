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
TERM::ModemParams withModes(std::vector<TERM::DigitalDataModeEnum::NamedNumber> const& modes);

struct ModemTest : slotstest::SlotsTest {
    testsupport::TempRoot root{{"/var"}};
    board::sim::MctlModel& mctl = env.sim.add<board::sim::MctlModel>();
    board::sim::HdlcIfaceModel& hdlc0 = iface(0);
    board::sim::HdlcIfaceModel& hdlc1 = iface(1);
    board::sim::HdlcIfaceModel& hdlc2 = iface(2);
    testsupport::StubChild pppd{root.dir(), ModemSlot::kPppd};
    std::unique_ptr<ModemFactory> factory = std::make_unique<ModemFactory>(0);

    ModemTest();
    ~ModemTest() override;

    board::sim::HdlcIfaceModel& iface(int n);
    bool waitFor(std::function<bool()> const& done);
    ModemSlot* modem(unsigned number);
    // The pid of the slot's child once the stub has recorded its start.
    int started(unsigned number, testsupport::StubChild const& stub);
    // A connection of the authentication client to the factory.
    std::unique_ptr<testsupport::TcpClient> authClient();
};

}  // namespace modemtest
