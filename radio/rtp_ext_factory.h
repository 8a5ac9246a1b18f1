#pragma once

#include "messages/term.h"
#include "messages/zgcp.h"
#include "slots/rtp_factory.h"
#include "slots/slot_factory.h"

#include <iosfwd>
#include <string>

class RtpExtSlot;

// Makes the radio RTP slots: the creates whose RTP parameters carry a radio request whose
// status is of this factory's signalling. Opens the session as the RTP factory does, then
// lets the signalling's factory build the slot on it, and finishes it (status, RTCP, echo
// canceller, delays, BSS and noise gate).
class RtpExtFactory : public SlotFactory {
public:
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // Reads the counts again and reports them.
    void Query(ZGCP::Resources& resources) override;

    // The five counts, read afresh (0 where the voice driver has none or does not open).
    void IQuery();
    CodecCounts const& counts() const { return counts_; }
    // "<name>[<g723>,<g729>,<g711>,<universal>]: ".
    void PutHeader(std::ostream& os) const;

protected:
    // name: the log name ("rtp ext ZARN").
    explicit RtpExtFactory(char const* name);

    // The radio status alternative this factory takes.
    virtual bool Takes(TERM::RadioStatus const& status) const = 0;
    // The slot on the session, which takes the session's device over; null, with nothing
    // logged, when the parameters ask for a form this factory does not build.
    virtual RtpExtSlot* NewRadioSlot(RtpSession& session, TERM::RtpParams const& rtp) = 0;

private:
    std::string header() const;

    char const* name_;
    CodecCounts counts_;
};

class RtpZARNFactory : public RtpExtFactory {
public:
    static RtpZARNFactory& instance();
    RtpZARNFactory();
    char const* GetName() const override { return "RTP Ext ZARN"; }

protected:
    bool Takes(TERM::RadioStatus const& status) const override { return status.zarn_isSelected(); }
    // Attached to this slot's own RTP session by default; to the RTP session another
    // process names in the only-rtp mode.
    RtpExtSlot* NewRadioSlot(RtpSession& session, TERM::RtpParams const& rtp) override;
};

class RtpED137Factory : public RtpExtFactory {
public:
    static RtpED137Factory& instance();
    RtpED137Factory();
    char const* GetName() const override { return "RTP Ext ED137"; }

protected:
    bool Takes(TERM::RadioStatus const& status) const override { return status.ed_137_isSelected(); }
    RtpExtSlot* NewRadioSlot(RtpSession& session, TERM::RtpParams const& rtp) override;
};
