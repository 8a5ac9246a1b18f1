#pragma once

#include "runtime/child_wait.h"
#include "runtime/timer.h"
#include "slots/child_program.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <list>
#include <memory>

// A running T.38 relay: the external program with an MCC channel as its standard input. The
// slot's switch channel is that channel's, so the controller connects it like any TDM
// endpoint. The relay's end is reported as abort with its wait status; the slot then stays
// until destroyed, having lost its channel with the relay.
class T38SoftSlot : public Slot {
public:
    T38SoftSlot(int childId, int switchChannel);

    void IAfterCreate() override;
    // Tells the relay to end and goes at once; the factory sees the relay off.
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "t38 soft"; }

    // The relay ended, with its raw wait status.
    void OnT38Terminate(int status);

    int childId() const { return childId_; }
    void PutHeader(std::ostream& os) const;

private:
    int childId_;
    int channel_;
    ChildWait wait_;
};

// Makes T.38 slots: allocates an MCC channel and starts the relay program on it. A relay
// told to end (its slot destroyed) that is still running after a grace period is killed, so
// that it cannot keep its channel.
//
// The relay program also tells how many relays the board offers. The count runs beside the
// loop: a resources report waits for it at most kCountMs (a program that has not told its
// count by then is killed, and the last count stands), and a count serves every report of
// the kCountMs after it, so that a burst of reports does not run the program once each. The
// count is the leading decimal number of the line's first kCountLineMax characters (0 when
// they hold none), taken as soon as the line is whole: at its end of line, at the output's end,
// or at the bound unless the number reaches it; a number that no int holds, or one that the
// bound cuts (its sign or digits reach the bound and a digit follows), is no count: the last
// count stands, one line.
class T38SoftFactory : public SlotFactory {
public:
    static constexpr char const* kProgram = "/usr/local/sbin/t38";
    // Entries of the relay's argument vector, the closing null included.
    static constexpr std::size_t kMaxArgs = 32;
    // What a relay that cannot be executed ends with.
    static constexpr int kExecFailed = 237;
    // How long a relay told to end may take before it is killed, in milliseconds.
    static constexpr unsigned kGraceMs = 5000;
    // How long the relay program may take to tell its count, and how long a count serves.
    static constexpr unsigned kCountMs = 1000;
    // The characters of the line the count is read from, its end of line included; the one
    // after them is waited for, and read, only where the line's number reaches the bound, to
    // tell whether the bound cut it.
    static constexpr std::size_t kCountLineMax = 31;

    static T38SoftFactory& instance();

    T38SoftFactory() = default;
    // Relays still in their grace period are killed.
    ~T38SoftFactory() override;

    char const* GetName() const override { return "T.38 soft"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // Ready with a count younger than kCountMs; otherwise the relay program is asked, and
    // the slot table hears when the count is in.
    bool QueryReady() override;
    // t38-instances: the last count (0 before the first, or when the program could not say).
    void Query(ZGCP::Resources& resources) override;

    // The relay was told to end: it is watched until it does, and killed after the grace
    // period.
    void Retire(int pid);
    std::size_t retiring() const { return retired_.size(); }

    void PutHeader(std::ostream& os) const { os << "t38soft: "; }

private:
    class Retired;

    // The relay program's answer to "--num-of-instances".
    void OnCount(ChildProgramLine::Line const& line);
    // The count is in (or given up): it serves from now on.
    void Counted();

    std::list<std::unique_ptr<Retired>> retired_;
    std::unique_ptr<ChildProgramLine> count_;
    int instances_ = 0;
    bool counted_ = false;
    std::uint32_t countedAt_ = 0;
};
