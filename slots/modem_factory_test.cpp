#include "slots/modem_factory.h"

#include "tests/modem_test_support.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace modemtest;

struct ModemFactoryTest : ModemTest {
    std::string freeList()
    {
        std::string out;
        for (std::string const& name : factory->freeInterfaces())
            out += (out.empty() ? "" : " ") + name;
        return out;
    }
};

TEST_F(ModemFactoryTest, DigitalModesTakeAFreeInterfaceWhichComesBackLast)
{
    hdlc0.setPointToPoint(true);
    hdlc2.setPointToPoint(true);
    env.sim.remove("hdlc1");
    factory->IQuery();
    EXPECT_EQ(freeList(), "hdlc0") << "the scan ends at the first missing number";
    env.sim.restore("hdlc1");
    factory->IQuery();
    EXPECT_EQ(freeList(), "hdlc0 hdlc2");
    EXPECT_NE(log.text().find("modem[4,0]: found point-o-point devices: hdlc0 hdlc2\n"), std::string::npos);

    struct Case {
        std::optional<std::vector<TERM::DigitalDataModeEnum::NamedNumber>> ddm;
        std::string made;
    } const cases[] = {
        {std::nullopt, "01:dsp-modem"},
        {std::vector<TERM::DigitalDataModeEnum::NamedNumber>{}, "02:dsp-modem"},
        {{{TERM::DigitalDataModeEnum::ddmV110}}, "03:digital-modem hdlc0"},
        {{{TERM::DigitalDataModeEnum::ddmV120}}, "04:digital-modem hdlc2"},
        {{{TERM::DigitalDataModeEnum::ddmV110}}, "05:dsp-modem"},
    };
    unsigned number = 0;
    for (Case const& c : cases) {
        ASSERT_EQ(create(++number, modemCreate(c.ddm ? withModes(*c.ddm) : modemParams(""))), slotstest::ok());
        std::ostringstream made;
        made << *at(number);
        if (auto* h = dynamic_cast<HdlcModemSlot*>(at(number)))
            made << ' ' << h->deviceName();
        EXPECT_EQ(made.str(), c.made);
    }
    // A rescan does not offer the interfaces the slots hold.
    ZGCP::Resources resources;
    factory->Query(resources);
    EXPECT_EQ(freeList(), "");
    EXPECT_EQ(resources.get_modem().getValue(), 4);
    EXPECT_EQ(resources.get_digital_modems().getValue(), 0);
    ASSERT_EQ(destroy(3), slotstest::ok());
    ASSERT_EQ(destroy(4), slotstest::ok());
    EXPECT_EQ(freeList(), "hdlc0 hdlc2");
    ASSERT_EQ(destroy(2), slotstest::ok());
    EXPECT_EQ(factory->dspSlots().size(), 2u);
}

TEST_F(ModemFactoryTest, EnumerationCountsTheModemsAndLogsOnlyRealFailures)
{
    struct Case {
        std::function<void()> inject;
        unsigned count;
        std::string line;
    } const cases[] = {
        {[&] { mctl.setModems(2); }, 2, ""},
        {[&] { env.sim.failRequest(mctl::kPath, mctl::kEnumerate, EIO); }, 0, "enum fail: Input/output error\n"},
        {[&] { env.sim.failOpen(mctl::kPath, ENOENT); }, 0,
         "fail to open \"/dev/mctl\" : No such file or directory\n"},
    };
    for (Case const& c : cases) {
        testsupport::CaptureStream e(std::cerr);
        c.inject();
        factory->IQuery();
        EXPECT_EQ(factory->modemCount(), c.count);
        EXPECT_EQ(e.text(), c.line.empty() ? "" : "modem[0,0]: " + c.line);
    }
}

TEST_F(ModemFactoryTest, FindsTheFirstLiveSlotOfAModemNumber)
{
    hdlc0.setPointToPoint(true);
    factory->IQuery();
    ASSERT_EQ(create(7, slotstest::trunk(1, 5)), slotstest::ok());
    ASSERT_EQ(create(1, modemCreate(withModes({TERM::DigitalDataModeEnum::ddmV110}))), slotstest::ok());
    ASSERT_EQ(create(2, modemCreate(modemParams(""))), slotstest::ok());
    ASSERT_EQ(create(3, modemCreate(modemParams(""))), slotstest::ok());
    // Slot 3 takes the first modem of "/dev/mctl" when its stream opens.
    ASSERT_EQ(connect(3, 7), slotstest::ok());

    struct Case {
        int modem;
        Slot* found;
    } const cases[] = {{-1, at(1)}, {0, at(3)}, {1, nullptr}};
    for (Case const& c : cases)
        EXPECT_EQ(factory->FindModemByDsp(c.modem), c.found) << c.modem;
    ASSERT_EQ(destroy(1), slotstest::ok());
    EXPECT_EQ(factory->FindModemByDsp(-1), at(2)) << "a slot gone is not found";
}

TEST_F(ModemFactoryTest, RecordsGoToTheFirstSlotAndConnectionOfTheirSession)
{
    ASSERT_EQ(create(1, modemCreate(modemParams(""))), slotstest::ok());
    ASSERT_EQ(create(2, modemCreate(modemParams(""))), slotstest::ok());
    auto silent = authClient();
    auto talker = authClient();
    ASSERT_TRUE(talker->send(testsupport::record(12, 2, 5) + testsupport::authRequest(-1, "u", "p")));
    ASSERT_TRUE(waitFor([&] { return signals.texts.size() == 1; }));
    EXPECT_EQ(slotstest::linesOf(err.text(), "modem[4,2]: auth session")
                  + slotstest::linesOf(err.text(), "modem[4,2]: receive"),
              "modem[4,2]: auth session -1 matches 2 modem slots, the record goes to 01:dsp-modem\n"
              "modem[4,2]: receive auth request for unknown session 5\n");

    // Both connections are of session -1 now: the first accepted gets the answers.
    ASSERT_EQ(run(2, testsupport::modemActivate("1.2.3.4", "255.0.0.0", "1.2.3.1", "1.2.3.2", 1500)),
              slotstest::ok());
    EXPECT_TRUE(silent->receive(16 + 36));
    EXPECT_NE(err.text().find("modem[4,2]: auth session -1 has 2 connections, the record goes to 127.0.0.1:"),
              std::string::npos);
    talker->close();
    silent->close();
    ASSERT_TRUE(waitFor([&] { return factory->connections() == 0; }));
    ASSERT_EQ(run(2, testsupport::modemActivate("1.2.3.4", "255.0.0.0", "1.2.3.1", "1.2.3.2", 1500)),
              slotstest::ok());
    EXPECT_NE(log.text().find("modem[4,2]: send error: unknown auth -1 session.\n"), std::string::npos);
}

}  // namespace
