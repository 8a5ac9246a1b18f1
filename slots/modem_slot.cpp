#include "slots/modem_slot.h"

#include "base/errno.h"
#include "base/ext.h"
#include "board/path.h"
#include "hardware/hw_mux.h"
#include "slots/child_program.h"
#include "slots/modem_factory.h"

#include <arpa/inet.h>
#include <sched.h>
#include <signal.h>

#include <cstring>
#include <iostream>

namespace {

// A field of a request: the text up to its first NUL, never past the field.
std::string text(char const* field) { return std::string(field, ::strnlen(field, auth::kTextSize)); }

void put(BASE::INTEGER64Bits& counter, std::uint32_t high, std::uint32_t low)
{
    counter.set_high(std::int32_t(high));
    counter.set_low(std::int32_t(low));
}

std::uint32_t ipv4(ASN1::IA5String const& dotted) { return ::inet_addr(std::string(dotted).c_str()); }

}  // namespace

ModemSlot::ModemSlot(ModemFactory& factory, TERM::ModemParams const& params) : factory_(factory), params_(params)
{
    wait_.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot() { pppd_kill(); }

void ModemSlot::PutHeader(std::ostream& os) const { os << *this << ": "; }

std::vector<std::string> ModemSlot::pppdArguments(TERM::ModemParams const& params, char const* device,
                                                  char const* optionsFile)
{
    std::vector<std::string> args{params.execfile_isPresent() ? std::string(params.get_execfile()) : kPppd};
    if (params.execargs_isPresent()) {
        for (auto const& a : params.get_execargs()) {
            if (args.size() >= kMaxArgs - 1)
                break;
            args.push_back(a);
        }
        return args;
    }
    args.insert(args.end(), {"file", board::path(optionsFile), device});
    std::string const cid = params.get_cid();
    if (!cid.empty())
        args.insert(args.end(), {"remotenumber", cid});
    return args;
}

void ModemSlot::adopt(int pid)
{
    childId_ = pid;
    killed_ = false;
    wait_.Attach(pid);
}

void ModemSlot::pppd_exec(char const* device, char const* optionsFile)
{
    if (childId_ != -1)
        return;
    ChildProgram child;
    child.args = pppdArguments(params_, device, optionsFile);
    child.program = child.args[0].c_str();
    child.failCode = kExecFailed;
    int const pid = StartChildProgram(child);
    if (pid < 0) {
        Errno const e;
        std::cerr << ext::header(this) << "vfork fail: " << e << std::endl;
        OnAbort(e.value());
        return;
    }
    adopt(pid);
    std::clog << ext::header(this) << "pppd executed" << " cid=" << ext::quoted(params_.get_cid()) << " pid=" << pid
              << std::endl;
}

void ModemSlot::pppd_kill()
{
    if (childId_ == -1 || killed_)
        return;
    std::cerr << ext::header(this) << "pppd isn't terminated, killing ..." << std::endl;
    ::kill(childId_, SIGKILL);
    killed_ = true;
    ::sched_yield();
}

bool ModemSlot::IBeforeDestroy()
{
    // While the slot or its child still holds the channel.
    HwMux::instance().Release(channel_);
    if (childId_ == -1) {
        unbind();
        return true;
    }
    std::cerr << ext::header(this) << "sent HUP to pppd." << std::endl;
    ::kill(childId_, SIGHUP);
    terminateTimer_.set(kTerminateMs, &ModemSlot::on_terminate_timeout, this);
    return false;
}

void ModemSlot::released()
{
    unbind();
    on_release();
}

void ModemSlot::on_terminate(int status)
{
    std::clog << ext::header(this) << "pppd terminated with code " << status << std::endl;
    childId_ = -1;
    if (is_releasing())
        released();
    else
        OnAbort(status);
}

void ModemSlot::on_terminate_timeout(Timer*)
{
    std::cerr << ext::header(this) << "pppd terminate timeout!" << std::endl;
    pppd_kill();
    if (is_releasing())
        released();
}

bool ModemSlot::IOnOutputStream()
{
    openLine();
    return channel_ >= 0;
}

bool ModemSlot::IOnInputStream()
{
    openLine();
    return channel_ >= 0;
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& params)
{
    if (!params.modem_isSelected()) {
        std::cerr << ext::header(this) << "modem's activation requests parameter." << std::endl;
        return false;
    }
    TERM::ModemUserParameters const& user = params.get_modem();
    std::int32_t const session = modem_id();
    auth_accept const accept{{sizeof(auth_accept), auth::kAccept, session}, 1};
    modemFactory().SendAuth(&accept.header);
    auth_address const address{{sizeof(auth_address), auth::kAddress, session},
                               0,
                               ipv4(user.get_remoteAddr()),
                               ipv4(user.get_netmask()),
                               ipv4(user.get_gateway()),
                               ipv4(user.get_dns()),
                               std::uint32_t(user.get_mtu().getValue())};
    modemFactory().SendAuth(&address.header);
    return true;
}

template <class Record>
void ModemSlot::take(attr const* record, void (ModemSlot::*handle)(Record const&), char const* kind)
{
    if (record->size != sizeof(Record)) {
        std::cerr << ext::header(this) << kind << ", invalid size: " << record->size << std::endl;
        return;
    }
    Record copy;
    std::memcpy(&copy, record, sizeof copy);
    (this->*handle)(copy);
}

void ModemSlot::OnAuth(attr const* record)
{
    switch (record->type) {
    case auth::kRequest: take(record, &ModemSlot::OnAuthRequest, "auth request"); return;
    case auth::kAccept: std::cerr << ext::header(this) << "auth accept, ignored." << std::endl; return;
    case auth::kAddress: std::cerr << ext::header(this) << "auth ip, ignored." << std::endl; return;
    case auth::kAccounting: take(record, &ModemSlot::OnAcctInformation, "auth accounting"); return;
    }
    std::cerr << ext::header(this) << "unknown request from portslave: 0x" << std::hex << record->type << std::dec
              << std::endl;
}

void ModemSlot::OnAuthRequest(voauth const& request)
{
    TERM::ModemProceeding proceeding;
    TERM::MdmRequestUserAuth& auth = proceeding.select_auth();
    auth.set_username(text(request.username));
    auth.set_password(text(request.password));
    OnModem(proceeding);
}

void ModemSlot::OnAcctInformation(voacct const& record)
{
    TERM::ModemProceeding proceeding;
    TERM::MdmAccounting& acct = proceeding.select_acct();
    put(acct.set_octetsOut(), record.octetsOutHigh, record.octetsOutLow);
    put(acct.set_octetsIn(), record.octetsInHigh, record.octetsInLow);
    put(acct.set_packetsOut(), record.packetsOutHigh, record.packetsOutLow);
    put(acct.set_packetsIn(), record.packetsInHigh, record.packetsInLow);
    put(acct.set_time(), 0, record.time);
    OnModem(proceeding);
}
