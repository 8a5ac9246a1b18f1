#include "slots/voice_factory.h"

#include "base/errno.h"
#include "base/ext.h"
#include "hardware/mcc_device.h"
#include "slots/voice_slot.h"

#include <fcntl.h>

#include <algorithm>
#include <iostream>
#include <utility>

namespace {

constexpr mcc::Allocate kPlayerChannel{mcc::kTransparent, 1024, 0, 0, 5};
constexpr mcc::Allocate kRecorderChannel{mcc::kTransparent, 1024, 0, 5, 0};

// A phrase name names a file of the voice folder itself.
bool phraseName(std::string const& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name.find("..") == std::string::npos;
}

template <class T>
void forget(std::vector<T*>& list, T* slot)
{
    list.erase(std::remove(list.begin(), list.end(), slot), list.end());
}

}  // namespace

std::string dhost2str(TERM::HostAddress const& host)
{
    return host.get_iaddr() + ":" + std::to_string(host.get_port().getValue());
}

VoiceFactory& VoiceFactory::instance()
{
    static VoiceFactory factory;
    return factory;
}

void VoiceFactory::PutHeader(std::ostream& os) const { os << "voice/mcc[" << unit_ << "]: "; }

Slot* VoiceFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::voice::id)
        return nullptr;
    ZGCP::VoiceParams const& voice = params.get_voice();
    if (voice.record_isSelected())
        return CreateRecord(dhost2str(voice.get_record()));
    if (voice.player_isSelected())
        return CreatePlay(voice.get_player());
    return nullptr;
}

Fd VoiceFactory::openChannel(int flags, char const* purpose, mcc::Allocate const& record, int& timeslot)
{
    Fd channel = Mcc::open(flags | O_NONBLOCK);
    if (!channel) {
        Errno e;
        std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for " << purpose << ": " << e << std::endl;
        return Fd();
    }
    if (!Mcc::allocate(channel, record)) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
        return Fd();
    }
    timeslot = Mcc::timeslot(channel);
    if (timeslot < 0) {
        std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
        return Fd();
    }
    return channel;
}

bool VoiceFactory::playable(ZGCP::PlayerParams_file const& file)
{
    for (auto const& name : file.get_name())
        if (!phraseName(name)) {
            std::cerr << ext::header(this) << "phrase name refused: \"" << name << "\"" << std::endl;
            return false;
        }
    if (file.get_repeat().getValue() < 0) {
        std::cerr << ext::header(this) << "repeat count refused: " << file.get_repeat().getValue() << std::endl;
        return false;
    }
    return true;
}

PlaySlotGeneric* VoiceFactory::CreatePlay(ZGCP::PlayerParams const& params)
{
    bool const network = params.network_isSelected();
    if (!network && !(params.file_isSelected() && playable(params.get_file())))
        return nullptr;
    int timeslot = -1;
    Fd channel = openChannel(O_WRONLY, "writing", kPlayerChannel, timeslot);
    if (!channel)
        return nullptr;
    PlaySlotGeneric* slot = nullptr;
    if (network)
        slot = new PlaySlotNetwork(timeslot, std::move(channel), params.get_network());
    else
        slot = new PlaySlotFile(timeslot, std::move(channel), params.get_file());
    players_.push_back(slot);
    return slot;
}

RecordSlot* VoiceFactory::CreateRecord(std::string const& host)
{
    int timeslot = -1;
    Fd channel = openChannel(O_RDONLY, "reading", kRecorderChannel, timeslot);
    if (!channel)
        return nullptr;
    auto* slot = new RecordSlot(host, timeslot, std::move(channel));
    recorders_.push_back(slot);
    return slot;
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot) { forget(players_, slot); }

void VoiceFactory::OnDestroy(RecordSlot* slot) { forget(recorders_, slot); }
