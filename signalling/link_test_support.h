#pragma once

// Shared by the tests of the links over HDLC: a link alone in a stack on an in-memory
// channel, and scenarios of steps run against it.

#include "base/packet.h"
#include "control/protocol.h"
#include "tests/memory_hdlc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace linktest {

typedef std::vector<std::uint8_t> Bytes;

// A layer-3 message handed down the stack.
inline void handDown(ProtocolsFamily& stack, Bytes const& message)
{
    Packet p;
    stack.prepare_head(p);
    for (std::uint8_t x : message)
        p.put8(x);
    stack.message(p);
}

// The link alone in a stack on an in-memory channel; what reaches the stack from the link is
// journaled as events.
template <class Link>
class Stack : public ProtocolsFamily {
public:
    template <class... Args>
    explicit Stack(Args&&... args) : link(new Link(std::forward<Args>(args)...))
    {
        add_protocol_tail(link);
        link->hdlc(&channel);
        channel.bind(link);
    }

    // The peer sends a frame.
    void peer(Bytes const& frame) { channel.deliver(frame); }
    void down(Bytes const& message) { handDown(*this, message); }
    // The events since the last call.
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(events);
        return out;
    }

    void on_activated(Protocol*) override { events.push_back("activated"); }
    void on_deactivated(Protocol*, Protocol_status s) override { events.push_back("deactivated: " + s->message()); }
    void on_message(Packet& p) override { events.push_back("up: " + p.text()); }

    testsupport::MemoryHdlc channel;
    Link* link;  // owned by the stack
    std::vector<std::string> events;
};

// One step of a scenario: what happens, the frames the link sends in answer (exactly), its
// state after it and the events reported upwards (exactly).
template <class Bench>
struct Step {
    char const* what;
    std::function<void(Bench&)> act;
    std::vector<Bytes> sent;
    int state;
    std::vector<std::string> events;
};

template <class Bench>
void run(Bench& b, std::vector<Step<Bench>> const& steps)
{
    for (Step<Bench> const& s : steps) {
        s.act(b);
        EXPECT_EQ(s.sent, b.channel.take()) << s.what;
        EXPECT_EQ(s.state, b.state()) << s.what;
        EXPECT_EQ(s.events, b.take()) << s.what;
    }
}

}  // namespace linktest
