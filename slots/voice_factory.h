#pragma once

#include "base/fd.h"
#include "board/mcc.h"
#include "slots/slot_factory.h"

#include <iosfwd>
#include <string>
#include <vector>

class PlaySlotGeneric;
class RecordSlot;

// The peer of a voice slot as the connect takes it: the address as sent, ":" and the port.
std::string dhost2str(TERM::HostAddress const& host);

// Makes players and recorders, each on an MCC voice channel of its own, and keeps them
// until they are destroyed.
class VoiceFactory : public SlotFactory {
public:
    static VoiceFactory& instance();

    VoiceFactory() = default;

    char const* GetName() const override { return "Voice/mcc"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // Adds nothing.
    void Query(ZGCP::Resources&) override {}

    // Null when the channel cannot be had, or when a phrase name would lead out of the
    // voice folder (empty, "/" or "..") or the repeat count is negative.
    PlaySlotGeneric* CreatePlay(ZGCP::PlayerParams const& params);
    RecordSlot* CreateRecord(std::string const& host);

    void OnDestroy(PlaySlotGeneric* slot);
    void OnDestroy(RecordSlot* slot);

    std::vector<PlaySlotGeneric*> const& players() const { return players_; }
    std::vector<RecordSlot*> const& recorders() const { return recorders_; }

    // "voice/mcc[0]: ".
    void PutHeader(std::ostream& os) const;

private:
    // Opens and allocates a channel; empty (the failure logged) when it cannot.
    Fd openChannel(int flags, char const* purpose, mcc::Allocate const& record, int& timeslot);
    bool playable(ZGCP::PlayerParams_file const& file);

    unsigned unit_ = 0;
    std::vector<RecordSlot*> recorders_;
    std::vector<PlaySlotGeneric*> players_;
};
