#pragma once

// What a controller expects of the daemon's answers, from its own requests and its own book
// of the slot numbers it holds: the answers a command may get (the cause, where the request
// and the book decide it), and how each checked answer changes the book.

#include "messages/zgcp.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace answers {

// A set of answers: success and each error cause, one bit each.
using Answers = std::uint32_t;
constexpr Answers kSuccess = 1u << 31;
constexpr Answers of(ZGCP::ErrorCause::NamedNumber cause) { return 1u << unsigned(cause); }

// The slot kinds as their commands are answered.
enum class Kind : std::uint8_t {
    plain,     // serves none of activate, deactivate, userData and ioctl
    ext,       // activate and deactivate through the switch
    rtp,       // the RTP session's requests
    radio,     // those and the radio's
    modem,     // activate with modem parameters; its release may wait for its child program
    mcc,       // user data written to its channel
    mixerIn,   // the mixer input port's requests
    mixerOut,  // the mixer output port's requests
    hdlc,      // activate, deactivate and packages
    ss7,       // a signalling stack with an SS7 link: its log and BSN requests too
    stack,     // a signalling stack: activate, deactivate and user data
};

// What the controller knows of a message from its decoded value.
struct Facts {
    enum class Pdu : std::uint8_t { undecodable, command, response, signal };
    // How a command's answer is decided: by the request alone (fixed), or by the book too.
    enum class Op : std::uint8_t { fixed, connect, disconnect, create, destroy, hook };

    Pdu pdu = Pdu::undecodable;
    Op op = Op::fixed;
    bool display = false;
    bool seqPresent = false;
    bool slotPresent = false;
    std::int32_t seq = 0;
    std::uint32_t slot = 0;
    // A response: the answer it is (0: a cause not known here).
    Answers answer = 0;
    // Op::fixed: the answers the request may get; Op::create: the outcomes of the create on
    // a free number.
    Answers allowed = 0;
    // Op::connect: the slot number to connect from.
    std::uint32_t target = 0;
    // Op::create: the kind made and what it takes from the slots holding it (-1: nothing).
    Kind kind = Kind::plain;
    std::array<std::int32_t, 2> claims{{-1, -1}};
    // Op::hook: the command's alternative, its ioctl alternative, and whether an activate
    // carries modem parameters.
    std::uint8_t hook = 0;
    std::uint8_t ioctl = 0;
    bool modem = false;

    // Whether its answer repeats its slot number.
    bool answerHasSlot() const { return pdu == Pdu::command && slotPresent && slot < 1024; }
};

Facts factsOf(ZGCP::Message const& message);

// "success" or "error <cause>" for each answer of the set.
std::string text(Answers answers);

// The controller's book of the slot numbers: free, held, released with the destroy's answer
// owed, or released with no answer owed (gone at a moment it is not told).
class SlotBook {
public:
    struct Due {
        Answers answers;
        // A destroy whose answer may come later.
        bool mayWait;
    };

    // What a command may get now.
    Due due(Facts const& command) const;
    // The command got the answer (0: none for now, as due() let it).
    void answered(Facts const& command, Answers answer);
    // A later answer: true when it is the success of a destroy that waits for it, which
    // ends the slot.
    bool late(Facts const& response);
    // Whether the number may hold a slot.
    bool exists(std::uint32_t number) const { return number < kCount && book_[number].state != State::free; }
    // Destroys that wait for their answer.
    std::size_t owed() const;
    // The controller is gone: every slot with it.
    void clear() { book_.fill(Entry{}); }

private:
    static constexpr std::uint32_t kCount = 1024;
    enum class State : std::uint8_t { free, held, waiting, fading };
    struct Entry {
        State state = State::free;
        Kind kind = Kind::plain;
        bool seqPresent = false;
        std::int32_t seq = 0;
        std::array<std::int32_t, 2> claims{{-1, -1}};
    };

    Answers hook(Entry const& slot, Facts const& command) const;
    void made(Facts const& command);

    std::array<Entry, kCount> book_{};
};

}  // namespace answers
