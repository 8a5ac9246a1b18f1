#include "slots/dsp_modem_slot.h"

#include "base/clock.h"
#include "base/errno.h"
#include "base/ext.h"
#include "board/board.h"
#include "board/mctl.h"
#include "board/path.h"
#include "slots/child_program.h"
#include "slots/modem_factory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

std::uint32_t modeBit(TERM::DigitalDataModeEnum const& mode)
{
    switch (mode.asInt()) {
    case TERM::DigitalDataModeEnum::ddmV110: return mctl::kModeV110;
    case TERM::DigitalDataModeEnum::ddm8BIT: return mctl::kMode8Bit;
    case TERM::DigitalDataModeEnum::ddm7BIT: return mctl::kMode7Bit;
    }
    return 0;
}

}  // namespace

DspModemSlot::DspModemSlot(ModemFactory& factory, TERM::ModemParams const& params) : ModemSlot(factory, params) {}

DspModemSlot::~DspModemSlot() { unbind(); }

void DspModemSlot::unbind() { modemFactory().ReleaseModemSlot(this); }

void DspModemSlot::fail(char const* what)
{
    Errno const e;
    std::cerr << ext::header(this) << what << e << std::endl;
    OnAbort(e.value());
}

int DspModemSlot::request(unsigned long number, std::uint32_t word)
{
    mctl::ModemPair pair{modem_, word};
    return board::board().ioctl(modemFd_.lowlevel_fd(), number, &pair);
}

void DspModemSlot::InitModem()
{
    if (modem_ >= 0)
        return;
    board::Board& b = board::board();
    Fd device(b.open(mctl::kPath, O_RDONLY | O_CLOEXEC));
    if (!device) {
        fail("fail to open device: ");
        return;
    }
    int const fd = device.lowlevel_fd();
    int const m = b.ioctl(fd, mctl::kAllocate, board::byValue(0));
    if (m < 0) {
        fail("insufficient resources : ");
        return;
    }
    int const ts = b.ioctl(fd, mctl::kTimeslot, board::byValue(0));
    if (ts < 0) {
        fail("get timeslot fail : ");
        return;
    }
    if (params().ddm_isPresent()) {
        std::uint32_t mask = 0;
        for (auto const& mode : params().get_ddm())
            mask |= modeBit(mode);
        mctl::ModemPair modes{m, mask};
        if (b.ioctl(fd, mctl::kSetDataModes, &modes) < 0) {
            fail("set DDM failed : ");
            return;
        }
    }
    mctl::ModemPair reset{m, mctl::kNoWord};
    if (b.ioctl(fd, mctl::kResetParams, &reset) < 0) {
        Errno const e;
        std::cerr << ext::header(this) << "reset dmp parameters failed : " << e << std::endl;
    }
    if (params().dmp_isPresent()) {
        for (auto const& p : params().get_dmp()) {
            mctl::ModemParam param{m, std::uint32_t(p.get_offset().getValue()),
                                   std::uint32_t(p.get_value().getValue())};
            if (b.ioctl(fd, mctl::kSetParam, &param) < 0) {
                Errno const e;
                std::cerr << ext::header(this) << "set dmp parameter " << "index=" << param.index
                          << " value=" << param.value << " failed : " << e << std::endl;
            }
        }
    }
    channel_ = ts;
    modem_ = m;
    modemFd_ = std::move(device);
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
    startCall();
}

void DspModemSlot::startCall()
{
    bool const originate = params().originate_isPresent();
    if (!params().fax_isPresent()) {
        char tty[32];
        std::snprintf(tty, sizeof tty, mctl::kTtyFormat, modem_);
        if (request(originate ? mctl::kOriginate : mctl::kAnswer, mctl::kNoWord) < 0)
            fail(originate ? "originate failed : " : "answer failed : ");
        else
            pppd_exec(tty, originate ? kOriginateOptions : kAnswerOptions);
        return;
    }
    if (params().execargs_isPresent())
        runFaxSender();
    else if (originate && request(mctl::kFaxOriginate, mctl::kNoWord) < 0)
        fail("originate failed : ");
    else if (!originate)
        RunFaxReceiver();
}

bool DspModemSlot::startFax(std::vector<std::string> args, unsigned int delay, char const* banner)
{
    // The program reaches the modem by its number; the daemon lets go of it first.
    modemFd_.close();
    ChildProgram child;
    child.args = std::move(args);
    child.program = child.args[0].c_str();
    child.failCode = kExecFailed;
    child.delay = delay;
    child.banner = banner;
    child.failText = "fail to exec!";
    int const pid = StartChildProgram(child, &execReport_);
    if (pid < 0) {
        fail("vfork fail: ");
        return false;
    }
    wait_.Bind(this, &DspModemSlot::on_fax_terminate);
    adopt(pid);
    return true;
}

void DspModemSlot::runFaxSender()
{
    std::vector<std::string> args{params().execfile_isPresent() ? std::string(params().get_execfile()) : kFaxSender,
                                  "-m", std::to_string(modem_)};
    for (auto const& a : params().get_execargs()) {
        if (args.size() >= kMaxArgs - 1)
            break;
        args.push_back(a);
    }
    if (startFax(std::move(args), 0, "executing fax transfer"))
        std::clog << ext::header(this) << "fax transfer executed" << " modem=" << modem_ << " ts=" << channel_
                  << std::endl;
}

std::string DspModemSlot::faxFileName(std::tm const& local, unsigned int suffix)
{
    char name[64];
    std::size_t const n = std::strftime(name, sizeof name, kFaxFileFormat, &local);
    std::string file(name, n);
    if (suffix > 0)
        file.insert(file.size() - 3, "-" + std::to_string(suffix));
    return file;
}

std::string DspModemSlot::unusedFaxFile() const
{
    std::time_t const now = Mux::seconds();
    std::tm local{};
    ::localtime_r(&now, &local);
    auto given = [&](std::string const& name) {
        for (DspModemSlot const* s : modemFactory().dspSlots())
            if (s != this && s->faxFile() == name)
                return true;
        return false;
    };
    for (unsigned int n = 0;; ++n) {
        std::string name = faxFileName(local, n);
        if (!given(name) && ::access(board::path(name).c_str(), F_OK) != 0)
            return name;
    }
}

void DspModemSlot::RunFaxReceiver()
{
    faxFile_ = unusedFaxFile();
    if (startFax({kFaxReceiver, "-m", std::to_string(modem_), "receive", board::path(faxFile_)}, 1, "executing"))
        std::clog << ext::header(this) << "fax receiver executed" << " modem=" << modem_ << " ts=" << channel_
                  << std::endl;
}

void DspModemSlot::on_fax_terminate(int status)
{
    std::clog << ext::header(this) << "fax terminated with code " << status << std::endl;
    childId_ = -1;
    // A program that never ran received nothing: only its end is reported.
    if (ExecFailed(execReport_)) {
        std::cerr << ext::header(this) << "fax program could not be executed" << std::endl;
    } else {
        if ((status & 0xFF) != 0)
            std::clog << ext::header(this) << "fax transfer failed" << std::endl;
        int const pages = (status >> 8) & 0xFF;
        std::clog << ext::header(this) << "pages received: " << pages << std::endl;
        TERM::ModemProceeding proceeding;
        proceeding.select_acct().set_octetsIn().set_low(pages);
        OnModem(proceeding);
    }
    if (is_releasing())
        released();
    else
        OnAbort(status);
}
