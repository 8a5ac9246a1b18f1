#include "slots/slot.h"

#include "board/dsp.h"
#include "board/rtp.h"
#include "hardware/dsproc_events.h"
#include "tests/slots_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace slotstest;

std::string name(Slot const& slot)
{
    std::ostringstream os;
    os << slot << '|' << 5;
    return os.str();
}

struct SlotModelTest : SlotsTest {
    // A numbered slot whose signals the recorder sees.
    Slot& numbered(unsigned number)
    {
        EXPECT_EQ(create(number, trunk(0, number % 32)), ok());
        signals.take();
        return *at(number);
    }
};

TEST_F(SlotModelTest, LogNameIsTheZeroFilledNumberAndTheKind)
{
    EXPECT_EQ(create(0, trunk(0, 0)), ok());
    EXPECT_EQ(create(7, trunk(0, 7)), ok());
    EXPECT_EQ(create(1023, bri(1, 1)), ok());
    // The fill goes back to a blank afterwards.
    EXPECT_EQ(name(*at(0)), "00:trunk|5");
    EXPECT_EQ(name(*at(7)), "07:trunk|5");
    EXPECT_EQ(name(*at(1023)), "1023:trunkBRI|5");
    MapSlot unnumbered(-1, -1);
    EXPECT_EQ(name(unnumbered), "na:map|5");
}

TEST_F(SlotModelTest, SlotWithoutNumberSendsNoSignal)
{
    MapSlot unnumbered(8200, -1);
    unnumbered.OnChangeOutputStream(true);
    unnumbered.OnAbort(1);
    EXPECT_TRUE(unnumbered.GetOutputStream());
    EXPECT_TRUE(signals.take().empty());
}

TEST_F(SlotModelTest, StreamStatesAreReportedOnlyWhenTheyChange)
{
    ASSERT_EQ(create(3, map(std::nullopt, BusChannel{0, 1})), ok());
    EXPECT_EQ(signals.take(), std::vector<std::string>{"receiver active 8193"});
    at(3)->OnChangeInputStream(true);
    EXPECT_TRUE(signals.take().empty());
    at(3)->OnChangeInputStream(false);
    at(3)->OnChangeInputStream(false);
    at(3)->OnChangeOutputStream(false);
    EXPECT_EQ(signals.take(), std::vector<std::string>{"receiver inactive"});
}

TEST_F(SlotModelTest, OutputTurningOffDisconnectsEveryListenerThenReportsOnce)
{
    ASSERT_EQ(create(1, map(BusChannel{0, 9}, std::nullopt)), ok());
    for (unsigned n = 2; n <= 4; ++n) {
        ASSERT_EQ(create(n, trunk(2, n)), ok());
        ASSERT_EQ(connect(1, n), ok());
    }
    signals.take();
    auto const mark = env.mark();
    at(1)->OnChangeOutputStream(false);
    EXPECT_TRUE(at(1)->GetListeners().empty());
    for (unsigned n = 2; n <= 4; ++n)
        EXPECT_EQ(at(n)->GetSource(), nullptr);
    EXPECT_EQ(env.requests(mark),
              (std::vector<std::string>{"write 66 213 -> 0", "write 67 213 -> 0", "write 68 213 -> 0"}));
    EXPECT_EQ(signals.take(), std::vector<std::string>{"transmitter inactive"});
}

TEST_F(SlotModelTest, ToneCodesBecomeDtmfCedCngOrIva)
{
    Slot& slot = numbered(5);
    for (std::uint32_t code : {17u, 18u, 5u, 127u, 0x0500u, 0x1500u, 0x1600u, 0x80u})
        slot.processTonecEvent({code, 1234});
    ASSERT_EQ(signals.signals.size(), 6u);
    auto event = [&](std::size_t i) { return signals.signals[i].get_tonec(); };
    EXPECT_TRUE(event(0).get_event().ced_isSelected());
    EXPECT_TRUE(event(1).get_event().cng_isSelected());
    EXPECT_EQ(event(2).get_event().get_dtmf().getValue(), 5u);
    EXPECT_EQ(event(2).get_timestamp().getValue(), 1234);
    EXPECT_EQ(event(3).get_event().get_dtmf().getValue(), 127u);
    EXPECT_EQ(event(4).get_event().get_iva().get_code().getValue(), 5u);
    EXPECT_TRUE(event(5).get_event().get_iva().ringoff_isSelected());
    // 0x1600 and 0x80 are no code: two lines, nothing sent.
    EXPECT_EQ(err.count("bad DTMF code, ignored.\n"), 2u) << err.text();

    signals.take();
    slot.processToneGenEvent();
    ASSERT_EQ(signals.signals.size(), 1u);
    EXPECT_TRUE(signals.signals[0].get_tonec().get_event().dtmfDone_isSelected());
    EXPECT_EQ(signals.signals[0].get_tonec().get_timestamp().getValue(), 0);
}

TEST_F(SlotModelTest, VoiceActivityAndSdReportOnlyTheDirectionsGiven)
{
    Slot& slot = numbered(6);
    slot.processVADEvent({1, -1});
    slot.processVADEvent({-1, 0});
    slot.processVADEvent({-1, -1});
    slot.processSDEvent({2});
    slot.processSDEvent({-3});
    ASSERT_EQ(signals.signals.size(), 3u);
    ZGCP::VADEvent const& rx = signals.signals[0].get_vad();
    EXPECT_TRUE(rx.vad_rx_isPresent());
    EXPECT_TRUE(rx.get_vad_rx());
    EXPECT_FALSE(rx.vad_tx_isPresent());
    ZGCP::VADEvent const& tx = signals.signals[1].get_vad();
    EXPECT_FALSE(tx.vad_rx_isPresent());
    EXPECT_FALSE(tx.get_vad_tx());
    EXPECT_TRUE(signals.signals[2].get_sd().get_sd_rx());
    EXPECT_NE(err.text().find("bad VAD event, ignored.\n"), std::string::npos);
    EXPECT_NE(err.text().find("bad SD event, ignored.\n"), std::string::npos);
}

TEST_F(SlotModelTest, FlagsGiveVoiceActivityFirstThenSelcal)
{
    Slot& slot = numbered(7);
    dsproc_flags_event flags{(1u << 31) | (1u << 30), (1u << 29) | (1u << 31)};
    slot.processFlagsEvent(&flags);
    ASSERT_EQ(signals.signals.size(), 2u);
    ZGCP::VADEvent const& vad = signals.signals[0].get_vad();
    EXPECT_TRUE(vad.vad_rx_isPresent());
    EXPECT_FALSE(vad.get_vad_rx());
    EXPECT_FALSE(vad.vad_tx_isPresent());
    EXPECT_TRUE(signals.signals[1].get_selcal().get_in_progress());

    signals.take();
    dsproc_tone_event tone{1020, 1};
    slot.processToneFltEvent(&tone);
    ASSERT_EQ(signals.signals.size(), 1u);
    ZGCP::TonePresence const& presence = signals.signals[0].get_tonec().get_event().get_tone_presence();
    EXPECT_EQ(presence.get_freq().getValue(), 1020);
    EXPECT_TRUE(presence.get_presence());
}

TEST_F(SlotModelTest, BssScoreTextNeverExceedsThirtyCharacters)
{
    Slot& slot = numbered(8);
    dsproc_bss_event small{2.5f};
    dsproc_bss_event huge{3.0e38f};
    slot.processBSSEvent(&small);
    slot.processBSSEvent(&huge);
    ASSERT_EQ(signals.signals.size(), 2u);
    EXPECT_EQ(std::string(signals.signals[0].get_bss().get_score()), "2.500000");
    std::string const cut = signals.signals[1].get_bss().get_score();
    EXPECT_EQ(cut.size(), 30u);
    EXPECT_EQ(cut.substr(0, 3), "300");
}

TEST_F(SlotModelTest, OnlyPacketDelayRtpEventsAreReported)
{
    Slot& slot = numbered(9);
    rtp_event pd{};
    pd.type = rtp_event_pd;
    pd.value = 40;
    pd.timeout = 100;
    rtp_event other{};
    other.type = 2;
    slot.processRtpEvent(other);
    slot.processRtpEvent(pd);
    ASSERT_EQ(signals.signals.size(), 1u);
    ZGCP::RtpPDEvent const& event = signals.signals[0].get_rtp().get_pd();
    EXPECT_EQ(event.get_value().getValue(), 40);
    EXPECT_EQ(event.get_timeout().getValue(), 100);
}

TEST_F(SlotModelTest, SignalSendersCarryTheirValues)
{
    Slot& slot = numbered(10);
    slot.OnActivated();
    slot.OnDeactivated();
    slot.OnAbort(256);
    slot.OnUserData({'x', 'y'});
    slot.OnNumber("123");
    ASSERT_EQ(signals.signals.size(), 5u);
    EXPECT_TRUE(signals.signals[0].activated_isSelected());
    EXPECT_TRUE(signals.signals[1].get_deactivated().is_networkError());
    EXPECT_EQ(signals.signals[2].get_abort().getValue(), 256);
    EXPECT_EQ(std::vector<char>(signals.signals[3].get_userData()), (std::vector<char>{'x', 'y'}));
    EXPECT_EQ(std::string(signals.signals[4].get_number()), "123");
}

}  // namespace
