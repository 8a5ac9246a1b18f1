#include "tests/controller_client.h"

#include "asn1/asn1.h"
#include "asn1/per_test_support.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

namespace testsupport {

namespace {

int msLeft(std::chrono::steady_clock::time_point deadline)
{
    auto const ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return ms > 0 ? int(ms) : 0;
}

}  // namespace

ZGCP::Message zgcpMessage(ZGCP::PDU const& pdu, std::optional<int> seq, std::optional<unsigned int> slot)
{
    ZGCP::Message message;
    if (seq)
        message.set_seq(*seq);
    if (slot)
        message.set_slot(*slot);
    message.set_pdu(pdu);
    return message;
}

ZGCP::Message zgcpCommand(ZGCP::Command const& command, std::optional<int> seq, std::optional<unsigned int> slot)
{
    return zgcpMessage(ZGCP::PDU(ZGCP::PDU::command::id, command), seq, slot);
}

ZGCP::Command pingCommand() { return ZGCP::Command(ZGCP::Command::ping::id, ASN1::Null()); }

ZGCP::Command destroyCommand() { return ZGCP::Command(ZGCP::Command::destroy::id, ASN1::Null()); }

Bytes encodePer(ASN1::AbstractData const& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    if (!ASN1::encode(value, &env, std::back_inserter(octets)))
        return Bytes();
    return Bytes(octets.begin(), octets.end());
}

bool decodePer(Bytes const& body, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    char const* data = reinterpret_cast<char const*>(body.data());
    // No value is encoded in no octets.
    return !body.empty() && ASN1::decode(data, data + body.size(), &env, value, true);
}

std::string oneLine(std::string const& text)
{
    std::string out;
    for (char c : text) {
        bool const space = c == ' ' || c == '\n' || c == '\t' || c == '\r';
        if (!space)
            out += c;
        else if (out.empty() || out.back() != ' ')
            out += ' ';
    }
    return out;
}

std::string describeZgcp(ZGCP::Message const& message)
{
    std::string text;
    if (message.seq_isPresent())
        text += "seq=" + std::to_string(message.get_seq().getValue()) + " ";
    if (message.slot_isPresent())
        text += "slot=" + std::to_string(message.get_slot().getValue()) + " ";
    ZGCP::PDU const& pdu = message.get_pdu();
    if (pdu.command_isSelected())
        text += "command=" + std::to_string(pdu.get_command().currentSelection());
    else if (pdu.signal_isSelected())
        text += "signal=" + std::to_string(pdu.get_signal().currentSelection());
    else if (pdu.response_isSelected() && pdu.get_response().success_isSelected())
        text += "success";
    else if (pdu.response_isSelected() && pdu.get_response().error_isSelected())
        text += "error=" + std::to_string(pdu.get_response().get_error().asInt());
    else
        text += "nothing selected";
    return text;
}

std::string hexText(Bytes const& bytes) { return per_test::hex(std::vector<char>(bytes.begin(), bytes.end())); }

Bytes hexBytes(std::string const& text)
{
    std::vector<char> const octets = per_test::octets(text);
    return Bytes(octets.begin(), octets.end());
}

bool ControllerClient::connect(std::uint16_t port, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (tcp_.connect(port))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ControllerClient::send(ZGCP::Message const& message)
{
    Bytes const body = encodeZgcp(message);
    return !body.empty() && tcp_.sendFrame(body);
}

bool ControllerClient::receiveFrame(Bytes& body, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (receiveOne(body, msLeft(deadline))) {
        if (!skipped(body))
            return true;
    }
    return false;
}

bool ControllerClient::skipped(Bytes const& body) const
{
    // A signal never carries a sequence number (the first option bit): answers to numbered
    // commands are not decoded here.
    if (skipped_.empty() || body.empty() || (body[0] & 0x80) != 0)
        return false;
    ZGCP::Message message;
    if (!decodeZgcp(body, message) || !message.get_pdu().signal_isSelected())
        return false;
    int const alternative = message.get_pdu().get_signal().currentSelection();
    return std::find(skipped_.begin(), skipped_.end(), alternative) != skipped_.end();
}

bool ControllerClient::receiveOne(Bytes& body, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!tcp_.receive(4, timeoutMs))
        return false;
    Bytes const& in = tcp_.received();
    if (in[0] != 3 || in[1] != 0)
        return false;
    std::size_t const length = std::size_t(in[2]) << 8 | in[3];
    if (length < 4 || !tcp_.receive(length, msLeft(deadline)))
        return false;
    tcp_.take(4);
    body = tcp_.take(length - 4);
    return true;
}

bool ControllerClient::receive(ZGCP::Message& message, int timeoutMs)
{
    Bytes body;
    return receiveFrame(body, timeoutMs) && decodeZgcp(body, message);
}

std::string ControllerClient::receiveText(int timeoutMs)
{
    Bytes body;
    if (!receiveFrame(body, timeoutMs))
        return "no message";
    ZGCP::Message message;
    if (!decodeZgcp(body, message))
        return "undecodable";
    return describeZgcp(message);
}

}  // namespace testsupport
