#pragma once

#include "control/ctrl_server.h"
#include "messages/zgcp.h"

#include <array>
#include <cstdint>
#include <vector>

class Slot;

// The slot table: owns every slot by number (0..1023) and handles the controller's slot
// commands (connect, disconnect, create, destroy, activate, deactivate, userData, ioctl)
// and the slot-less query. Bound to the controller server right after the heartbeat.
//
// A slot whose release goes on after its destroy takes no new link: a connect from or to it
// answers connectFail. Losing the controller destroys every slot.
class Slots : public CtrlSrv::Service {
public:
    static constexpr unsigned kCount = 1024;

    // How a command was answered.
    struct Answer {
        enum Kind { notTaken, success, error, delayed };
        Kind kind;
        ZGCP::ErrorCause::NamedNumber cause;

        static Answer ok() { return Answer{success, ZGCP::ErrorCause::invalidParams}; }
        static Answer fail(ZGCP::ErrorCause::NamedNumber c) { return Answer{error, c}; }
        bool operator==(Answer const& o) const { return kind == o.kind && (kind != error || cause == o.cause); }
    };

    static Slots& instance();

    Slots();
    // Deletes no slot: they go with the controller connection.
    ~Slots() override;

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(ZGCP::Command const& command) override;
    void OnSignal(ZGCP::Signal const& signal) override;

    // Handles one command for the slot number (answering it through the server) and tells
    // how it was answered; notTaken for the commands that are not the table's.
    Answer Execute(unsigned int number, ZGCP::Command const& command);
    // The slot-less commands: only query is taken.
    Answer ExecuteBase(ZGCP::Command const& command);

    // Removes a slot: its links are dissolved and it is deleted at once (true), or its
    // release goes on (false; it stays in the table until it calls Slot::on_release). Also
    // used by factories to remove a slot that holds what a new slot needs.
    bool Destroy(Slot* slot);
    // Completes a postponed release: the destroy command waiting for it is answered, and
    // the slot is deleted.
    void on_release(Slot* slot);
    // Takes the slot out of the table and deletes it.
    void int_destroy(Slot* slot);

    // Sends the hardware resources of every factory to the controller (query signal): at
    // once when every factory is ready to tell them, else when the last is. Every call gets
    // its own signal; those still owed when the controller goes are dropped.
    void UpdateHardwareResources();
    // A factory that was not ready has its counts.
    void OnResourcesReady();

    // The slot with this number; null when the number is free or out of range.
    Slot* GetSlotAt(unsigned int number) const { return number < kCount ? table_[number] : nullptr; }
    // Every slot in the table, oldest first.
    std::vector<Slot*> const& live() const { return live_; }

private:
    Answer CmdConnect(unsigned int number, unsigned int target);
    Answer CmdDisconnect(unsigned int number);
    // The slot made is handed back so that it finishes its set-up after the answer.
    Answer CmdCreate(unsigned int number, ZGCP::CreateParams const& params, Slot*& made);
    Answer CmdDestroy(unsigned int number);
    Answer CmdActivate(unsigned int number, TERM::TermActivateParams const& params);
    Answer CmdDeactivate(unsigned int number);
    Answer CmdUserData(unsigned int number, std::vector<char> const& data);
    Answer CmdIoctl(unsigned int number, ZGCP::IoctlParams const& params);
    Answer CmdQuery();
    // A command one hook of the slot at the number answers.
    template <class Hook>
    Answer serve(unsigned int number, Hook hook);

    // Sends a success or an error (a delayed answer was arranged by the handler).
    void Reply(Answer const& answer);
    // Asks every factory whether it can tell its counts now.
    bool ResourcesReady();
    // One query signal for each report owed.
    void SendResources();

    std::array<Slot*, kCount> table_{};
    std::vector<Slot*> live_;
    unsigned int resourcesOwed_ = 0;
};
