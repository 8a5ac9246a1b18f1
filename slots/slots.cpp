#include "slots/slots.h"

#include "board/board.h"
#include "slots/connection.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <algorithm>
#include <iostream>

namespace {

// How long the table waits on controller loss for the slots whose release is still going
// on before it removes them anyway.
constexpr unsigned kReleaseWaitUs = 1000000;

}  // namespace

Slots& Slots::instance()
{
    static Slots slots;
    return slots;
}

Slots::Slots() = default;
Slots::~Slots() = default;

void Slots::OnConnect() {}

bool Slots::OnCommand(ZGCP::Command const& command)
{
    if (IsSlotPresent())
        return Execute(unsigned(GetSlot()), command).kind != Answer::notTaken;
    return ExecuteBase(command).kind != Answer::notTaken;
}

Slots::Answer Slots::ExecuteBase(ZGCP::Command const& command)
{
    if (command.currentSelection() != ZGCP::Command::query::id)
        return Answer{Answer::notTaken, ZGCP::ErrorCause::invalidParams};
    return CmdQuery();
}

Slots::Answer Slots::Execute(unsigned int number, ZGCP::Command const& command)
{
    Answer answer{Answer::notTaken, ZGCP::ErrorCause::invalidParams};
    Slot* made = nullptr;
    switch (command.currentSelection()) {
    case ZGCP::Command::connect::id:
        answer = CmdConnect(number, command.get_connect().getValue());
        break;
    case ZGCP::Command::disconnect::id:
        answer = CmdDisconnect(number);
        break;
    case ZGCP::Command::create::id:
        answer = CmdCreate(number, command.get_create(), made);
        break;
    case ZGCP::Command::destroy::id:
        answer = CmdDestroy(number);
        break;
    case ZGCP::Command::activate::id:
        answer = CmdActivate(number, command.get_activate());
        break;
    case ZGCP::Command::deactivate::id:
        answer = CmdDeactivate(number);
        break;
    case ZGCP::Command::userData::id:
        answer = CmdUserData(number, command.get_userData());
        break;
    case ZGCP::Command::ioctl::id:
        answer = CmdIoctl(number, command.get_ioctl());
        break;
    default:
        // query and testBpc with a slot number, and everything after ioctl, are others'.
        return answer;
    }
    Reply(answer);
    // The new slot reports its first states after the success.
    if (made != nullptr)
        made->IAfterCreate();
    return answer;
}

void Slots::Reply(Answer const& answer)
{
    if (answer.kind == Answer::success)
        Success();
    else if (answer.kind == Answer::error)
        Error(answer.cause);
}

Slots::Answer Slots::CmdConnect(unsigned int number, unsigned int target)
{
    if (target >= kCount)
        return Answer::fail(ZGCP::ErrorCause::invalidSlot);
    Slot* const src = GetSlotAt(number);
    Slot* const dst = GetSlotAt(target);
    if (src == nullptr || dst == nullptr)
        return Answer::fail(ZGCP::ErrorCause::slotNotExists);
    // A slot being released is deleted when its release ends: a link to it would outlive it.
    if (src->is_releasing() || dst->is_releasing() || !Connect(*src, *dst))
        return Answer::fail(ZGCP::ErrorCause::connectFail);
    return Answer::ok();
}

Slots::Answer Slots::CmdDisconnect(unsigned int number)
{
    Slot* const slot = GetSlotAt(number);
    if (slot == nullptr)
        return Answer::fail(ZGCP::ErrorCause::slotNotExists);
    if (!Disconnect(*slot))
        return Answer::fail(ZGCP::ErrorCause::disconnectFail);
    return Answer::ok();
}

// The answer of a command that one hook of the slot serves: true is success, false the cause
// the hook named, `unsupported` when it named none. A slot being released serves them too:
// none of them links it.
template <class Hook>
Slots::Answer Slots::serve(unsigned int number, Hook hook)
{
    Slot* const slot = GetSlotAt(number);
    if (slot == nullptr)
        return Answer::fail(ZGCP::ErrorCause::slotNotExists);
    slot->refusal_.reset();
    if (hook(*slot))
        return Answer::ok();
    // A hook whose slot's release ended inside it leaves nothing to ask.
    if (GetSlotAt(number) != slot || !slot->refusal_)
        return Answer::fail(ZGCP::ErrorCause::unsupported);
    return Answer::fail(*slot->refusal_);
}

Slots::Answer Slots::CmdActivate(unsigned int number, TERM::TermActivateParams const& params)
{
    return serve(number, [&](Slot& s) { return s.IActivate(params); });
}

Slots::Answer Slots::CmdDeactivate(unsigned int number)
{
    return serve(number, [](Slot& s) { return s.IDeactivate(); });
}

Slots::Answer Slots::CmdUserData(unsigned int number, std::vector<char> const& data)
{
    return serve(number, [&](Slot& s) { return s.IUserData(data); });
}

Slots::Answer Slots::CmdIoctl(unsigned int number, ZGCP::IoctlParams const& params)
{
    return serve(number, [&](Slot& s) { return s.Ioctl(params); });
}

Slots::Answer Slots::CmdDestroy(unsigned int number)
{
    Slot* const slot = GetSlotAt(number);
    if (slot == nullptr)
        return Answer::fail(ZGCP::ErrorCause::slotNotExists);
    if (slot->is_releasing())
        return Answer::fail(ZGCP::ErrorCause::destroyInProgress);
    if (Destroy(slot))
        return Answer::ok();
    // Answered when the slot's release completes, with this command's sequence number.
    slot->delayedSeq_ = std::uint32_t(delayResponse());
    slot->answerOwed_ = true;
    return Answer{Answer::delayed, ZGCP::ErrorCause::invalidParams};
}

Slots::Answer Slots::CmdCreate(unsigned int number, ZGCP::CreateParams const& params, Slot*& made)
{
    made = nullptr;
    if (number >= kCount)
        return Answer::fail(ZGCP::ErrorCause::invalidSlot);
    if (Slot* const old = table_[number]) {
        if (old->is_releasing())
            return Answer::fail(ZGCP::ErrorCause::destroyInProgress);
        Destroy(old);
        if (table_[number] != nullptr)
            return Answer::fail(ZGCP::ErrorCause::slotIdBusy);
    }

    Slot* slot = nullptr;
    for (SlotFactory* f = SlotFactory::first(); f != nullptr && slot == nullptr; f = f->next()) {
        slot = f->NewSlot(params);
        if (slot == nullptr && f->refusal())
            return Answer::fail(*f->refusal());
    }
    if (slot == nullptr)
        return Answer::fail(ZGCP::ErrorCause::insufficientResources);

    // A factory may have removed other slots for this one, never one at this number: that
    // was removed above.
    slot->id_ = number;
    live_.push_back(slot);
    table_[number] = slot;
    made = slot;
    return Answer::ok();
}

Slots::Answer Slots::CmdQuery()
{
    Success();
    UpdateHardwareResources();
    return Answer::ok();
}

bool Slots::Destroy(Slot* slot)
{
    DisconnectAll(*slot);
    slot->releasing_ = true;
    if (!slot->BeforeDestroy())
        return false;
    int_destroy(slot);
    return true;
}

void Slots::on_release(Slot* slot)
{
    // Only a destroy command that is still waiting gets an answer; a slot removed for a
    // create, a factory or a lost controller owes none.
    if (slot->answerOwed_)
        delayedSuccess(slot->id_, slot->delayedSeq_);
    int_destroy(slot);
}

void Slots::int_destroy(Slot* slot)
{
    live_.erase(std::remove(live_.begin(), live_.end(), slot), live_.end());
    if (slot->id_ < kCount && table_[slot->id_] == slot)
        table_[slot->id_] = nullptr;
    delete slot;
}

void Slots::OnDisconnect()
{
    resourcesOwed_ = 0;
    std::vector<Slot*> postponed;
    while (!live_.empty()) {
        Slot* const slot = live_.front();
        if (!slot->is_releasing() && Destroy(slot))
            continue;
        // Still releasing: no controller waits for it any more.
        slot->answerOwed_ = false;
        live_.erase(live_.begin());
        postponed.push_back(slot);
    }

    board::board().pause(kReleaseWaitUs);

    for (Slot* slot : postponed) {
        if (SlotFactory* f = slot->GetSlotFactory())
            f->Remove(slot);
        int_destroy(slot);
    }
}

void Slots::OnSignal(ZGCP::Signal const& signal)
{
    if (signal.currentSelection() != ZGCP::Signal::trunkStatus::id)
        return;
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next())
        f->SelfSignal(signal);
}

void Slots::UpdateHardwareResources()
{
    ++resourcesOwed_;
    if (ResourcesReady())
        SendResources();
}

void Slots::OnResourcesReady()
{
    if (resourcesOwed_ > 0 && ResourcesReady())
        SendResources();
}

bool Slots::ResourcesReady()
{
    // Every factory is asked, so that each starts what it must learn.
    bool ready = true;
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next())
        ready = f->QueryReady() && ready;
    return ready;
}

void Slots::SendResources()
{
    ZGCP::Signal signal;
    ZGCP::Resources& r = signal.select_query();
    r.set_boardMajor(0);
    r.set_boardMinor(0);
    r.set_rtp_g729(0);
    r.set_rtp_g723(0);
    r.set_rtp_g711(0);
    r.set_rtp_g711mcc(0);
    r.set_modem(0);
    r.set_mixer();
    r.set_mux(true);
    r.set_mcc_data(0);
    r.set_mcc_bri(0);
    r.set_mcc_trans(0);
    r.set_echoBus();
    r.set_t38_instances(0);
    r.set_digital_modems(0);
    r.set_lin16(0);
    r.set_universal(0);
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next())
        f->Query(r);
    unsigned int const owed = resourcesOwed_;
    resourcesOwed_ = 0;
    for (unsigned int i = 0; i < owed; ++i)
        SendSignal(signal);
}
