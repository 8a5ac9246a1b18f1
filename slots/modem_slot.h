#pragma once

#include "runtime/child_wait.h"
#include "runtime/timer.h"
#include "slots/auth_client.h"
#include "slots/slot.h"

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

class ModemFactory;

// The common part of the modem slots: runs pppd on the slot's line (a modem tty or a
// generic-HDLC interface), stops it when the slot is destroyed, and relays the PPP session's
// authentication and accounting between the authentication client (through the factory)
// and the controller: requests and accounting become `modemProceeding` signals, the
// controller's activate with modem parameters becomes the accept and address records.
//
// A child's end while the slot lives is reported as abort with its wait status. A destroy
// while a child runs sends it SIGHUP and is answered when it has gone, or after
// kTerminateMs with SIGKILL.
class ModemSlot : public Slot {
public:
    static constexpr char const* kPppd = "/usr/local/sbin/pppd";
    // Entries of a child's argument vector, the closing null included.
    static constexpr std::size_t kMaxArgs = 64;
    static constexpr unsigned int kTerminateMs = 5000;
    // What a child that cannot execute its program ends with.
    static constexpr int kExecFailed = 2;

    ModemSlot(ModemFactory& factory, TERM::ModemParams const& params);
    ~ModemSlot() override;

    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    // Both open the slot's line on first use: whether the slot has its channel.
    bool IOnOutputStream() override;
    bool IOnInputStream() override;
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "generic-modem"; }
    // The slot's session number on the authentication link.
    virtual int modem_id() const = 0;
    // The slot leaves its factory's lists (again: nothing happens).
    virtual void unbind() = 0;

    ModemFactory& modemFactory() const { return factory_; }
    // Starts pppd on the device unless a child runs.
    void pppd_exec(char const* device, char const* optionsFile);
    // SIGKILL to a running child (once).
    void pppd_kill();
    bool pppd_executing() const { return childId_ != -1; }
    int childId() const { return childId_; }
    bool EqAuthId(int id) const { return modem_id() == id; }

    // One complete record from the authentication link.
    void OnAuth(attr const* record);
    void OnAuthRequest(voauth const& request);
    void OnAcctInformation(voacct const& record);

    void on_terminate(int status);
    void on_terminate_timeout(Timer*);

    // pppd's argument vector: the controller's program and arguments when it gives them,
    // else pppd with the options file, the device and the caller's number.
    static std::vector<std::string> pppdArguments(TERM::ModemParams const& params, char const* device,
                                                  char const* optionsFile);

    void PutHeader(std::ostream& os) const;

protected:
    // Prepares the line (its channel) and starts its program.
    virtual void openLine() = 0;
    TERM::ModemParams const& params() const { return params_; }
    // A child started for the slot: watched, reported to on_terminate or as the caller
    // bound wait_.
    void adopt(int pid);
    // The slot's release after its child is gone.
    void released();

    ChildWait wait_;
    int childId_ = -1;
    // The switch channel of the line; -1 until known.
    int channel_ = -1;

private:
    // A record of the kind, when it has the kind's size.
    template <class Record>
    void take(attr const* record, void (ModemSlot::*handle)(Record const&), char const* kind);

    ModemFactory& factory_;
    TERM::ModemParams params_;
    Timer terminateTimer_;
    bool killed_ = false;
};
