// Fuzz target of the controller server's receiving end: the input is one message as the
// controller connection hands it over (OnMessage), which the server decodes as a ZGCP::Message
// (aligned PER) and dispatches to its handlers; one recording handler is bound, and a
// controller is connected over a unix-domain socket. The handler does with a command what
// the command's sequence number says (none: it takes no command): takes none, answers
// success, answers an error (the cause from the number's higher digits), answers later (the
// target then gives the success), does not answer, or answers twice. After every input:
// - a message that decodes and encodes again reads back equal and encodes to the same octets,
//   and its value notation reads back equal;
// - a decoded message that does not encode again is one the validity checker refuses: a
//   number above its range (the slot number above 1023 among them), an alternative or an
//   enumeration value its type does not list, a character outside a string's alphabet;
// - whether it encodes or not, the server answers as its dispatch and the handler say:
//   no decode: the decode-error line, no answer, no handler asked;
//   a response or a signal: error unexpectedMsgType, no handler asked;
//   a slot number above 1023: error invalidSlot, no handler asked;
//   otherwise the handler is offered the command once, with the slot number held, and the
//   answer is the handler's first: unexpectedMsgType when it takes none, internal when it
//   takes it without one, nothing until the later success;
//   an answer is one whole TPKT frame, which decodes, repeats the message's sequence number
//   (if it had one) and carries a slot number only when the handler was asked with one;
// - the connection is still up, no slot number is held and no answer is owed.
// A breach is printed on the error stream and aborts the run. Corpus:
// control/fuzz/ctrl_server_corpus (the protocol's examples, messages that decode but do not
// encode again, each handling, and a long message). A run (the longest input as
// LLVMFuzzerInitialize sets it unless given):
//   build/fuzz/control/ctrl_server_fuzz -max_total_time=1200 <new inputs> control/fuzz/ctrl_server_corpus

#include "asn1/asn1.h"
#include "base/fd.h"
#include "control/acceptor_unix.h"
#include "control/ctrl_server.h"
#include "messages/zgcp.h"
#include "tests/controller_client.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kTarget[] = "ctrl_server_fuzz";

void breach(std::string const& what) { testsupport::breach(kTarget, what); }

ASN1::CoderEnv& per()
{
    static ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    return env;
}

bool decode(char const* begin, char const* end, ZGCP::Message& message)
{
    return ASN1::decode(begin, end, &per(), message, true);
}

// What the handler does with a command, by the command's sequence number.
enum class Handling { pass, success, error, later, silent, twice, kinds };

struct Plan {
    Handling handling = Handling::pass;
    ZGCP::ErrorCause::NamedNumber cause = ZGCP::ErrorCause::invalidParams;
};

Plan planOf(bool decoded, ZGCP::Message const& message)
{
    if (!decoded || !message.seq_isPresent())
        return {};
    unsigned const seq = unsigned(message.get_seq().getValue());
    unsigned const kinds = unsigned(Handling::kinds);
    return {Handling(seq % kinds), ZGCP::ErrorCause::NamedNumber(seq / kinds % 13)};
}

// The handler: notes the slot number held at each command it is offered, and handles it as
// planned; a later answer is given by later().
class Recorder : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(ZGCP::Command const&) override
    {
        offers.push_back(GetSlot());
        switch (plan.handling) {
        case Handling::pass: return false;
        case Handling::success: Success(); break;
        case Handling::error: Error(plan.cause); break;
        case Handling::later:
            owed_ = {GetSlot(), delayResponse()};
            break;
        case Handling::silent: break;
        default:
            Success();
            Error(plan.cause);
            break;
        }
        return true;
    }
    // The success of the command answered later, if there is one.
    void later()
    {
        if (owed_)
            delayedSuccess(unsigned(owed_->first), unsigned(owed_->second));
        owed_.reset();
    }

    Plan plan;
    std::vector<int> offers;

private:
    std::optional<std::pair<int, int>> owed_;
};

// The server, listening on a unix-domain socket, and the controller connected to it; built
// once for the process.
struct Bench {
    Bench()
    {
        char folder[] = "/tmp/ctrl-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            breach("no folder for the socket");
        std::string const path = std::string(folder) + "/ctrl.sock";
        server.Bind(&recorder);
        sockaddr_un address{};
        controller = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!server.Activate(new Control::AcceptorUnix(path)) || !Control::UnixAddress(path, address)
            || testsupport::connectWithin(controller.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address),
                                          sizeof address, 10000)
                   != 0
            || !testsupport::runUntil([this] { return server.link()->IsConnected(); }, 10000))
            breach("the controller does not get connected");
        // The connection stays; the loop is not run again, so nothing else ever connects.
        ::unlink(path.c_str());
        ::rmdir(folder);
    }

    // The messages the server sent since the last call: each a whole TPKT frame that decodes.
    std::vector<ZGCP::Message> answers()
    {
        std::vector<std::uint8_t> in;
        testsupport::receiveAll(controller.lowlevel_fd(), in);
        std::vector<ZGCP::Message> out;
        testsupport::takeFrames(kTarget, in, [&](std::vector<std::uint8_t> const& body) {
            out.emplace_back();
            if (!testsupport::decodePer(body, out.back()))
                breach("an answer does not decode");
        });
        if (!in.empty())
            breach("the server sent something but a whole TPKT frame");
        return out;
    }

    Recorder recorder;
    CtrlSrv::Server server;
    Fd controller;
};

// What the server must do with a message: its answer (none: it answers nothing, or not
// before the later success), and whether the handler is asked.
struct Expected {
    enum Answer { none, success, error } answer = none;
    ZGCP::ErrorCause::NamedNumber cause = ZGCP::ErrorCause::invalidParams;
    bool asked = false;
};

Expected dispatchOf(bool decoded, ZGCP::Message const& message, Plan const& plan)
{
    using Cause = ZGCP::ErrorCause;
    if (!decoded)
        return {};
    if (!message.get_pdu().command_isSelected())
        return {Expected::error, Cause::unexpectedMsgType, false};
    if (message.slot_isPresent() && unsigned(message.get_slot().getValue()) > unsigned(CtrlSrv::Server::max_slot))
        return {Expected::error, Cause::invalidSlot, false};
    switch (plan.handling) {
    case Handling::pass: return {Expected::error, Cause::unexpectedMsgType, true};
    case Handling::error: return {Expected::error, plan.cause, true};
    case Handling::later: return {Expected::none, Cause::invalidParams, true};
    case Handling::silent: return {Expected::error, Cause::internal, true};
    default: return {Expected::success, Cause::invalidParams, true};
    }
}

// A message that encodes goes round the coder and the value notation intact.
void checkRoundTrip(ZGCP::Message const& message, std::vector<char> const& encoded)
{
    ZGCP::Message again;
    std::vector<char> reencoded;
    if (!decode(encoded.data(), encoded.data() + encoded.size(), again) || again != message
        || !ASN1::encode(again, &per(), std::back_inserter(reencoded)) || reencoded != encoded)
        breach("the message does not go round the coder intact");
    std::ostringstream text;
    if (message.print_on(text) != std::ios_base::goodbit)
        breach("an encodable message does not print");
    ZGCP::Message parsed;
    if (!parsed.setFromValueNotation(text.str()) || parsed != message)
        breach("the value notation does not read back: " + text.str());
}

void checkAnswer(ZGCP::Message const& message, Expected const& expected, std::vector<ZGCP::Message> const& answers)
{
    if (answers.size() != (expected.answer != Expected::none ? 1u : 0u))
        breach(std::to_string(answers.size()) + " answers");
    if (expected.answer == Expected::none)
        return;
    ZGCP::Message const& answer = answers.front();
    ZGCP::PDU const& pdu = answer.get_pdu();
    bool const right = pdu.response_isSelected()
                    && (expected.answer == Expected::success
                            ? pdu.get_response().success_isSelected()
                            : pdu.get_response().error_isSelected() && pdu.get_response().get_error() == expected.cause);
    if (!right)
        breach("answer " + answer.asValueNotation() + " instead of "
               + (expected.answer == Expected::success ? std::string("success")
                                                       : "error " + ZGCP::ErrorCause(expected.cause).asValueNotation()));
    if (answer.seq_isPresent() != message.seq_isPresent()
        || (message.seq_isPresent() && answer.get_seq().getValue() != message.get_seq().getValue()))
        breach("the answer does not repeat the sequence number");
    bool const slotHeld = expected.asked && message.slot_isPresent();
    if (answer.slot_isPresent() != slotHeld
        || (slotHeld && answer.get_slot().getValue() != message.get_slot().getValue()))
        breach("the answer's slot number is not the one held");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Long messages (a user data block, a display of many items) fit.
    testsupport::quietFuzzer(argc, argv, {"-max_len=8192"});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    static Bench* const bench = new Bench;  // never destroyed: the process's streams outlive it
    char const* const begin = reinterpret_cast<char const*>(data);
    char const* const end = begin + size;

    ZGCP::Message message;
    bool const decoded = decode(begin, end, message);
    if (decoded) {
        std::vector<char> encoded;
        bool const encodes = ASN1::encode(message, &per(), std::back_inserter(encoded));
        if (!encodes && message.isValid())
            breach("a valid message does not encode: " + message.asValueNotation());
        if (encodes)
            checkRoundTrip(message, encoded);
    }

    // The server's log, kept for the input.
    std::ostringstream log;
    std::streambuf* const errors = std::cerr.rdbuf(log.rdbuf());
    Plan const plan = planOf(decoded, message);
    bench->recorder.offers.clear();
    bench->recorder.plan = plan;
    bench->server.OnMessage(begin, int(size));
    std::cerr.rdbuf(errors);

    bool const decodeError = log.str().find("receive fail: decode error!") != std::string::npos;
    if (decodeError == decoded)
        breach(decoded ? "a message that decodes is logged as a decode error" : "no decode error logged");
    Expected const expected = dispatchOf(decoded, message, plan);
    // A message that failed part way may hold a presence bit without its field.
    int const slot = expected.asked && message.slot_isPresent() ? int(message.get_slot().getValue()) : -1;
    if (bench->recorder.offers != (expected.asked ? std::vector<int>{slot} : std::vector<int>{}))
        breach("the handler was asked " + std::to_string(bench->recorder.offers.size()) + " times");
    checkAnswer(message, expected, bench->answers());
    if (expected.asked && plan.handling == Handling::later) {
        bench->recorder.later();
        checkAnswer(message, Expected{Expected::success, ZGCP::ErrorCause::invalidParams, true}, bench->answers());
    }
    // No failure closes the connection, and nothing waits for a later answer.
    if (bench->server.GetSlot() != -1 || !bench->server.link()->IsConnected() || bench->server.delayed_count() != 0)
        breach("the server is left holding a slot number, without its connection or owing an answer");
    return 0;
}
