#pragma once

#include "base/fd.h"
#include "slots/modem_slot.h"

#include <cstddef>
#include <ctime>
#include <string>

// An analogue modem or fax on a DSP modem of "/dev/mctl". The modem is taken and configured
// when the slot's first stream opens; its switch channel is the slot's channel both ways.
// A data call answers or originates and runs pppd on the modem's tty; a fax runs the
// controller's fax sender, originates a fax call without a program, or runs the fax
// receiver, which stores the fax under "/var/". A fax program's end is reported as the
// pages received (its exit code) and then abort with its wait status.
class DspModemSlot : public ModemSlot {
public:
    static constexpr char const* kAnswerOptions = "/usr/local/etc/ppp/aoptions";
    static constexpr char const* kOriginateOptions = "/usr/local/etc/ppp/coptions";
    static constexpr char const* kFaxSender = "/usr/local/sbin/fax";
    static constexpr char const* kFaxReceiver = "/usr/local/bin/fax";
    static constexpr char const* kFaxFileFormat = "/var/fax-%H-%M-%S.g3";

    DspModemSlot(ModemFactory& factory, TERM::ModemParams const& params);
    ~DspModemSlot() override;

    char const* GetName() const override { return "dsp-modem"; }
    int modem_id() const override { return modem_; }
    void unbind() override;

    // Takes and configures the modem and starts the call (once the modem is taken, nothing).
    void InitModem();
    void RunFaxReceiver();
    void on_fax_terminate(int status);

    // The board path of a received fax started at that local time; a suffix n > 0 gives
    // "/var/fax-13-05-09-n.g3".
    static std::string faxFileName(std::tm const& local, unsigned int suffix = 0);
    // The board path given to the fax receiver; empty before.
    std::string const& faxFile() const { return faxFile_; }

private:
    void openLine() override { InitModem(); }
    // Logs the failure with the error text and reports abort with the error number.
    void fail(char const* what);
    // The modem's request with the pair record {modem, word}: its result.
    int request(unsigned long number, std::uint32_t word);
    void startCall();
    void runFaxSender();
    // Starts a fax program, watched by on_fax_terminate; false when the fork fails.
    bool startFax(std::vector<std::string> args, unsigned int delay, char const* banner);
    // A fax file name no earlier fax has and no live receiver was given.
    std::string unusedFaxFile() const;

    Fd modemFd_;
    int modem_ = -1;
    std::string faxFile_;
    Fd execReport_;
};
