#pragma once

#include "messages/zgcp.h"

#include <optional>
#include <vector>

class Slot;

// The base of every slot kind's factory.
//
// Each factory puts itself at the head of one process-wide list when it is built, so the
// list runs from the newest factory to the oldest. The slot table offers every create to
// the factories in list order (the first that builds a slot wins), asks each for its
// resource counts and relays the trunk status signals to them.
class SlotFactory {
public:
    // The factory built last: the head of the list (null before the first).
    static SlotFactory* first();

    SlotFactory();
    // Leaves the list (the process's factories live until it exits).
    virtual ~SlotFactory();
    SlotFactory(SlotFactory const&) = delete;
    SlotFactory& operator=(SlotFactory const&) = delete;

    virtual char const* GetName() const = 0;
    // A new slot when the parameters select this factory's kind and the slot can be built;
    // null otherwise.
    virtual Slot* INewSlot(ZGCP::CreateParams const& params) = 0;
    // Whether Query can answer now. A factory that must learn its counts first (from a
    // program it runs) starts that and answers false; it calls Slots::OnResourcesReady once
    // it has them.
    virtual bool QueryReady() { return true; }
    // Adds this factory's resource counts.
    virtual void Query(ZGCP::Resources& resources) = 0;
    // Every trunkStatus signal a service sends.
    virtual void SelfSignal(ZGCP::Signal const& signal);

    // INewSlot; a slot built is recorded as this factory's.
    Slot* NewSlot(ZGCP::CreateParams const& params);
    // The slot leaves this factory's slots.
    void Remove(Slot* slot);

    // The factory built before this one (null for the oldest).
    SlotFactory* next() const { return next_; }
    // The slots this factory made that are not removed yet, oldest first.
    std::vector<Slot*> const& slots() const { return slots_; }
    // Set when the last NewSlot refused parameters of this factory's kind that are wrong:
    // the create is answered with this cause and no further factory is asked.
    std::optional<ZGCP::ErrorCause::NamedNumber> refusal() const { return refusal_; }

protected:
    // Passes a trunkStatus signal to every slot of this factory (OnTrunkStatus); other
    // signals are ignored.
    void RelayTrunkStatus(ZGCP::Signal const& signal);
    // Called by INewSlot, which then returns null.
    void Refuse(ZGCP::ErrorCause::NamedNumber cause) { refusal_ = cause; }

private:
    std::optional<ZGCP::ErrorCause::NamedNumber> refusal_;
    std::vector<Slot*> slots_;
    SlotFactory* next_;
};
