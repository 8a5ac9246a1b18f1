#include "signalling/pstn_slot.h"

#include <iostream>

TimerSpec<PstnSlot> const PstnSlot::TUpdatespec{&PstnSlot::OnUpdateTimer, 3000};

PstnSlot::PstnSlot(ZGCP::PstnParams const& params)
{
    channel_.bind(this);
    if (params.ss7_isSelected()) {
        ZGCP::SS7Params const& p = params.get_ss7();
        unsigned const trunk = unsigned(p.get_trunk().getValue());
        ss7_ = new SS7::SLC;
        target_ = ss7_;
        ss7_->hdlc(&channel_);
        ss7_->set_linkno(trunk);
        ss7_->set_slc(unsigned(p.get_slc().getValue()));
        ss7_->set_dpc(unsigned(p.get_dpc().getValue()));
        ss7_->set_opc(unsigned(p.get_opc().getValue()));
        ss7_->set_emergency(bool(p.get_emergency()));
        add_protocol_tail(ss7_);
        channel_.trunk(trunk);
        trunkNo_ = trunk - 1;
        mode_ = ss7;
    } else if (params.isdn_isSelected()) {
        ZGCP::IsdnParams const& p = params.get_isdn();
        unsigned const trunk = unsigned(p.get_trunk().getValue());
        unsigned const log = unsigned(p.get_log().getValue());
        bool const bri = p.get_type().asInt() == ZGCP::IsdnType::bri;
        bool const network = p.get_side().network_isSelected();
        if (bri && network) {
            nt_ = new ISDN::LAPD_NT;
            nt_->set_log(log);
            add_protocol_tail(nt_);
            mode_ = isdnBriNetwork;
        } else {
            lapd_ = new ISDN::LAPD(ISDN::Side::user, 0);
            target_ = lapd_;
            lapd_->hdlc(&channel_);
            lapd_->set_side(network ? ISDN::Side::network : ISDN::Side::user);
            lapd_->set_linkno(trunk);
            lapd_->set_log(log);
            lapd_->BindNotify(this);
            channel_.logLevel(log);
            channel_.trunk(trunk);
            trunkNo_ = trunk - 1;
            if (bri)
                lapd_->change_to_bri();
            mode_ = bri ? isdnBri : isdnPri;
            add_protocol_tail(lapd_);
        }
    }
    updateTimer_.set(this);
}

PstnSlot::~PstnSlot()
{
    // The links stop (their timers with them) while their channel is still there.
    channel_.unbind();
    while (Protocol* top = top_layer())
        delete top;
    ss7_ = nullptr;
    lapd_ = nullptr;
    nt_ = nullptr;
    target_ = nullptr;
}

// Connections: an SS7 or primary-rate link starts on the connect from the trunk; a
// basic-rate link once both directions are connected.

bool PstnSlot::IHwConnectReceiver(Slot& source)
{
    HDLC::Params p = channel_.params();
    if (primary()) {
        unsigned const trunk = source.GetTrunk();
        if (trunk > 3) {
            std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
            return false;
        }
        unsigned const timeslot = source.GetTrunkTimeSlot();
        if (timeslot > 31) {
            std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
            return false;
        }
        p.trunk = trunk;
        p.timeslot = timeslot;
    }
    p.type = mode_ == ss7 ? 0 : mode_ == isdnPri ? 1 : 2;
    p.tdm = source.GetTransmitChannel();
    channel_.params(p);
    return (!primary() && p.txTdm == -1) || activateLink();
}

bool PstnSlot::IHwConnectTransmitter(Slot& destination)
{
    if (primary())
        return true;
    HDLC::Params p = channel_.params();
    p.txTdm = destination.GetReceiveChannel();
    channel_.params(p);
    return p.tdm == -1 || activateLink();
}

bool PstnSlot::IHwDisconnectReceiver(Slot& source)
{
    deactivate();
    Slot::IHwDisconnectReceiver(source);
    return true;
}

bool PstnSlot::IHwDisconnectTransmitter(Slot& destination)
{
    if (!primary())
        deactivate();
    Slot::IHwDisconnectTransmitter(destination);
    return true;
}

// Activation

bool PstnSlot::IActivate(TERM::TermActivateParams const&)
{
    activateLink();
    return true;
}

bool PstnSlot::activateLink()
{
    if (!channel_.activate()) {
        linkDown();
        return false;
    }
    channelEnded_ = false;
    activate();
    return true;
}

void PstnSlot::linkDown()
{
    downPending_ = true;
    if (lapd_ != nullptr) {
        // The link stops at once and reports itself down; a primary-rate link keeps its TEI.
        lapd_->channel_lost();
        if (mode_ == isdnPri)
            lapd_->mdl_assign(0);
    } else {
        deactivate();
    }
    // The network side of a bus reports nothing itself.
    if (downPending_)
        on_deactivated(nullptr, Protocol_status());
}

void PstnSlot::on_deactivated(Protocol*, Protocol_status)
{
    downPending_ = false;
    ReportLinkInfo();
    OnUpdateTimer();
    OnDeactivated();
}

// The channel's events

void PstnSlot::on_hdlc_receive(Packet& packet)
{
    if (target_ != nullptr)
        target_->on_hdlc_receive(packet);
    else if (nt_ != nullptr)
        nt_->receive(packet);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause)
{
    channelEnded_ = true;
    if (target_ != nullptr)
        target_->on_hdlc_error(cause);
    linkDown();
}

void PstnSlot::on_hdlc_ready()
{
    if (target_ != nullptr)
        target_->on_hdlc_ready();
}

void PstnSlot::transmit(Packet& packet) { channel_.hdlc_transmit(packet); }

// Reports

void PstnSlot::OnUpdateTimer()
{
    updateTimer_.set(this);
    OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::hdlcLinkInfo::id, channel_.linkInfo()));
    ReportLinkInfo();
}

bool PstnSlot::IUserData(std::vector<char> const& data) { return !linked() || StackSlot::IUserData(data); }

Handed PstnSlot::HandDown(Packet& packet)
{
    if (ss7_)
        return ss7_->hand_down(packet);
    if (lapd_)
        return lapd_->hand_down(packet);
    return nt_->hand_down(packet);
}

void PstnSlot::ReportLinkInfo()
{
    if (lapd_ != nullptr)
        ReportIsdnLinkInfo(*lapd_);
    ReportSs7LinkInfo();
}

void PstnSlot::ReportSs7LinkInfo()
{
    if (ss7_ == nullptr)
        return;
    std::uint32_t const* c = ss7_->statistics();
    ACP::SS7LinkInfo info;
    info.set_msuTxCount(int(c[0]));
    info.set_msuRxCount(int(c[1]));
    info.set_octetsTx(int(c[2]));
    info.set_octetsRx(int(c[3]));
    info.set_speedRx(0);
    info.set_speedTx(0);
    info.set_overflowCntr(int(c[4]));
    info.set_rtbSize(int(c[5]));
    info.set_repeatCntr(int(c[6]));
    info.set_badSeqCntr(int(c[7]));
    info.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(ss7_->get_state_id()));
    OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::ss7LinkInfo::id, info));
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link)
{
    bool const congested = link->GetFlowStatus() == ISDN::LAPD::FlowStatus::congested;
    OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::isdnLinkStatus::id,
                                        congested ? ZGCP::IsdnLinkStatus::congested : ZGCP::IsdnLinkStatus::normal));
}

bool PstnSlot::Ioctl(ZGCP::IoctlParams const& params)
{
    if (ss7_ == nullptr)
        return false;
    if (params.ss7RqBSN_isSelected()) {
        OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::ss7BSN::id, int(ss7_->get_bsn())));
        return true;
    }
    if (!params.ss7Log_isSelected())
        return false;
    ZGCP::SS7L2Log const& l = params.get_ss7Log();
    SS7::SLC::Trace& t = ss7_->trace();
    t.state = bool(l.get_state());
    t.raw_receive = bool(l.get_raw_receive());
    t.raw_transmit = bool(l.get_raw_transmit());
    t.mtp_transmit = bool(l.get_mtp_transmit());
    t.mtp_receive = bool(l.get_mtp_receive());
    t.mtp_activate = bool(l.get_mtp_activate());
    t.timers = bool(l.get_timers());
    t.msu_processing = bool(l.get_msu_processing());
    return true;
}

// A trunk state change of the slot's trunk reaches its SS7 link once.
void PstnSlot::OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state)
{
    if (trunk != trunkNo_ || ss7_ == nullptr || state == lastTrunkState_)
        return;
    ss7_->OnTrunkHardStatus(state == ACP::TrunkState::normal);
    lastTrunkState_ = state;
}

// The factory

PstnFactory& PstnFactory::instance()
{
    static PstnFactory factory;
    return factory;
}

Slot* PstnFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::pstn::id)
        return nullptr;
    return new PstnSlot(params.get_pstn());
}

void PstnFactory::SelfSignal(ZGCP::Signal const& signal)
{
    if (signal.trunkStatus_isSelected() && signal.get_trunkStatus().get_type().asInt() == ACP::TrunkType::e1)
        RelayTrunkStatus(signal);
}
