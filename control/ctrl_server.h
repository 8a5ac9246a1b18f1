#pragma once

#include "control/service.h"
#include "messages/zgcp.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <vector>

// The controller server: the one place where controller traffic turns into work. It holds
// the message connection to the controller, decodes every message as a ZGCP::Message
// (aligned PER), offers each command to the bound command handlers in bind order and sees
// to it that every command gets exactly one response. Handlers' signals go to the other
// handlers first, then to the controller.
namespace CtrlSrv {

class Server;

// The base of every controller command handler.
//
// A handler takes a command by returning true from OnCommand and answers it there, once:
// Success(), Error(cause), or delayResponse() now and delayedSuccess(slot, seq) later
// (giving back the slot number and the value delayResponse returned). Answers after the
// first one of a command are dropped with a line on the error stream. While the command
// is handled GetSlot() and IsSlotPresent() describe its slot number. SendSignal shows the
// signal to every other bound handler (OnSignal), then sends it to the controller.
class Service {
public:
    // Leaves the server it is bound to.
    virtual ~Service();
    Service(Service const&) = delete;
    Service& operator=(Service const&) = delete;

    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    // True: the handler takes the command (and answers it).
    virtual bool OnCommand(ZGCP::Command const& command) = 0;
    // A signal another handler is about to send to the controller.
    virtual void OnSignal(ZGCP::Signal const&) {}

    // Each of these needs a server; without one it logs and does nothing (-1 or false).
    void Success();
    void Error(ZGCP::ErrorCause::NamedNumber cause);
    // The signal goes out with the slot number of the command being handled, if any.
    void SendSignal(ZGCP::Signal const& signal);
    void SendSignal(unsigned int slot, ZGCP::Signal const& signal);
    int GetSlot() const;
    bool IsSlotPresent() const;
    // The answer comes later: returns the sequence number to give back to delayedSuccess.
    int delayResponse();
    // The success of a command whose answer was delayed.
    void delayedSuccess(unsigned int slot, unsigned int seq);

    // False without a server or when the server holds no connection; otherwise connected
    // tells whether a controller is connected.
    bool CheckServerConnection(bool& connected) const;

protected:
    Service() = default;
    Server* server() const { return server_; }

private:
    friend class Server;
    bool CheckServer() const;

    Server* server_ = nullptr;
};

class Server : public Control::Notify {
public:
    // The highest slot number a command may name.
    static constexpr std::int32_t max_slot = 1023;

    Server() = default;
    // Deactivates; handlers still bound are left without a server.
    ~Server() override;
    Server(Server const&) = delete;
    Server& operator=(Server const&) = delete;

    // Appends the handler to the handlers that are offered every command (once; a handler
    // bound to another server leaves it).
    void Bind(Service* service);
    // Drops any connection held, takes this one over (owned from here on), names it
    // "server" and activates it: its Activate() result.
    bool Activate(Control::Service* link);
    // Deactivates and deletes the connection; every handler hears OnDisconnect.
    void Deactivate();

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(char const* data, int length) override;
    // Ends the controller connection in order.
    void OnHeartbeatTimeout();

    // Answers of the command being handled.
    void Success();
    void Error(ZGCP::ErrorCause::NamedNumber cause);
    int delayResponse();
    void delayedSuccess(unsigned int slot, unsigned int seq);

    void SendSignal(ZGCP::Signal const& signal);
    void SendSignal(unsigned int slot, ZGCP::Signal const& signal);

    int GetSlot() const { return slot_; }
    bool IsSlotPresent() const { return slot_ != -1; }
    bool CheckServerConnection(bool& connected) const;

    // "ctrl [<peer>]: ", "ctrl [not connected]: " or "ctrl [null]: ".
    void PutHeader(std::ostream& os) const;

    Control::Service* link() const { return link_.get(); }
    // Delayed answers still owed to the connected controller.
    std::size_t delayed_count() const { return delayed_.size(); }

private:
    friend class Service;

    // What has been answered of the command being handled.
    enum class Reply { None, Success, Delayed, Error };

    // A command whose answer was delayed: what its answer repeats.
    struct Delayed {
        std::int32_t slot;
        bool seqPresent;
        std::int32_t seq;
    };

    void Dispatch(ZGCP::Message const& message);
    // Whether an answer may go out now; logs why not.
    bool MayAnswer(char const* what);
    // The answer of the command being handled, in the message kept for answers (its
    // sequence and slot numbers set as the command carried them): filled in, then sent.
    ZGCP::Response& Answer();
    void SendSignalMsg(std::int32_t slot, ZGCP::Signal const& signal);
    void SendMsg(ZGCP::Message const& message);
    // OnSignal of every bound handler but the sender, in bind order.
    void ShowSignal(Service const* sender, ZGCP::Signal const& signal);
    void Unbind(Service* service);

    std::vector<Service*> services_;
    std::unique_ptr<Control::Service> link_;
    bool seqPresent_ = false;
    // The sequence number of the last command that carried one.
    std::int32_t seq_ = 0;
    std::int32_t slot_ = -1;
    Reply reply_ = Reply::None;
    // Whether a command is being handled (answers outside one go nowhere).
    bool handling_ = false;
    std::vector<Delayed> delayed_;
    // Kept from message to message, so that an answer or an encoding allocates nothing
    // once they have been used.
    std::optional<ZGCP::Message> answer_;
    std::vector<char> octets_;
};

}  // namespace CtrlSrv

// The process's controller server.
extern CtrlSrv::Server ctrlServer;
