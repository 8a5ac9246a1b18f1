#include "server/start_up.h"

#include "base/errno.h"
#include "base/ini_file.h"
#include "base/open_files.h"
#include "base/trace_ctl.h"
#include "base/version.h"
#include "board/path.h"
#include "control/acceptor_net.h"
#include "control/ctrl_server.h"
#include "control/heart_beat_ctl.h"
#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_mux.h"
#include "hardware/hw_tests.h"
#include "hardware/spi_ctrl.h"
#include "monitoring/monitoring_ctl.h"
#include "radio/rtp_ext_factory.h"
#include "runtime/child_wait.h"
#include "runtime/daemon.h"
#include "runtime/dpc.h"
#include "base/fd.h"
#include "runtime/ipc_signal.h"
#include "runtime/linux_run.h"
#include "runtime/multiplexer.h"
#include "runtime/signal_wake.h"
#include "signalling/hdlc_slot.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/map_slot.h"
#include "slots/mcc_slot.h"
#include "slots/mixer.h"
#include "slots/modem_factory.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "slots/t38_slot.h"
#include "slots/voice_factory.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

char const* configFile = "/usr/local/etc/server.conf";
char const cfgTraces[] = "traces";
char const statusFile[] = "/var/log/server-status";

// Every description starts in column 36.
char const sUsageText[] =
    "Usage:\n"
    " vestrand -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

int print_version = 0;

enum { OptDisableClock = 10 };

option const long_options[] = {
    {"daemon", no_argument, nullptr, 'D'},
    {"port", required_argument, nullptr, 'p'},
    {"disable-clock", no_argument, nullptr, OptDisableClock},
    {"version", no_argument, &print_version, 1},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// Set by the signal handlers, cleared by the jobs that act on them.
volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;

// The handlers only set flags and wake the loop, which acts on them in CheckSignals.
void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*)
{
    multiplexer.terminate();
    SignalWake::wake();
}

void SigUsr2Handler(int, siginfo_t*, void*)
{
    doDumpStatus = 1;
    SignalWake::wake();
}

void SigHupHandler(int, siginfo_t*, void*)
{
    updateResources = 1;
    SignalWake::wake();
}

void InstallSignalHandlers()
{
    IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
    IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, SigTermHandler, 0);
    IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
    IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
}

// SIGUSR2: a fresh status dump replaces the old one.
void CheckDumpStatus()
{
    if (!doDumpStatus)
        return;
    // Cleared first: a SIGUSR2 during the dump asks for another one.
    doDumpStatus = 0;
    int const fd = ::open(board::path(statusFile).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::cerr << "dump status error" << std::endl;
        return;
    }
    Fd file(fd);
    std::ostringstream text;
    text << "server status dump" << std::endl;
    text << "version : " << Version::current << std::endl;
    multiplexer.dump(text);
    std::string const dump = text.str();
    if (!writeAll(file.lowlevel_fd(), dump.data(), dump.size()))
        std::cerr << "dump status error" << std::endl;
}

// SIGHUP: the hardware resources are reported to the controller again.
void CheckUpdateResources()
{
    if (!updateResources)
        return;
    updateResources = 0;
    std::clog << "update hardware resources" << std::endl;
    Slots::instance().UpdateHardwareResources();
}

void CheckSignals()
{
    CheckDumpStatus();
    CheckUpdateResources();
}

void RunDaemon()
{
    std::ostringstream ident;
    ident << "vtd-" << Version::current;
    Daemon::Params params;
    params.name = ident.str();
    Daemon::Init(params);
}

// A port is a decimal number from 1 to 65535, nothing else.
bool parsePort(char const* text, int& port)
{
    if (text == nullptr || *text == '\0' || std::strlen(text) > 5)
        return false;
    long value = 0;
    for (char const* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = int(value);
    return true;
}

// Every slot holds descriptors: the board's capacity needs more of them than the soft limit
// most services start with allows, and the hard limit usually allows more.
void RaiseOpenFilesLimit()
{
    if (!OpenFiles::RaiseLimit())
        std::cerr << "cannot raise the open files limit: " << Errno() << std::endl;
    rlim_t const limit = OpenFiles::Limit();
    std::cout << "open files limit: ";
    if (limit == RLIM_INFINITY)
        std::cout << "unlimited" << std::endl;
    else
        std::cout << limit << std::endl;
}

int usage(int code)
{
    std::cout << sUsageText << std::endl;
    return code;
}

void BuildSlotFactories()
{
    // One line each in this order; each new factory goes to the head of the factory list,
    // in front of the static trunk factories (built before main, E1 trunks 0..3 then BRI
    // lines 0..7).
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    ModemFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    T38SoftFactory::instance();
    IsdnFactory::instance();
    RtpZARNFactory::instance();
    RtpED137Factory::instance();
    HdlcSlotFactory::instance();
}

}  // namespace

void BuildServices(IniFile::File& config)
{
    BuildSlotFactories();
    HwMux::instance();
    // An unopened file has no "snmpagent" section.
    MonitoringCtl::instance().Configure(config);
}

void BindCommandServices()
{
    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&Slots::instance());
    ctrlServer.Bind(&HwTests::instance());
    ctrlServer.Bind(&BusCtl::instance());
    ctrlServer.Bind(&E1Ctl::instance());
    ctrlServer.Bind(&spiCtrl::instance());
    ctrlServer.Bind(&MonitoringCtl::instance());
}

int serverMain(int argc, char** argv)
{
    opterr = 1;
    int port = 20001;
    bool daemonRequest = false;

    IniFile::File config;
    if (config.Open(configFile)) {
        traces = TraceCtl();
        traces.Configure(config[cfgTraces]);
    }

    // Polled by the loop from its first turn, so that a signal never waits in it.
    SignalWake wake;
    InstallSignalHandlers();

    int index = 0;
    for (;;) {
        int const c = ::getopt_long(argc, argv, "Dh", long_options, &index);
        if (c == -1)
            break;
        switch (c) {
        case 'D':
            daemonRequest = true;
            break;
        case OptDisableClock:
            // At once, while the options are still being read.
            BusCtl::instance().DisableControl();
            break;
        case 'p':
            if (!parsePort(optarg, port)) {
                std::cerr << argv[0] << ": invalid port '" << optarg << "'" << std::endl;
                return usage(2);
            }
            break;
        case 'h':
            return usage(0);
        case '?':
            return usage(2);
        default:
            break;
        }
    }

    if (print_version) {
        std::cout << "server version: " << Version::current << std::endl;
        return 2;
    }

    BuildServices(config);

    if (daemonRequest)
        RunDaemon();

    Linux::Run pidFile("server");

    std::cout << "Starting server [" << Version::current << "], port=" << port << std::endl;
    RaiseOpenFilesLimit();

    BindCommandServices();

    ChildWait::Activate();

    Dpc signals;
    signals.Bind(CheckSignals);
    signals.Activate();

    // The controller listener on the port, owned by the server from here on.
    ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));

    multiplexer.run(true, true);

    // The controller connection and listener close; every service hears of the disconnect.
    ctrlServer.Deactivate();

    // The signal call, the pid file (removed) and the configuration go, in that order.
    return 0;
}
