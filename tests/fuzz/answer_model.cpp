#include "tests/fuzz/answer_model.h"

#include "board/hal.h"
#include "board/mcc.h"
#include "board/rtp.h"
#include "board/sim/mcc_model.h"
#include "board/sim/rtp_model.h"

#include <arpa/inet.h>

#include <algorithm>
#include <iterator>
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

// The payloads an RTP create takes.
bool knownPayload(TERM::Payload::NamedNumber payload)
{
    using P = TERM::Payload;
    for (P::NamedNumber known : {P::ptG711_Alaw, P::ptG711_Ulaw, P::ptG723, P::ptG729, P::ptG711mcc_Alaw,
                                 P::ptG711mcc_Ulaw, P::ptG728})
        if (payload == known)
            return true;
    return false;
}

// Whether an RTP create's parameters describe a session: addresses the resolver reads, RTP
// ports with an RTCP port after them, a packet factor of 16 bits.
bool describable(TERM::RtpParams const& rtp)
{
    auto const host = [](TERM::HostAddress const& h) {
        in_addr address{};
        return ::inet_aton(h.get_iaddr().c_str(), &address) != 0 && unsigned(h.get_port().getValue()) < 65535;
    };
    int const factor = rtp.pfactor_isPresent() ? rtp.get_pfactor().getValue() : 0;
    return host(rtp.get_dhost()) && (!rtp.shost_isPresent() || host(rtp.get_shost())) && factor >= 0 && factor <= 65535;
}

// Whether a ZARN radio's parameters ask for a form its factory does not build: a mode of the
// RTP extension other than both RTP and the extension, or RTP only.
bool unbuiltZarn(TERM::RtpParams const& rtp)
{
    if (!rtp.get_radio().get_status().zarn_isSelected() || !rtp.rtp_e2m_isPresent()
        || !rtp.get_rtp_e2m().mode_isPresent())
        return false;
    TERM::RtpExtMode const& mode = rtp.get_rtp_e2m().get_mode();
    return !mode.both_rtp_and_rtp_ext_isSelected() && !mode.only_rtp_isSelected();
}

void rtpFacts(TERM::RtpParams const& rtp, Facts& out)
{
    bool const radio = rtp.radio_isPresent();
    out.kind = radio ? Kind::radio : Kind::rtp;
    // A radio status no radio factory takes, or a payload none knows: no factory makes it.
    bool const taken = !radio || rtp.get_radio().get_status().zarn_isSelected()
                       || rtp.get_radio().get_status().ed_137_isSelected();
    if (!taken || !knownPayload(rtp.get_payload())) {
        out.allowed = of(Cause::insufficientResources);
        return;
    }
    if (!describable(rtp)) {
        out.allowed = of(Cause::invalidParams);
        return;
    }
    // A radio is made on the session as an RTP slot is: its radio control's own requests (the
    // extension device's) leave the create as it is. A form its factory does not build is
    // refused once the session is begun.
    out.chain = radio && unbuiltZarn(rtp) ? Chain::rtpRefused : Chain::rtp;
}

// Whether a player's phrases all name files of the voice folder itself, and its repeat count
// is one.
bool playable(ZGCP::PlayerParams_file const& file)
{
    for (auto const& name : file.get_name())
        if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos)
            return false;
    return file.get_repeat().getValue() >= 0;
}

void voiceFacts(ZGCP::VoiceParams const& voice, Facts& out)
{
    out.kind = Kind::voice;
    ZGCP::PlayerParams const* player = voice.player_isSelected() ? &voice.get_player() : nullptr;
    bool const plays =
        player && (player->network_isSelected() || (player->file_isSelected() && playable(player->get_file())));
    if (!voice.record_isSelected() && !plays) {
        out.allowed = of(Cause::insufficientResources);
        return;
    }
    out.chain = Chain::mccChannel;
    out.mccType = mcc::kTransparent;
}

void mccFacts(ZGCP::MccParams const& params, Facts& out)
{
    int const type = params.get_type().asInt();
    out.kind = Kind::mcc;
    // A type out of the table is refused once the device is open.
    if (type < 0 || type > int(mcc::kTransparent)) {
        out.chain = Chain::mccRefused;
        out.allowed = of(Cause::insufficientResources);
        return;
    }
    out.chain = Chain::mccChannel;
    out.mccType = std::uint8_t(params.get_mode().is_ss7() ? mcc::kSs7 : std::uint32_t(type));
}

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
        // The board has units 0 and 1. What a port asks of the mixer device (its unit's
        // channels, which a resource query refreshes) the book does not follow.
        out.allowed = unit == 0 || unit == 1 ? kMayRefuse : of(Cause::insufficientResources);
        break;
    }
    case Create::rtp::id: rtpFacts(params.get_rtp().get_codecRTP(), out); break;
    case Create::modem::id:
        out.kind = Kind::modem;
        out.allowed = kSuccess;
        break;
    case Create::pstn::id: {
        ZGCP::PstnParams const& pstn = params.get_pstn();
        out.kind = pstn.ss7_isSelected() ? Kind::ss7 : pstn.cas_isSelected() ? Kind::cas : Kind::stack;
        out.allowed = kSuccess;
        break;
    }
    case Create::trunk::id:
    case Create::trunk_bri::id: {
        bool const bri = params.trunk_bri_isSelected();
        ZGCP::TrunkParams const& p = bri ? params.get_trunk_bri() : params.get_trunk();
        unsigned const trunk = p.get_trunk().getValue(), timeslot = p.get_timeslot().getValue();
        // E1 trunks 0..3 of 32 time slots, BRI lines 0..7 of 4 channels.
        bool const there = bri ? trunk < 8 && timeslot < 4 : trunk < 4 && timeslot < 32;
        out.kind = Kind::trunk;
        out.allowed = there ? kSuccess : of(Cause::insufficientResources);
        out.claims[0] = claim(bri ? 2 : 1, trunk << 8 | timeslot);
        // A BRI line's channels share their switch channels with E1 trunk 0's time slots.
        out.channel = std::int32_t(bri ? trunk * 4 + timeslot : trunk * 32 + timeslot);
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
    case Create::mcc::id: mccFacts(params.get_mcc(), out); break;
    // The board has no echo bus: its factory makes none.
    case Create::echo::id: out.allowed = of(Cause::insufficientResources); break;
    case Create::t38soft::id: {
        ZGCP::T38Soft const& p = params.get_t38soft();
        bool const negative =
            p.get_rx_packet_size().getValue() < 0 || p.get_rx_threshold().getValue() < 0 || p.get_tx_threshold().getValue() < 0;
        out.kind = Kind::t38;
        if (negative) {
            out.allowed = of(Cause::insufficientResources);
            break;
        }
        // The relay program may not start (no process to be had): a create whose board
        // requests pass may still be refused.
        out.chain = Chain::mccChannel;
        out.mccType = mcc::kTransparent;
        out.outcomeOpen = true;
        break;
    }
    case Create::isdn::id:
        out.kind = Kind::isdn;
        out.chain = Chain::mccChannel;
        out.mccType = params.get_isdn().get_type().asInt() == ZGCP::IsdnType::bri ? mcc::kBri : mcc::kData;
        break;
    // The QSIG channel comes from the voice-processing data device, which the book does not
    // follow.
    case Create::ats_qsig::id: out.kind = Kind::isdn; break;
    case Create::hdlcParams::id: {
        int const address = params.get_hdlcParams().get_address().getValue();
        out.kind = Kind::hdlc;
        out.allowed = address >= 0 && address <= 0xFFFF ? kSuccess : of(Cause::insufficientResources);
        break;
    }
    case Create::voice::id: voiceFacts(params.get_voice(), out); break;
    // A QSIG slot's B channel: the book does not follow what the QSIG slot holds.
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
    case Command::query::id:
        out.query = !slot;
        fixed(slot ? of(Cause::unexpectedMsgType) : kSuccess);
        break;
    case Command::testBpc::id:
        out.writesSwitch = command.get_testBpc().get_mode().write_isSelected();
        fixed(busTest(command.get_testBpc()));
        break;
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

namespace {

// The board requests the book follows: every command that may make one takes it from the
// board book, or says that it may have (BoardBook::blur, loose).
constexpr Request kRtpSession[] = {{rtp::kPath, kOpen}, {rtp::kPath, rtp::kBeginSession}, {rtp::kPath, rtp::kAddChannel}};
constexpr Request kMccOpen{mcc::kPath, kOpen};
constexpr Request kMccTimeslot{mcc::kPath, mcc::kTimeslot};
constexpr Request kMccChannel[] = {kMccOpen, {mcc::kPath, mcc::kAllocate}, kMccTimeslot};
constexpr Request kSwitchConnect{hal::kPath, hal::kSwitchConnect};
// The idle byte written on a switch output, which undoes a link.
constexpr Request kSwitchWrite{hal::kPath, hal::kSwitchWrite};
constexpr Request kPdEnable{rtp::kPath, rtp::kEnableEvent};

// Past this many slots the process may run out of descriptors (each holds a few, a radio
// twice as many), and a create may be refused for that: the book does not count them.
constexpr unsigned kSlotsWithinDescriptors = 200;

// The fate of requests made in order, each only when those before it passed: refused when
// one fails for sure (whether those before it passed or not, the chain stops with a
// failure), passed when all pass.
Fate chain(BoardBook& board, Request const* first, Request const* last)
{
    Fate outcome = Fate::passes;
    for (Request const* r = first; r != last; ++r) {
        if (outcome == Fate::passes) {
            outcome = board.made(*r);
        } else {
            Fate const fate = board.fate(*r);
            board.maybe(*r);
            if (fate == Fate::fails)
                outcome = Fate::fails;
        }
        if (outcome == Fate::fails)
            return outcome;
    }
    return outcome;
}

// The device whose reads end the slot's channel (null: none).
char const* channelDevice(Kind kind)
{
    switch (kind) {
    case Kind::rtp:
    case Kind::radio: return rtp::kPath;
    case Kind::mcc:
    case Kind::voice:
    case Kind::t38:
    case Kind::isdn: return mcc::kPath;
    default: return nullptr;
    }
}

// The kinds whose links the switch makes with one connect request and undoes with one write
// of the idle byte, whose channels the book knows.
bool switching(Kind kind) { return kind == Kind::trunk || kind == Kind::rtp || kind == Kind::radio || kind == Kind::mcc; }

// The kinds whose signalling link opens an MCC channel and joins it on the switch when it is
// activated or connected.
bool linking(Kind kind) { return kind == Kind::hdlc || kind == Kind::stack || kind == Kind::ss7 || kind == Kind::cas; }

// User data of a slot with no link, which the slot takes and sends nowhere.
bool goesNowhere(Kind kind, Facts const& command) { return kind == Kind::cas && command.hook == Command::userData::id; }

bool restarts(std::uint8_t ioctl) { return ioctl == Ioctl::encoder_mode::id || ioctl == Ioctl::decoder_mode::id; }

}  // namespace

void SlotBook::begin()
{
    book_.fill(Entry{});
    board_.reset();
    pending_ = Pending{};
    relaysGone_ = 0;
    linksHoldChannels_ = false;
    linesJoined_ = false;
}

void SlotBook::unfollowed(Kind kind)
{
    if (!linking(kind))
        return;
    for (Request r : kMccChannel)
        board_.blur(r);
    board_.blur(kSwitchConnect);
    linksHoldChannels_ = true;
    joinsLines();
}

void SlotBook::joinsLines()
{
    linesJoined_ = true;
    board_.loose(kSwitchWrite);
}

bool SlotBook::follows(Entry const& slot) { return slot.state == State::held && slot.sure && switching(slot.kind); }

bool SlotBook::linkFollowed(std::uint32_t number) const
{
    Entry const& slot = book_[number];
    return follows(slot) && slot.source >= 0 && follows(book_[std::size_t(slot.source)]) && !linesJoined_
           && !board_.readsFailed(hal::kPath);
}

void SlotBook::touched(std::uint32_t number)
{
    std::int32_t const channel = book_[number].channel;
    if (channel < 0)
        return;
    for (std::uint32_t n = 0; n < kCount; ++n)
        if (n != number && book_[n].state != State::free && book_[n].channel == channel)
            book_[n].switched = Switched::unknown;
}

Fate SlotBook::undoLink(std::uint32_t number)
{
    Entry& slot = book_[number];
    if (slot.source == -1)
        return Fate::passes;
    Fate fate = Fate::unknown;
    bool const single = slot.source >= 0 && switching(slot.kind) && switching(book_[std::size_t(slot.source)].kind);
    if (linkFollowed(number) && slot.switched != Switched::unknown)
        fate = slot.switched == Switched::yes ? board_.made(kSwitchWrite) : Fate::passes;
    else if (single)
        board_.maybe(kSwitchWrite);
    else
        board_.blur(kSwitchWrite);
    touched(number);
    slot.source = -1;
    slot.switched = Switched::no;
    return fate;
}

void SlotBook::gone(std::uint32_t number)
{
    // Its links go as the table undoes them: the one into it, then those out of it.
    undoLink(number);
    for (std::uint32_t n = 0; n < kCount; ++n)
        if (book_[n].source == std::int32_t(number))
            undoLink(n);
    if (book_[number].kind == Kind::t38 && book_[number].state != State::free)
        ++relaysGone_;
}

void SlotBook::unsure(std::uint32_t number)
{
    bool linked = false;
    for (Entry& e : book_)
        if (e.source == std::int32_t(number)) {
            e.source = kUnknown;
            linked = true;
        }
    Entry& slot = book_[number];
    slot.sure = false;
    if (slot.source != -1) {
        slot.source = kUnknown;
        linked = true;
    }
    // Links the book no longer tells may go at any later time (with the channel, or at the
    // slot's destroy).
    if (linked)
        board_.loose(kSwitchWrite);
}

void SlotBook::failReads(std::string const& path)
{
    board_.failReads(path);
    for (std::uint32_t n = 0; n < kCount; ++n)
        if (book_[n].state != State::free && channelDevice(book_[n].kind) && path == channelDevice(book_[n].kind))
            unsure(n);
}

bool SlotBook::capacity(Facts const& command) const
{
    unsigned slots = 0, sessions = 0;
    std::array<unsigned, mcc::kChannelTypes> channels{};
    for (Entry const& e : book_) {
        if (e.state == State::free)
            continue;
        slots += e.kind == Kind::radio ? 2 : 1;
        sessions += e.kind == Kind::rtp || e.kind == Kind::radio;
        if (e.mccType >= 0)
            ++channels[std::size_t(e.mccType)];
    }
    if (slots >= kSlotsWithinDescriptors)
        return false;
    if (command.chain == Chain::rtp)
        return sessions < unsigned(board::sim::RtpModel::kChannels);
    channels[mcc::kTransparent] += relaysGone_;
    return !linksHoldChannels_ && channels[command.mccType] < board::sim::MccModel::kDefaultCapacity[command.mccType];
}

Answers SlotBook::create(Facts const& command, bool runs)
{
    Request const* first = command.chain == Chain::rtp || command.chain == Chain::rtpRefused
                               ? std::begin(kRtpSession)
                               : std::begin(kMccChannel);
    std::size_t const count = command.chain == Chain::mccRefused ? 1 : 3;
    pending_.sure = command.chain == Chain::none;
    if (command.chain == Chain::none)
        return command.allowed;
    if (!runs) {
        for (Request const* r = first; r != first + count; ++r)
            board_.maybe(*r);
        return command.allowed;
    }
    Fate const fate = chain(board_, first, first + count);
    char const* device = channelDevice(command.kind);
    pending_.sure = fate == Fate::passes && !(device && board_.readsFail(device));
    if (fate == Fate::fails || command.chain == Chain::mccRefused || command.chain == Chain::rtpRefused)
        return of(Cause::insufficientResources);
    if (fate == Fate::passes && !command.outcomeOpen && capacity(command))
        return kSuccess;
    return kSuccess | of(Cause::insufficientResources);
}

Answers SlotBook::connect(Facts const& command)
{
    Answers const notThere = of(Cause::slotNotExists);
    if (command.target >= kCount)
        return of(Cause::invalidSlot);
    Entry const& from = book_[command.slot];
    Entry const& to = book_[command.target];
    // What the switch records for the target stays as it is unless a request is made.
    pending_.linked = pending_.kept = to.switched;
    if (from.state == State::free || to.state == State::free)
        return notThere;
    // A slot being released takes no link, before any request is made.
    bool const held = from.state == State::held && to.state == State::held;
    Answers const lenient = (held ? kSuccess : 0) | of(Cause::connectFail)
                            | (from.state == State::fading || to.state == State::fading ? notThere : 0);
    if (!held)
        return lenient;
    std::int32_t const old = to.source;
    bool const followed = follows(from) && follows(to) && !board_.readsFailed(hal::kPath)
                          && (old == -1 || (old >= 0 && follows(book_[std::size_t(old)])));
    if (!followed) {
        // The old link's write, the new link's connect and the old one's again, as the slots
        // make them.
        board_.blur(kSwitchConnect);
        board_.blur(kSwitchWrite);
        // A link of a slot the book does not follow may go at any later time.
        if (!follows(from) || !follows(to))
            board_.loose(kSwitchWrite);
        pending_.linked = pending_.kept = Switched::unknown;
        touched(command.target);
        unfollowed(from.kind);
        unfollowed(to.kind);
        if (old >= 0)
            unfollowed(book_[std::size_t(old)].kind);
        return lenient;
    }
    if (old == std::int32_t(command.slot))
        return kSuccess;
    // The old link goes first: the idle byte where the switch still records it.
    if (old >= 0) {
        if (linesJoined_ || to.switched == Switched::unknown) {
            board_.maybe(kSwitchWrite);
            pending_.kept = Switched::unknown;
        } else if (to.switched == Switched::yes) {
            board_.made(kSwitchWrite);
            pending_.kept = Switched::no;
        }
    }
    touched(command.target);
    Fate const fate = board_.made(kSwitchConnect);
    pending_.linked = Switched::yes;
    // A link that fails goes back to the old source.
    if (old >= 0 && fate == Fate::fails) {
        Fate const back = board_.made(kSwitchConnect);
        if (back != Fate::fails)
            pending_.kept = back == Fate::passes ? Switched::yes : Switched::unknown;
    } else if (old >= 0 && fate == Fate::unknown) {
        board_.maybe(kSwitchConnect);
        pending_.kept = Switched::unknown;
    }
    return fate == Fate::passes ? kSuccess : fate == Fate::fails ? of(Cause::connectFail) : lenient;
}

Answers SlotBook::disconnect(std::uint32_t number)
{
    switch (undoLink(number)) {
    case Fate::passes: return kSuccess;
    case Fate::fails: return of(Cause::disconnectFail);
    default: return kSuccess | of(Cause::disconnectFail);
    }
}

Answers SlotBook::hook(Entry const& slot, Facts const& command)
{
    Kind const kind = slot.kind;
    Answers const unsupported = of(Cause::unsupported);
    bool const stack =
        kind == Kind::hdlc || kind == Kind::ss7 || kind == Kind::stack || kind == Kind::cas || kind == Kind::isdn;
    // A slot with no link takes user data without a request.
    if (goesNowhere(kind, command))
        return kSuccess;
    unfollowed(kind);
    // An external slot's activate and deactivate write the idle byte on its receive channel.
    if (kind == Kind::ext && (command.hook == Command::activate::id || command.hook == Command::deactivate::id))
        board_.blur(kSwitchWrite);
    switch (command.hook) {
    case Command::activate::id:
        if (kind == Kind::ext)
            return kSuccess | of(Cause::connectFail);
        if (kind == Kind::modem)
            return command.modem ? kSuccess : unsupported;
        return stack ? kSuccess : unsupported;
    case Command::deactivate::id:
        if (kind == Kind::ext)
            return kSuccess | of(Cause::disconnectFail);
        return stack ? kSuccess : unsupported;
    case Command::userData::id:
        return kind == Kind::mcc || kind == Kind::ss7 || kind == Kind::stack || kind == Kind::isdn ? kDriver : unsupported;
    default:
        break;
    }
    if ((requestsOf(kind) >> command.ioctl & 1) == 0)
        return unsupported;
    // The link's log and BSN requests touch no driver.
    if (kind == Kind::ss7)
        return kSuccess;
    bool const session = kind == Kind::rtp || kind == Kind::radio;
    // A new payload begins the session again on a new open of the device.
    if (session && restarts(command.ioctl))
        for (Request r : kRtpSession)
            board_.maybe(r);
    if (session && command.ioctl == Ioctl::pd_enable::id) {
        if (slot.state != State::held || !slot.sure) {
            board_.maybe(kPdEnable);
            return kDriver;
        }
        Fate const fate = board_.made(kPdEnable);
        return fate == Fate::passes ? kSuccess : fate == Fate::fails ? kDriver & ~kSuccess : kDriver;
    }
    // The tone and voice-processing requests go through services whose device a read
    // failure ends and the clock brings back; the mixer's and the radio control's the book
    // does not follow either.
    return kDriver;
}

SlotBook::Due SlotBook::expect(Facts const& command)
{
    pending_ = Pending{};
    Answers const notThere = of(Cause::slotNotExists);
    if (command.op == Facts::Op::fixed) {
        // The resource query reads the MCC channel counts, now and again when the relay
        // program has told its count.
        if (command.query)
            board_.loose(kMccOpen);
        if (command.writesSwitch)
            board_.blur(kSwitchWrite);
        return {command.allowed, false};
    }
    Entry const& slot = book_[command.slot];
    // A slot released with no answer owed may have gone by now.
    Answers const fading = slot.state == State::fading ? notThere : 0;
    switch (command.op) {
    case Facts::Op::connect: return {connect(command), false};
    case Facts::Op::disconnect:
        if (slot.state == State::free)
            return {notThere, false};
        unfollowed(slot.kind);
        // A slot being released left its links when its release began.
        if (slot.state != State::held)
            return {kSuccess | fading, false};
        return {disconnect(command.slot), false};
    case Facts::Op::create:
        switch (slot.state) {
        case State::free: return {create(command, true), false};
        // The old slot goes first: at once, or its release goes on and the number stays busy.
        case State::held:
            unfollowed(slot.kind);
            if (slot.kind == Kind::modem)
                return {create(command, false) | of(Cause::slotIdBusy), false};
            return {create(command, true), false};
        case State::waiting: return {of(Cause::destroyInProgress), false};
        case State::fading: return {of(Cause::destroyInProgress) | create(command, false), false};
        }
        break;
    case Facts::Op::destroy:
        switch (slot.state) {
        case State::free: return {notThere, false};
        case State::held: unfollowed(slot.kind); return {kSuccess, slot.kind == Kind::modem};
        case State::waiting: return {of(Cause::destroyInProgress), false};
        case State::fading: return {of(Cause::destroyInProgress) | notThere, false};
        }
        break;
    default:
        if (slot.state == State::free)
            return {notThere, false};
        return {hook(slot, command) | fading, false, goesNowhere(slot.kind, command)};
    }
    return {0, false};
}

void SlotBook::made(Facts const& command)
{
    // A slot that held what the new one claims was removed for it.
    for (std::uint32_t n = 0; n < kCount; ++n) {
        Entry& other = book_[n];
        for (std::int32_t c : command.claims)
            if (c >= 0 && other.state == State::held
                && std::find(other.claims.begin(), other.claims.end(), c) != other.claims.end()) {
                gone(n);
                other = Entry{};
            }
    }
    Entry& slot = book_[command.slot];
    slot.state = State::held;
    slot.kind = command.kind;
    slot.claims = command.claims;
    slot.sure = pending_.sure;
    slot.channel = command.channel;
    bool const channel = command.chain == Chain::mccChannel;
    slot.mccType = channel ? std::int8_t(command.mccType) : std::int8_t(-1);
    // A signalling link joins its channel to a line on the switch, and leaves it, at times
    // the book does not follow.
    if (linking(command.kind))
        joinsLines();
}

void SlotBook::answered(Facts const& command, Answers answer)
{
    if (command.op == Facts::Op::fixed)
        return;
    if (command.op == Facts::Op::connect) {
        if (command.target >= kCount)
            return;
        Entry& to = book_[command.target];
        if (answer == kSuccess)
            to.source = std::int32_t(command.slot);
        to.switched = answer == kSuccess ? pending_.linked : pending_.kept;
        return;
    }
    Entry& slot = book_[command.slot];
    if (answer == of(Cause::slotNotExists)) {
        gone(command.slot);
        slot = Entry{};
        return;
    }
    if (answer == of(Cause::destroyInProgress))
        return;
    switch (command.op) {
    case Facts::Op::disconnect:
        // The link went whatever the switch made of it (expect() undid it in the book).
        return;
    case Facts::Op::destroy:
        gone(command.slot);
        // No answer yet: it comes when the release ends.
        slot = answer == 0 ? Entry{State::waiting, slot.kind, command.seqPresent, command.seq, {{-1, -1}}} : Entry{};
        return;
    case Facts::Op::create:
        if (slot.state != State::free)
            gone(command.slot);
        if (answer == of(Cause::slotIdBusy)) {
            slot = Entry{State::fading, slot.kind, false, 0, {{-1, -1}}};
            return;
        }
        // The old slot went, whatever became of the create.
        slot = Entry{};
        if (answer == kSuccess)
            made(command);
        return;
    default:
        // A session that did not begin again may have lost its channel.
        if ((slot.kind == Kind::rtp || slot.kind == Kind::radio) && restarts(command.ioctl) && answer != kSuccess)
            unsure(command.slot);
        return;
    }
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

void SlotBook::clear()
{
    for (std::uint32_t n = 0; n < kCount; ++n)
        gone(n);
    book_.fill(Entry{});
}

}  // namespace answers
