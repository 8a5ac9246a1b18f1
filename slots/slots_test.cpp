#include "slots/slots.h"

#include "slots/slot_factory.h"
#include "tests/slots_test_support.h"
#include "slots/trunk_slot.h"
#include "control/acceptor_net.h"
#include "tests/controller_client.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

namespace {

using namespace slotstest;
using State = board::sim::HalModel::Output::State;

// A slot whose release goes on after its destroy until the test finishes it, or that
// finishes it while the destroy runs.
class LingeringSlot : public Slot {
public:
    enum class Release { later, during };
    explicit LingeringSlot(Release release) : release_(release) {}
    bool IBeforeDestroy() override
    {
        if (release_ == Release::during)
            on_release();
        return false;
    }
    // Serves activate only.
    bool IActivate(TERM::TermActivateParams const&) override { return true; }
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return 9000; }
    int IGetReceiveChannel() override { return 9000; }
    char const* GetName() const override { return "linger"; }

private:
    Release release_;
};

// Builds lingering slots for mcc creates (standard mode: released later, ss7 mode: during
// the destroy) and records the trunk status it is given.
class LingeringFactory : public SlotFactory {
public:
    char const* GetName() const override { return "Linger"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override
    {
        if (!params.mcc_isSelected())
            return nullptr;
        bool const during = params.get_mcc().get_mode().is_ss7();
        return new LingeringSlot(during ? LingeringSlot::Release::during : LingeringSlot::Release::later);
    }
    // A count no factory of the daemon reports (the others may be built by earlier tests).
    void Query(ZGCP::Resources& resources) override { resources.set_lin16(3); }
    void SelfSignal(ZGCP::Signal const& signal) override { relayed.push_back(signal.get_trunkStatus().get_trunk().getValue()); }

    std::vector<int> relayed;
};

ZGCP::CreateParams lingering(bool releasedDuringDestroy = false)
{
    ZGCP::MccParams p;
    p.set_type().set_data();
    if (releasedDuringDestroy)
        p.set_mode().set_ss7();
    else
        p.set_mode().set_standard();
    return ZGCP::CreateParams(ZGCP::CreateParams::mcc::id, p);
}

struct SlotTableTest : SlotsTest {
    LingeringFactory lingerFactory;
    // The slots go while their factory is still there.
    ~SlotTableTest() override { table.OnDisconnect(); }
};

TEST_F(SlotTableTest, CreateOverALiveSlotRemovesItFirstAndAnswersOnce)
{
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    ASSERT_EQ(create(8, map(BusChannel{1, 2}, BusChannel{0, 0})), ok());
    ASSERT_EQ(connect(8, 7), ok());
    signals.take();

    EXPECT_EQ(create(7, ext(1, 1)), ok());
    EXPECT_EQ(std::string(at(7)->GetName()), "bri");
    EXPECT_EQ(trunk1.slotAt(5), nullptr);
    EXPECT_TRUE(at(8)->GetListeners().empty());
    EXPECT_EQ(output(37).byte, 0xD5);
    EXPECT_EQ(table.live().size(), 2u);
    EXPECT_EQ(table.live().back(), at(7));
    // The old slot reported nothing on its way out; the new one reports its output.
    EXPECT_EQ(signals.take(), std::vector<std::string>{"transmitter active 8193"});
}

TEST_F(SlotTableTest, CreateNoFactoryAcceptsOverALiveSlotLeavesTheNumberFree)
{
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    EXPECT_EQ(create(7, trunk(9, 5)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(at(7), nullptr);
    EXPECT_TRUE(table.live().empty());
}

TEST_F(SlotTableTest, CommandsToAFreeNumberAnswerSlotNotExists)
{
    auto const missing = fail(ZGCP::ErrorCause::slotNotExists);
    ASSERT_EQ(create(1, trunk(0, 1)), ok());
    EXPECT_EQ(connect(5, 1), missing);
    EXPECT_EQ(connect(1, 5), missing);
    EXPECT_EQ(disconnect(5), missing);
    EXPECT_EQ(destroy(5), missing);
    EXPECT_EQ(activate(5), missing);
    EXPECT_EQ(deactivate(5), missing);
    ZGCP::Command userData;
    userData.select_userData() = std::vector<char>{'a'};
    EXPECT_EQ(run(5, userData), missing);
    ZGCP::Command ioctl;
    ioctl.select_ioctl().select_dtmf_disable();
    EXPECT_EQ(run(5, ioctl), missing);
}

TEST_F(SlotTableTest, ConnectTargetBeyondTheTableIsInvalidEvenFromAFreeNumber)
{
    EXPECT_EQ(connect(5, 1024), fail(ZGCP::ErrorCause::invalidSlot));
    ASSERT_EQ(create(5, trunk(0, 1)), ok());
    EXPECT_EQ(connect(5, 1024), fail(ZGCP::ErrorCause::invalidSlot));
    EXPECT_EQ(connect(5, 1023), fail(ZGCP::ErrorCause::slotNotExists));
}

TEST_F(SlotTableTest, SlotCommandsTheKindDoesNotServeAreUnsupported)
{
    ASSERT_EQ(create(2, trunk(0, 2)), ok());
    auto const unsupported = fail(ZGCP::ErrorCause::unsupported);
    EXPECT_EQ(activate(2), unsupported);
    EXPECT_EQ(deactivate(2), unsupported);
    ZGCP::Command ioctl;
    ioctl.select_ioctl().select_dtmf_disable();
    EXPECT_EQ(run(2, ioctl), unsupported);
    // Disconnecting a slot without a source succeeds.
    EXPECT_EQ(disconnect(2), ok());
}

TEST_F(SlotTableTest, OnlyTheSlotCommandsAndTheSlotlessQueryAreTaken)
{
    ZGCP::Command query;
    query.select_query();
    EXPECT_EQ(run(3, query).kind, Answer::notTaken);
    ZGCP::Command testBpc;
    testBpc.select_testBpc();
    EXPECT_EQ(run(3, testBpc).kind, Answer::notTaken);
    ZGCP::Command ping;
    ping.select_ping();
    EXPECT_EQ(run(3, ping).kind, Answer::notTaken);
    EXPECT_EQ(table.ExecuteBase(ping).kind, Answer::notTaken);
    EXPECT_EQ(table.ExecuteBase(createCmd(trunk(0, 1))).kind, Answer::notTaken);
    EXPECT_TRUE(signals.take().empty());
}

TEST_F(SlotTableTest, SlotlessQueryIsAnsweredThenReportsTheFactoriesResources)
{
    ZGCP::Command query;
    query.select_query();
    EXPECT_EQ(table.ExecuteBase(query), ok());
    // A factory that asks a program (one an earlier test of the process built) reports later.
    testsupport::runUntil([&] { return !signals.signals.empty(); }, 10000);
    ASSERT_EQ(signals.signals.size(), 1u);
    ASSERT_TRUE(signals.signals[0].query_isSelected());
    ZGCP::Resources const& r = signals.signals[0].get_query();
    EXPECT_TRUE(r.get_mux());
    EXPECT_FALSE(r.drvVersion_isPresent());
    EXPECT_EQ(r.get_boardMajor().getValue(), 0);
    EXPECT_EQ(r.get_echoBus().size(), 0u);
    EXPECT_EQ(r.get_mixer().size(), 0u);
    // The test's factory adds its count like any other.
    EXPECT_EQ(r.get_lin16().getValue(), 3);
}

TEST_F(SlotTableTest, PostponedDestroyHoldsTheNumberUntilTheReleaseCompletes)
{
    ASSERT_EQ(create(4, lingering()), ok());
    Slot* slot = at(4);
    EXPECT_EQ(destroy(4).kind, Answer::delayed);
    EXPECT_EQ(at(4), slot);
    EXPECT_TRUE(slot->is_releasing());
    EXPECT_EQ(destroy(4), fail(ZGCP::ErrorCause::destroyInProgress));
    EXPECT_EQ(create(4, trunk(0, 4)), fail(ZGCP::ErrorCause::destroyInProgress));
    ASSERT_EQ(lingerFactory.slots().size(), 1u);

    slot->on_release();
    EXPECT_EQ(at(4), nullptr);
    EXPECT_TRUE(lingerFactory.slots().empty());
    EXPECT_EQ(create(4, trunk(0, 4)), ok());
}

TEST_F(SlotTableTest, ASlotBeingReleasedTakesNoLinkAndServesTheOtherCommandsAsBefore)
{
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    ASSERT_EQ(create(4, lingering()), ok());
    Slot* slot = at(4);
    ASSERT_EQ(destroy(4).kind, Answer::delayed);
    ZGCP::Command userData;
    userData.select_userData() = std::vector<char>{'a'};
    ZGCP::Command ioctl;
    ioctl.select_ioctl().select_dtmf_disable();
    EXPECT_EQ(connect(4, 7), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_EQ(connect(7, 4), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_EQ(activate(4), ok());
    EXPECT_EQ(deactivate(4), fail(ZGCP::ErrorCause::unsupported));
    EXPECT_EQ(run(4, userData), fail(ZGCP::ErrorCause::unsupported));
    EXPECT_EQ(run(4, ioctl), fail(ZGCP::ErrorCause::unsupported));
    EXPECT_EQ(disconnect(4), ok());
    EXPECT_EQ(slot->GetSource(), nullptr);
    EXPECT_TRUE(slot->GetListeners().empty());
    // Its release ends with nothing of it left in the switch.
    slot->on_release();
    EXPECT_EQ(at(7)->GetSource(), nullptr);
}

TEST_F(SlotTableTest, ReleaseFinishedDuringTheDestroyRemovesTheSlotAtOnce)
{
    ASSERT_EQ(create(4, lingering(true)), ok());
    EXPECT_EQ(destroy(4), ok());
    EXPECT_EQ(at(4), nullptr);
    EXPECT_TRUE(lingerFactory.slots().empty());
}

TEST_F(SlotTableTest, CreateOverASlotThatPostponesItsReleaseAnswersSlotIdBusy)
{
    ASSERT_EQ(create(4, lingering()), ok());
    Slot* slot = at(4);
    EXPECT_EQ(create(4, trunk(0, 4)), fail(ZGCP::ErrorCause::slotIdBusy));
    EXPECT_EQ(at(4), slot);
    EXPECT_TRUE(slot->is_releasing());
    EXPECT_EQ(trunk0.slotAt(4), nullptr);
    slot->on_release();
    EXPECT_EQ(at(4), nullptr);
}

TEST_F(SlotTableTest, ControllerLossDestroysEverySlotAndWaitsOneSecondForTheLingering)
{
    ASSERT_EQ(create(1, trunk(0, 1)), ok());
    ASSERT_EQ(create(2, map(std::nullopt, BusChannel{0, 0})), ok());
    ASSERT_EQ(create(3, lingering()), ok());
    ASSERT_EQ(create(4, lingering()), ok());
    ASSERT_EQ(destroy(4).kind, Answer::delayed);
    ASSERT_EQ(connect(1, 2), ok());
    auto const mark = env.mark();

    table.OnDisconnect();
    EXPECT_TRUE(table.live().empty());
    for (unsigned n = 1; n <= 4; ++n)
        EXPECT_EQ(at(n), nullptr) << n;
    EXPECT_TRUE(lingerFactory.slots().empty());
    EXPECT_EQ(trunk0.slotAt(1), nullptr);
    EXPECT_NE(log.text().find("map: disable map channel 0\n"), std::string::npos);
    EXPECT_EQ(output(8192).state, State::disabled);
    bool paused = false;
    for (auto const& e : env.sim.journal().since(mark))
        paused = paused || (e.kind == board::sim::JournalEntry::Kind::pause && e.value == 1000000);
    EXPECT_TRUE(paused);
}

TEST_F(SlotTableTest, ControllerLossWithoutSlotsStillWaitsOneSecond)
{
    auto const mark = env.mark();
    table.OnDisconnect();
    auto const entries = env.sim.journal().since(mark);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, board::sim::JournalEntry::Kind::pause);
    EXPECT_EQ(entries[0].value, 1000000u);
}

TEST_F(SlotTableTest, TrunkStatusIsRelayedToEveryFactoryOtherSignalsAreNot)
{
    ZGCP::Signal status;
    status.select_trunkStatus().set_trunk(2);
    table.OnSignal(status);
    ZGCP::Signal other;
    other.select_abort(1);
    table.OnSignal(other);
    EXPECT_EQ(lingerFactory.relayed, std::vector<int>{2});
}

// The delayed answer of a destroy, seen by a controller on the wire.
struct DelayedAnswerTest : SlotTableTest {
    testsupport::ControllerClient client;
    int seq = 0;

    DelayedAnswerTest()
    {
        auto const port = testsupport::freePort();
        server.Activate(new Control::AcceptorNet(port, false));
        EXPECT_TRUE(client.connect(port));
    }
    ~DelayedAnswerTest() override
    {
        client.close();
        server.Deactivate();
    }
    // The next message from the gateway in short.
    std::string send(ZGCP::Command const& command, unsigned slot)
    {
        EXPECT_TRUE(client.send(testsupport::zgcpCommand(command, ++seq, slot)));
        return client.receiveText();
    }
    // A ping, which no service of this server takes: its error answer marks where the
    // gateway's messages stand.
    std::string ping()
    {
        ZGCP::Command c;
        c.select_ping();
        EXPECT_TRUE(client.send(testsupport::zgcpCommand(c, ++seq)));
        return client.receiveText();
    }
};

TEST_F(DelayedAnswerTest, PostponedDestroyIsAnsweredWithItsOwnSequenceNumberWhenTheReleaseEnds)
{
    EXPECT_EQ(send(createCmd(lingering()), 4), "seq=1 slot=4 success");
    ASSERT_TRUE(client.send(testsupport::zgcpCommand(destroyCmd(), ++seq, 4u)));
    // Nothing answers the destroy yet: the next message answers the ping.
    EXPECT_EQ(ping(), "seq=3 error=4");
    EXPECT_EQ(send(destroyCmd(), 4), "seq=4 slot=4 error=12");

    at(4)->on_release();
    EXPECT_EQ(client.receiveText(), "seq=2 slot=4 success");
    EXPECT_EQ(at(4), nullptr);
    EXPECT_EQ(ping(), "seq=5 error=4");
}

TEST_F(DelayedAnswerTest, ReleaseOwedToNoDestroyIsNotAnswered)
{
    EXPECT_EQ(send(createCmd(lingering()), 4), "seq=1 slot=4 success");
    EXPECT_EQ(send(createCmd(trunk(0, 4)), 4), "seq=2 slot=4 error=11");
    at(4)->on_release();
    EXPECT_EQ(at(4), nullptr);
    EXPECT_EQ(ping(), "seq=3 error=4");
}

}  // namespace
