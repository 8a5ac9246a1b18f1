#include "tests/fuzz/answer_model.h"

#include <algorithm>
#include <string>

namespace answers {

namespace {

using Cause = ZGCP::ErrorCause;
using Command = ZGCP::Command;
using Create = ZGCP::CreateParams;
using Ioctl = ZGCP::IoctlParams;

// What a command a slot serves through the driver may get: success, or any refusal of the
// slot (never one of the table's or the server's own).
constexpr Answers kDriver = (kSuccess | ((1u << 13) - 1))
                            & ~(of(Cause::invalidSlot) | of(Cause::slotNotExists) | of(Cause::unexpectedMsgType)
                                | of(Cause::internal) | of(Cause::slotIdBusy) | of(Cause::destroyInProgress));
constexpr Answers kMayRefuse = kSuccess | of(Cause::insufficientResources);

// The ioctl requests each kind serves, one bit an alternative.
constexpr std::uint64_t bits(std::initializer_list<int> ids)
{
    std::uint64_t out = 0;
    for (int id : ids)
        out |= std::uint64_t(1) << id;
    return out;
}
constexpr std::uint64_t kRtpRequests =
    bits({Ioctl::echoSuppressor::id, Ioctl::dtmf_enable::id, Ioctl::dtmf_reject_enable::id,
          Ioctl::activateWaitTone::id, Ioctl::deactivateWaitTone::id, Ioctl::translateDTMF::id,
          Ioctl::dtmf_params::id, Ioctl::vad_enable::id, Ioctl::vad_disable::id, Ioctl::vad_params::id,
          Ioctl::sd_enable::id, Ioctl::sd_disable::id, Ioctl::sd_params::id, Ioctl::pd_enable::id,
          Ioctl::pd_disable::id, Ioctl::encoder_mode::id, Ioctl::decoder_mode::id, Ioctl::rx_gain::id,
          Ioctl::tone_filter::id, Ioctl::selcal::id});
constexpr std::uint64_t kMixerInRequests =
    bits({Ioctl::echoSuppressor::id, Ioctl::dtmf_enable::id, Ioctl::dtmf_reject_enable::id, Ioctl::translateDTMF::id,
          Ioctl::dtmf_params::id, Ioctl::vad_enable::id, Ioctl::vad_disable::id, Ioctl::vad_params::id,
          Ioctl::sd_enable::id, Ioctl::sd_disable::id, Ioctl::sd_params::id, Ioctl::iva_enable::id,
          Ioctl::iva_params::id, Ioctl::rx_gain::id, Ioctl::tone_filter::id, Ioctl::delays::id});
constexpr std::uint64_t kMixerOutRequests =
    bits({Ioctl::translateDTMF::id, Ioctl::dtmf_disable::id, Ioctl::dtmf_params::id, Ioctl::vad_enable::id,
          Ioctl::vad_disable::id, Ioctl::vad_params::id, Ioctl::sd_enable::id, Ioctl::sd_disable::id,
          Ioctl::sd_params::id, Ioctl::dtmf_reject_disable::id, Ioctl::iva_enable::id, Ioctl::tone_filter::id,
          Ioctl::tone_gen_enable::id, Ioctl::tone_gen_disable::id, Ioctl::delays::id});

std::uint64_t requestsOf(Kind kind)
{
    switch (kind) {
    case Kind::rtp: return kRtpRequests;
    case Kind::radio: return kRtpRequests | bits({Ioctl::rtpExt::id});
    case Kind::mixerIn: return kMixerInRequests;
    case Kind::mixerOut: return kMixerOutRequests;
    case Kind::hdlc: return bits({Ioctl::hdlcPackages::id});
    case Kind::ss7: return bits({Ioctl::ss7RqBSN::id, Ioctl::ss7Log::id});
    default: return 0;
    }
}

// A claim of a trunk's time slot or of a shared-bus channel: one owner each.
constexpr std::int32_t claim(int space, unsigned value) { return std::int32_t(space << 16 | int(value & 0xFFFF)); }

// A create's kind, what the new slot claims and the outcomes its parameters allow.
void createFacts(Create const& params, Facts& out)
{
    out.allowed = kMayRefuse;
    switch (params.currentSelection()) {
    case Create::mixerOut::id:
    case Create::mixerIn::id: {
        bool const in = params.mixerIn_isSelected();
        int const unit = in ? params.get_mixerIn().get_unit().getValue() : params.get_mixerOut().get_unit().getValue();
        out.kind = in ? Kind::mixerIn : Kind::mixerOut;
        // The board has units 0 and 1.
        out.allowed = unit == 0 || unit == 1 ? kMayRefuse : of(Cause::insufficientResources);
        break;
    }
    case Create::rtp::id:
        out.kind = params.get_rtp().get_codecRTP().radio_isPresent() ? Kind::radio : Kind::rtp;
        out.allowed = kMayRefuse | of(Cause::invalidParams);
        break;
    case Create::modem::id:
        out.kind = Kind::modem;
        out.allowed = kSuccess;
        break;
    case Create::pstn::id:
        out.kind = params.get_pstn().ss7_isSelected() ? Kind::ss7 : Kind::stack;
        out.allowed = kSuccess;
        break;
    case Create::trunk::id:
    case Create::trunk_bri::id: {
        bool const bri = params.trunk_bri_isSelected();
        ZGCP::TrunkParams const& p = bri ? params.get_trunk_bri() : params.get_trunk();
        unsigned const trunk = p.get_trunk().getValue(), timeslot = p.get_timeslot().getValue();
        // E1 trunks 0..3 of 32 time slots, BRI lines 0..7 of 4 channels.
        bool const there = bri ? trunk < 8 && timeslot < 4 : trunk < 4 && timeslot < 32;
        out.allowed = there ? kSuccess : of(Cause::insufficientResources);
        out.claims[0] = claim(bri ? 2 : 1, trunk << 8 | timeslot);
        break;
    }
    case Create::map::id: {
        ZGCP::MapParams const& p = params.get_map();
        auto const index = [](ZGCP::SharedChannel const& c) { return c.get_bus().getValue() * 128 + c.get_channel().getValue(); };
        if (p.transmitter_isPresent())
            out.claims[0] = claim(3, index(p.get_transmitter()));
        if (p.receiver_isPresent())
            out.claims[1] = claim(3, index(p.get_receiver()));
        out.allowed = kSuccess;
        break;
    }
    case Create::ext::id: {
        int const tx = params.get_ext().get_transmitter().getValue(), rx = params.get_ext().get_receiver().getValue();
        out.kind = Kind::ext;
        // Channels of the shared bus, 0..2047.
        out.allowed = tx >= 0 && tx < 2048 && rx >= 0 && rx < 2048 ? kSuccess : of(Cause::insufficientResources);
        break;
    }
    case Create::mcc::id: out.kind = Kind::mcc; break;
    case Create::echo::id:
        out.allowed = params.get_echo().get_bus().getValue() >= 0 ? kMayRefuse : of(Cause::insufficientResources);
        break;
    case Create::t38soft::id: {
        ZGCP::T38Soft const& p = params.get_t38soft();
        bool const negative =
            p.get_rx_packet_size().getValue() < 0 || p.get_rx_threshold().getValue() < 0 || p.get_tx_threshold().getValue() < 0;
        out.allowed = negative ? of(Cause::insufficientResources) : kMayRefuse;
        break;
    }
    case Create::isdn::id:
    case Create::ats_qsig::id: out.kind = Kind::stack; break;
    case Create::hdlcParams::id: {
        int const address = params.get_hdlcParams().get_address().getValue();
        out.kind = Kind::hdlc;
        out.allowed = address >= 0 && address <= 0xFFFF ? kSuccess : of(Cause::insufficientResources);
        break;
    }
    case Create::voice::id:
    case Create::ats_qsig_b::id: break;
    default:
        // No factory makes it.
        out.allowed = of(Cause::insufficientResources);
        break;
    }
}

// A bus test reaching past the last shared-bus channel is refused; one of no channel, or one
// that lets channels go, succeeds.
Answers busTest(ZGCP::BpcTestParams const& p)
{
    unsigned const first = p.get_bus().getValue() * 128 + p.get_timeslot_start().getValue();
    unsigned const length = p.get_timeslot_length().getValue();
    if (first + length > 16 * 128)
        return of(Cause::invalidParams);
    if (length == 0 || p.get_mode().disconnect_isSelected())
        return kSuccess;
    return kSuccess | of(Cause::busError);
}

// A command's facts: the services' answers that need no book, or what the book decides from.
void commandFacts(Command const& command, Facts& out)
{
    bool const slot = out.slotPresent;
    auto const fixed = [&](Answers answers) { out.allowed = answers; };
    switch (command.currentSelection()) {
    case Command::query::id: fixed(slot ? of(Cause::unexpectedMsgType) : kSuccess); break;
    case Command::testBpc::id: fixed(busTest(command.get_testBpc())); break;
    case Command::connect::id:
        out.op = Facts::Op::connect;
        out.target = command.get_connect().getValue();
        break;
    case Command::disconnect::id: out.op = Facts::Op::disconnect; break;
    case Command::create::id:
        out.op = Facts::Op::create;
        createFacts(command.get_create(), out);
        break;
    case Command::destroy::id: out.op = Facts::Op::destroy; break;
    case Command::ioctl::id:
        // An alternative not known here serves no kind (bit 63 is none's).
        out.ioctl = std::uint8_t(unsigned(command.get_ioctl().currentSelection()) < 63 ? command.get_ioctl().currentSelection() : 63);
        if (!slot) {
            // The trunks' CAS requests, whose device may be away.
            fixed(command.get_ioctl().cas_isSelected() ? kSuccess | of(Cause::unsupported) : kSuccess);
            return;
        }
        [[fallthrough]];
    case Command::activate::id:
    case Command::deactivate::id:
    case Command::userData::id:
        out.op = Facts::Op::hook;
        out.hook = std::uint8_t(command.currentSelection());
        out.modem = command.activate_isSelected() && command.get_activate().modem_isSelected();
        break;
    case Command::trunkCfg::id:
    case Command::clockCfg::id:
    case Command::ping::id:
    case Command::display::id: fixed(kSuccess); break;
    default: fixed(of(Cause::unexpectedMsgType)); break;
    }
    // The table's commands need a slot number.
    if (!slot && out.op != Facts::Op::fixed) {
        out.op = Facts::Op::fixed;
        fixed(of(Cause::unexpectedMsgType));
    }
}

}  // namespace

Facts factsOf(ZGCP::Message const& message)
{
    Facts out;
    out.seqPresent = message.seq_isPresent();
    out.seq = out.seqPresent ? message.get_seq().getValue() : 0;
    out.slotPresent = message.slot_isPresent();
    out.slot = out.slotPresent ? message.get_slot().getValue() : 0;
    ZGCP::PDU const& pdu = message.get_pdu();
    // What the controller sends is a command: anything else is refused as such.
    out.allowed = of(Cause::unexpectedMsgType);
    if (pdu.response_isSelected()) {
        out.pdu = Facts::Pdu::response;
        ZGCP::Response const& r = pdu.get_response();
        int const cause = r.error_isSelected() ? r.get_error().asInt() : -1;
        out.answer = r.success_isSelected() ? kSuccess : cause >= 0 && cause < 13 ? 1u << cause : 0;
        return out;
    }
    if (pdu.signal_isSelected()) {
        out.pdu = Facts::Pdu::signal;
        return out;
    }
    out.pdu = Facts::Pdu::command;
    out.display = pdu.get_command().display_isSelected();
    // A number past the table's is refused before any service sees the command.
    if (out.slotPresent && out.slot > 1023)
        out.allowed = of(Cause::invalidSlot);
    else
        commandFacts(pdu.get_command(), out);
    return out;
}

std::string text(Answers answers)
{
    std::string out;
    if (answers & kSuccess)
        out += " success";
    for (int cause = 0; cause < 13; ++cause)
        if (answers & (1u << cause))
            out += " " + Cause(Cause::NamedNumber(cause)).asValueNotation();
    return out.empty() ? " none" : out;
}

Answers SlotBook::hook(Entry const& slot, Facts const& command) const
{
    Kind const kind = slot.kind;
    Answers const unsupported = of(Cause::unsupported);
    switch (command.hook) {
    case Command::activate::id:
        if (kind == Kind::ext)
            return kSuccess | of(Cause::connectFail);
        if (kind == Kind::modem)
            return command.modem ? kSuccess : unsupported;
        return kind == Kind::hdlc || kind == Kind::ss7 || kind == Kind::stack ? kSuccess : unsupported;
    case Command::deactivate::id:
        if (kind == Kind::ext)
            return kSuccess | of(Cause::disconnectFail);
        return kind == Kind::hdlc || kind == Kind::ss7 || kind == Kind::stack ? kSuccess : unsupported;
    case Command::userData::id:
        return kind == Kind::mcc || kind == Kind::ss7 || kind == Kind::stack ? kDriver : unsupported;
    default:
        if ((requestsOf(kind) >> command.ioctl & 1) == 0)
            return unsupported;
        // The link's log and BSN requests touch no driver.
        return kind == Kind::ss7 ? kSuccess : kDriver;
    }
}

SlotBook::Due SlotBook::due(Facts const& command) const
{
    Answers const notThere = of(Cause::slotNotExists);
    if (command.op == Facts::Op::fixed)
        return {command.allowed, false};
    Entry const& slot = book_[command.slot];
    // A slot released with no answer owed may have gone by now.
    Answers const fading = slot.state == State::fading ? notThere : 0;
    switch (command.op) {
    case Facts::Op::connect: {
        if (command.target >= kCount)
            return {of(Cause::invalidSlot), false};
        Entry const& to = book_[command.target];
        if (slot.state == State::free || to.state == State::free)
            return {notThere, false};
        // A slot being released takes no link.
        bool const held = slot.state == State::held && to.state == State::held;
        return {(held ? kSuccess : 0) | of(Cause::connectFail) | fading | (to.state == State::fading ? notThere : 0),
                false};
    }
    case Facts::Op::disconnect:
        if (slot.state == State::free)
            return {notThere, false};
        return {kSuccess | of(Cause::disconnectFail) | fading, false};
    case Facts::Op::create:
        switch (slot.state) {
        case State::free: return {command.allowed, false};
        // The old slot goes first: at once, or its release goes on and the number stays busy.
        case State::held: return {command.allowed | (slot.kind == Kind::modem ? of(Cause::slotIdBusy) : 0), false};
        case State::waiting: return {of(Cause::destroyInProgress), false};
        case State::fading: return {of(Cause::destroyInProgress) | command.allowed, false};
        }
        break;
    case Facts::Op::destroy:
        switch (slot.state) {
        case State::free: return {notThere, false};
        case State::held: return {kSuccess, slot.kind == Kind::modem};
        case State::waiting: return {of(Cause::destroyInProgress), false};
        case State::fading: return {of(Cause::destroyInProgress) | notThere, false};
        }
        break;
    default:
        if (slot.state == State::free)
            return {notThere, false};
        return {hook(slot, command) | fading, false};
    }
    return {0, false};
}

void SlotBook::made(Facts const& command)
{
    // A slot that held what the new one claims was removed for it.
    for (Entry& other : book_)
        for (std::int32_t c : command.claims)
            if (c >= 0 && other.state == State::held
                && std::find(other.claims.begin(), other.claims.end(), c) != other.claims.end())
                other = Entry{};
    Entry& slot = book_[command.slot];
    slot.state = State::held;
    slot.kind = command.kind;
    slot.claims = command.claims;
}

void SlotBook::answered(Facts const& command, Answers answer)
{
    if (command.op == Facts::Op::fixed || command.op == Facts::Op::connect)
        return;
    Entry& slot = book_[command.slot];
    if (answer == of(Cause::slotNotExists)) {
        slot = Entry{};
        return;
    }
    if (answer == of(Cause::destroyInProgress))
        return;
    if (command.op == Facts::Op::destroy) {
        // No answer yet: it comes when the release ends.
        slot = answer == 0 ? Entry{State::waiting, slot.kind, command.seqPresent, command.seq, {{-1, -1}}} : Entry{};
        return;
    }
    if (command.op != Facts::Op::create)
        return;
    if (answer == of(Cause::slotIdBusy)) {
        slot = Entry{State::fading, slot.kind, false, 0, {{-1, -1}}};
        return;
    }
    // The old slot went, whatever became of the create.
    slot = Entry{};
    if (answer == kSuccess)
        made(command);
}

bool SlotBook::late(Facts const& response)
{
    if (response.answer != kSuccess || !response.slotPresent || response.slot >= kCount)
        return false;
    Entry& slot = book_[response.slot];
    if (slot.state != State::waiting || slot.seqPresent != response.seqPresent
        || (slot.seqPresent && slot.seq != response.seq))
        return false;
    slot = Entry{};
    return true;
}

std::size_t SlotBook::owed() const
{
    return std::size_t(std::count_if(book_.begin(), book_.end(), [](Entry const& e) { return e.state == State::waiting; }));
}

}  // namespace answers
