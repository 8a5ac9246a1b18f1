#include "tests/memory_hdlc.h"

namespace testsupport {

bool MemoryHdlc::hdlc_transmit(Packet& packet)
{
    if (packet.null() || packet.empty())
        return true;
    if (refusing)
        return false;
    Packet const& frame = packet;
    journal.push_back({true, Bytes(frame.data(), frame.data() + frame.length())});
    return true;
}

void MemoryHdlc::deliver(Bytes const& frame)
{
    journal.push_back({false, frame});
    Packet p;
    p.reserve_head(16);
    for (std::uint8_t b : frame)
        p.put8(b);
    if (notify_)
        notify_->on_hdlc_receive(p);
}

void MemoryHdlc::ready()
{
    refusing = false;
    if (notify_)
        notify_->on_hdlc_ready();
}

std::vector<MemoryHdlc::Bytes> MemoryHdlc::take()
{
    std::vector<Bytes> out;
    for (; taken_ < journal.size(); ++taken_)
        if (journal[taken_].outgoing)
            out.push_back(journal[taken_].bytes);
    return out;
}

}  // namespace testsupport
