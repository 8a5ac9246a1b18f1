#pragma once

#include "messages/zgcp.h"

#include <optional>
#include <vector>

// The controller's slot commands and create parameters, built with the project's classes,
// for the tests and benchmarks of the slot framework.
namespace testsupport {

// A time slot of an E1 trunk, or a channel of a BRI line.
inline ZGCP::TrunkParams timeSlot(unsigned trunk, unsigned timeslot)
{
    ZGCP::TrunkParams p;
    p.set_trunk(trunk);
    p.set_timeslot(timeslot);
    return p;
}

inline ZGCP::CreateParams trunkParams(unsigned trunk, unsigned timeslot)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::trunk::id, timeSlot(trunk, timeslot));
}

inline ZGCP::CreateParams briParams(unsigned trunk, unsigned channel)
{
    return ZGCP::CreateParams(ZGCP::CreateParams::trunk_bri::id, timeSlot(trunk, channel));
}

// One channel of the shared bus.
struct BusChannel {
    unsigned bus;
    unsigned channel;
};

inline ZGCP::CreateParams mapParams(std::optional<BusChannel> tx, std::optional<BusChannel> rx)
{
    ZGCP::MapParams p;
    if (tx) {
        p.set_transmitter().set_bus(tx->bus);
        p.set_transmitter().set_channel(tx->channel);
    }
    if (rx) {
        p.set_receiver().set_bus(rx->bus);
        p.set_receiver().set_channel(rx->channel);
    }
    return ZGCP::CreateParams(ZGCP::CreateParams::map::id, p);
}

inline ZGCP::CreateParams extParams(int tx, int rx)
{
    ZGCP::ExtParams p;
    p.set_transmitter(tx);
    p.set_receiver(rx);
    return ZGCP::CreateParams(ZGCP::CreateParams::ext::id, p);
}

inline ZGCP::CreateParams echoParams(int bus, int channel)
{
    ZGCP::EchoParams p;
    p.set_bus(bus);
    p.set_channel(channel);
    return ZGCP::CreateParams(ZGCP::CreateParams::echo::id, p);
}

// Channels of a mixer unit.
inline ZGCP::MixerChannel tdmChannel(int number) { return ZGCP::MixerChannel(ZGCP::MixerChannel::tdm::id, number); }
inline ZGCP::MixerChannel rtpChannel(int number) { return ZGCP::MixerChannel(ZGCP::MixerChannel::rtp::id, number); }

// An input of a mixer output: a channel and its gain.
struct MixerSource {
    ZGCP::MixerChannel channel;
    int gain;
};

inline ZGCP::CreateParams mixerOutParams(int unit, ZGCP::MixerChannel const& channel,
                                         std::vector<MixerSource> const& inputs)
{
    ZGCP::MixerOutParams p;
    p.set_unit(unit);
    p.set_channel(channel);
    for (MixerSource const& source : inputs) {
        ZGCP::MixerInput input;
        input.set_channel(source.channel);
        input.set_gain(source.gain);
        p.set_inputs().push_back(input);
    }
    return ZGCP::CreateParams(ZGCP::CreateParams::mixerOut::id, p);
}

inline ZGCP::CreateParams mixerInParams(int unit, ZGCP::MixerChannel const& channel,
                                        std::optional<ZGCP::MixerChannel> summator = std::nullopt)
{
    ZGCP::MixerInParams p;
    p.set_unit(unit);
    p.set_channel(channel);
    if (summator)
        p.set_summator(*summator);
    return ZGCP::CreateParams(ZGCP::CreateParams::mixerIn::id, p);
}

inline ZGCP::Command createCommand(ZGCP::CreateParams const& params)
{
    return ZGCP::Command(ZGCP::Command::create::id, params);
}

inline ZGCP::Command connectCommand(unsigned target)
{
    ZGCP::Command c;
    c.select_connect(target);
    return c;
}

// The commands without parameters of their own (activate with empty parameters), by
// alternative: disconnect, destroy, activate, deactivate, query, ping.
inline ZGCP::Command plainCommand(int alternative)
{
    ZGCP::Command c;
    switch (alternative) {
    case ZGCP::Command::disconnect::id: c.select_disconnect(); break;
    case ZGCP::Command::destroy::id: c.select_destroy(); break;
    case ZGCP::Command::activate::id: c.select_activate().select_empty(); break;
    case ZGCP::Command::deactivate::id: c.select_deactivate(); break;
    case ZGCP::Command::query::id: c.select_query(); break;
    default: c.select_ping(); break;
    }
    return c;
}

}  // namespace testsupport
