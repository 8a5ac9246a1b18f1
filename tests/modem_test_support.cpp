#include "tests/modem_test_support.h"

namespace modemtest {

TERM::ModemParams withModes(std::vector<TERM::DigitalDataModeEnum::NamedNumber> const& modes)
{
    TERM::ModemParams p = modemParams("");
    p.set_ddm();
    for (auto m : modes)
        p.set_ddm().push_back(TERM::DigitalDataModeEnum(m));
    return p;
}

ModemTest::ModemTest() { ChildWait::Activate(); }

ModemTest::~ModemTest()
{
    env.sim.clearFailures();
    table.OnDisconnect();
    factory.reset();
    ChildWaitService::childWaitService->Deactivate();
}

board::sim::HdlcIfaceModel& ModemTest::iface(int n)
{
    return static_cast<board::sim::HdlcIfaceModel&>(env.sim.addInterface(std::make_unique<board::sim::HdlcIfaceModel>(n)));
}

bool ModemTest::waitFor(std::function<bool()> const& done) { return testsupport::runUntil(done, kTimeout); }

ModemSlot* ModemTest::modem(unsigned number) { return static_cast<ModemSlot*>(at(number)); }

int ModemTest::started(unsigned number, testsupport::StubChild const& stub)
{
    int const pid = modem(number)->childId();
    waitFor([&] { return stub.lines(pid).size() >= 2; });
    return pid;
}

std::unique_ptr<testsupport::TcpClient> ModemTest::authClient()
{
    auto c = std::make_unique<testsupport::TcpClient>(factory->authPort());
    std::size_t const before = factory->connections();
    waitFor([&] { return factory->connections() > before; });
    return c;
}

}  // namespace modemtest
