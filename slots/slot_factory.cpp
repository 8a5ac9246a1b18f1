#include "slots/slot_factory.h"

#include "slots/slot.h"

#include <algorithm>

namespace {

// Head of the factory list. Constant-initialised, so factories built during static
// initialisation find it ready.
SlotFactory* firstFactory = nullptr;

}  // namespace

SlotFactory* SlotFactory::first() { return firstFactory; }

SlotFactory::SlotFactory() : next_(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory()
{
    for (SlotFactory** p = &firstFactory; *p != nullptr; p = &(*p)->next_) {
        if (*p == this) {
            *p = next_;
            break;
        }
    }
}

void SlotFactory::SelfSignal(ZGCP::Signal const&) {}

void SlotFactory::RelayTrunkStatus(ZGCP::Signal const& signal)
{
    if (!signal.trunkStatus_isSelected())
        return;
    ACP::TrunkStatus const& status = signal.get_trunkStatus();
    for (Slot* s : slots_)
        s->OnTrunkStatus(unsigned(status.get_trunk().getValue()), status.get_state());
}

Slot* SlotFactory::NewSlot(ZGCP::CreateParams const& params)
{
    refusal_.reset();
    Slot* slot = INewSlot(params);
    if (slot != nullptr) {
        slot->factory_ = this;
        slots_.push_back(slot);
    }
    return slot;
}

void SlotFactory::Remove(Slot* slot)
{
    auto it = std::find(slots_.begin(), slots_.end(), slot);
    if (it != slots_.end())
        slots_.erase(it);
}
