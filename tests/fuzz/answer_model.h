#pragma once

// What a controller expects of the daemon's answers, from its own requests and its own book
// of the slot numbers it holds: the answers a command may get (the cause, where the request
// and the book decide it), and how each checked answer changes the book.

#include "messages/zgcp.h"
#include "tests/fuzz/board_book.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace answers {

// A set of answers: success and each error cause, one bit each.
using Answers = std::uint32_t;
constexpr Answers kSuccess = 1u << 31;
constexpr Answers of(ZGCP::ErrorCause::NamedNumber cause) { return 1u << unsigned(cause); }

// The slot kinds as their commands are answered and as they use the board.
enum class Kind : std::uint8_t {
    plain,     // serves none of activate, deactivate, userData and ioctl
    trunk,     // as plain; an E1 or BRI time slot's fixed switch channel
    t38,       // as plain; an MCC channel its relay program holds
    voice,     // as plain; a player's or a recorder's MCC channel
    ext,       // activate and deactivate through the switch
    rtp,       // the RTP session's requests
    radio,     // those, and its radio control's on the extension device
    modem,     // activate with modem parameters; its release may wait for its child program
    mcc,       // user data written to its channel
    mixerIn,   // the mixer input port's requests
    mixerOut,  // the mixer output port's requests
    hdlc,      // activate, deactivate and packages; its link opens an MCC channel
    ss7,       // a signalling stack with an SS7 link: its log and BSN requests too; as stack
    stack,     // a PSTN signalling stack: activate, deactivate and user data; its link opens an
               // MCC channel
    cas,       // a PSTN slot with no link: as stack, but its user data is taken and goes nowhere
    isdn,      // an ISDN or QSIG stack: as stack, on a channel of its own from its create
};

// What a create asks of the board once its parameters pass, in order.
enum class Chain : std::uint8_t {
    none,        // nothing the book follows
    rtp,         // an RTP session: the device opened, the session begun, its channel added
    rtpRefused,  // the same, then the parameters refused (a radio form no factory builds)
    mccRefused,  // the MCC device opened, then the parameters refused
    mccChannel,  // an MCC channel: opened, allocated and its time slot known
};

// What the controller knows of a message from its decoded value.
struct Facts {
    enum class Pdu : std::uint8_t { undecodable, command, response, signal };
    // How a command's answer is decided: by the request alone (fixed), or by the book too.
    enum class Op : std::uint8_t { fixed, connect, disconnect, create, destroy, hook };

    Pdu pdu = Pdu::undecodable;
    Op op = Op::fixed;
    bool display = false;
    // The resource query, which reads the MCC channel counts now or later.
    bool query = false;
    // A bus test that writes bytes on switch outputs.
    bool writesSwitch = false;
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
    // Op::create: the kind made and what it takes from the slots holding it (-1: nothing),
    // and its switch channel when its parameters give it (a trunk's; -1: none, or one the
    // board gives).
    Kind kind = Kind::plain;
    std::array<std::int32_t, 2> claims{{-1, -1}};
    std::int32_t channel = -1;
    // Op::create: what it asks of the board, the MCC channel type it allocates, and whether
    // the outcome of a create whose board requests pass is not known (a relay program that
    // may not start).
    Chain chain = Chain::none;
    std::uint8_t mccType = 0;
    bool outcomeOpen = false;
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
// owed, or released with no answer owed (gone at a moment it is not told); what links each
// slot's input to another's; and, with the book of what the input made the board refuse
// (board()), the device requests each command needs and what they meet.
class SlotBook {
public:
    struct Due {
        Answers answers;
        // A destroy whose answer may come later.
        bool mayWait;
        // Nothing goes out on a line of the board while it is handled.
        bool quiet = false;
    };

    // A new input: no slot, nothing armed on the board.
    void begin();
    // What a command may get now, the device requests it makes taken from the board book.
    Due expect(Facts const& command);
    // The command got the answer (0: none for now, as expect() let it).
    void answered(Facts const& command, Answers answer);
    // A later answer: true when it is the success of a destroy that waits for it, which
    // ends the slot.
    bool late(Facts const& response);
    // Whether the number may hold a slot.
    bool exists(std::uint32_t number) const { return number < kCount && book_[number].state != State::free; }
    // Destroys that wait for their answer.
    std::size_t owed() const;
    // The controller is gone: every slot with it.
    void clear();

    // What the input armed on the board; the reads of a device fail from now on.
    BoardBook& board() { return board_; }
    void failReads(std::string const& path);

private:
    static constexpr std::uint32_t kCount = 1024;
    // A link the book cannot tell.
    static constexpr std::int32_t kUnknown = -2;
    enum class State : std::uint8_t { free, held, waiting, fading };
    // What the switch records as the input of a slot's receive channel: its source's transmit
    // channel (yes), anything else (no), or what the book cannot tell.
    enum class Switched : std::uint8_t { no, yes, unknown };
    struct Entry {
        State state = State::free;
        Kind kind = Kind::plain;
        bool seqPresent = false;
        std::int32_t seq = 0;
        std::array<std::int32_t, 2> claims{{-1, -1}};
        // It holds its switch channel for sure (nothing it uses on the board may have ended).
        bool sure = false;
        // The slot whose output feeds its input (-1: none; kUnknown).
        std::int32_t source = -1;
        // The MCC channel type it holds (-1: none).
        std::int8_t mccType = -1;
        // Its switch channel when the book knows it (a trunk's; -1 otherwise), and what the
        // switch records of its source there.
        std::int32_t channel = -1;
        Switched switched = Switched::no;
    };
    // What expect() learnt of a command for answered(): whether a new slot holds its channel
    // for sure; what the switch records for a connect's target once it is linked, and once
    // its link failed.
    struct Pending {
        bool sure = false;
        Switched linked = Switched::no;
        Switched kept = Switched::no;
    };

    Answers hook(Entry const& slot, Facts const& command);
    // A create's outcomes, when its factory runs for sure (runs) or maybe.
    Answers create(Facts const& command, bool runs);
    Answers connect(Facts const& command);
    Answers disconnect(std::uint32_t number);
    void made(Facts const& command);
    // What the board requests of a command on a slot of a kind the book does not follow take.
    void unfollowed(Kind kind);
    // A slot of a kind that joins its channel to lines: from now on what the switch records
    // of the lines is not known, and idle bytes are written at any time.
    void joinsLines();
    // Whether the book follows the slot's links: held for sure on a channel of its own, of a
    // kind the switch links with one request.
    static bool follows(Entry const& slot);
    // Whether the book tells what the link into the slot asks of the switch.
    bool linkFollowed(std::uint32_t number) const;
    // What the switch records on the slot's receive channel changed: other slots on that
    // channel do not know theirs any more.
    void touched(std::uint32_t number);
    // The link into the slot goes as the connection rules undo it: the idle byte written on
    // its receive channel where the switch still records the link. What the write meets
    // (passes when none is made).
    Fate undoLink(std::uint32_t number);
    // The slot is gone: its links went with it.
    void gone(std::uint32_t number);
    // The slot may have lost its channel: it, and the links to and from it, are not known.
    void unsure(std::uint32_t number);
    bool capacity(Facts const& command) const;

    std::array<Entry, kCount> book_{};
    BoardBook board_;
    Pending pending_;
    // Channels that relay programs may still hold after their slots went; MCC channels held
    // by links the book does not count.
    unsigned relaysGone_ = 0;
    bool linksHoldChannels_ = false;
    // A signalling link's slot was made (joinsLines()).
    bool linesJoined_ = false;
};

}  // namespace answers
