#include "monitoring/monitoring_ctl.h"

#include "base/errno.h"
#include "base/ext.h"
#include "base/ini_file.h"
#include "base/trace_ctl.h"
#include "base/version.h"
#include "board/board.h"
#include "board/hal.h"
#include "board/path.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

char const configDir[] = "/usr/local/etc/";
char const whiteSpace[] = " \t\n\r\f\v";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

// The first line of a board file, at most maxChars characters, its line end kept: -1 when
// the file does not open, 0 when nothing could be read (text empty), 1 otherwise.
int readFirstLine(char const* boardPath, int maxChars, std::string& text)
{
    std::unique_ptr<std::FILE, FileCloser> const file(std::fopen(board::path(boardPath).c_str(), "re"));
    text.clear();
    if (!file)
        return -1;
    std::vector<char> buffer(std::size_t(maxChars) + 2, '\0');
    if (!std::fgets(buffer.data(), maxChars + 1, file.get()))
        return 0;
    text = buffer.data();
    return 1;
}

// The leading hexadecimal digits of the text as a number (0 when it begins with none).
std::uint64_t leadingHex(std::string const& text)
{
    std::uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value << 4 | std::uint64_t(digit);
    }
    return value;
}

// The driver build from the first line of the voice driver's version file: token 2, then
// tokens 3 and 4 in brackets; "none" with fewer than three tokens.
std::string driverBuild(std::string const& line)
{
    std::vector<std::string> tokens;
    std::istringstream words(line);
    for (std::string word; std::getline(words, word, ' ');) {
        if (word.empty())
            continue;
        std::size_t const first = word.find_first_not_of(whiteSpace);
        std::size_t const last = word.find_last_not_of(whiteSpace);
        tokens.push_back(first == std::string::npos ? std::string() : word.substr(first, last - first + 1));
    }
    if (tokens.size() >= 4)
        return tokens[1] + " [" + tokens[2] + " " + tokens[3] + "]";
    if (tokens.size() == 3)
        return tokens[1] + " [" + tokens[2] + "]";
    return "none";
}

ZGCP::POWERStatus::NamedNumber powerFromCode(std::uint8_t code)
{
    if (code == 0)
        return ZGCP::POWERStatus::both;
    if (code <= 3)
        return ZGCP::POWERStatus::NamedNumber(code);
    return ZGCP::POWERStatus::unknown;
}

void traceFileError(char const* what, std::string const& path, Errno const& error)
{
    if (traces.monitoring.internal)
        std::clog << what << ext::quoted(path) << " errno=" << ext::quoted(error) << std::endl;
}

std::string flag(bool on) { return on ? "1" : "0"; }

}  // namespace

MonitoringCtl& MonitoringCtl::instance()
{
    static MonitoringCtl monitoring;
    return monitoring;
}

MonitoringCtl::MonitoringCtl()
{
    bkgTimer_.set(first_background_ms, &MonitoringCtl::onBkgCheckTimer, this);
    powerTimer_.set(power_ms, &MonitoringCtl::onPowerCheckTimer, this);
    controllerTimer_.set(controller_ms, &MonitoringCtl::onControllerCheckTimer, this);
    resend_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl()
{
    if (!hal_)
        return;
    leds_ = 0;
    std::uint8_t off = leds_;
    halRequest(hal::kFrontLeds, off);
}

void MonitoringCtl::Configure(IniFile::File& file)
{
    agents_.CreateInstances(file["snmpagent"]);
    agents_.Bind(this);
}

// Controller service.

void MonitoringCtl::OnConnect()
{
    doPowerCheck();
    sendPowerStatus();
    doControllerCheck();
}

void MonitoringCtl::OnDisconnect()
{
    data_.ClearControllerFiles();
    doControllerCheck();
}

bool MonitoringCtl::OnCommand(ZGCP::Command const& command)
{
    if (!command.display_isSelected())
        return false;
    OnDisplayCMD(command.get_display());
    Success();
    return true;
}

void MonitoringCtl::OnSnmpAgentConnect(std::string const&) { resend_.Activate(); }

// Timers.

void MonitoringCtl::onBkgCheckTimer(Timer*)
{
    doVersionsCheck();
    doConfigCheck();
    doFramerCheck();
    doTemperatureCheck();
    bkgTimer_.set(background_ms, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*)
{
    doPowerCheck();
    doDipCheck();
    doNetIfCheck();
    powerTimer_.set(power_ms, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*)
{
    doControllerCheck();
    controllerTimer_.set(controller_ms, &MonitoringCtl::onControllerCheckTimer, this);
}

// Checks.

void MonitoringCtl::doVersionsCheck()
{
    struct VersionFile {
        char const* path;
        bool (MonitoringDataHolder::*store)(std::string);
        void (MonitoringCtl::*push)();
        char const* prefix;
    };
    static VersionFile const files[] = {
        {"/var/version", &MonitoringDataHolder::setBuildVersion, &MonitoringCtl::sendSnmpStatusBuildVersion,
         "BuildVersion - "},
        {"/var/u-boot-version", &MonitoringDataHolder::setBootVersion, &MonitoringCtl::sendSnmpStatusBootVersion,
         "BootVersion - "},
        {"/var/fpga-version", &MonitoringDataHolder::setFPGAVersion, &MonitoringCtl::sendSnmpStatusFPGAVersion,
         "FPGAVersion - "},
        {"/var/board-version", &MonitoringDataHolder::setBoardVersion, &MonitoringCtl::sendSnmpStatusBoardVersion,
         "BoardVersion - "},
    };
    for (VersionFile const& f : files) {
        std::string text;
        if (readFirstLine(f.path, 254, text) < 0)
            continue;
        if (traces.monitoring.internal)
            std::clog << f.prefix << text << std::endl;
        if ((data_.*f.store)(text))
            (this->*f.push)();
    }
}

void MonitoringCtl::doConfigCheck()
{
    std::string const dir = board::path(configDir);
    std::unique_ptr<DIR, DirCloser> const entries(::opendir(dir.c_str()));
    // The entries are looked at by their bare names from the directory.
    if (!entries || ::chdir(dir.c_str()) != 0)
        return;
    while (dirent const* e = ::readdir(entries.get())) {
        struct stat st;
        if (::lstat(e->d_name, &st) != 0 || S_ISDIR(st.st_mode))
            continue;
        std::string const name = e->d_name;
        if (name.compare(0, 7, "config.") != 0 || name.compare(0, 20, "config.2save.tar.bz2") == 0)
            continue;
        // Eight hexadecimal digits of version, one separator, sixteen of suffix.
        std::string const fields = name.substr(7, 25);
        if (fields.size() < 9)
            continue;
        if (data_.setConfigVersion(std::uint32_t(leadingHex(fields.substr(0, 8))), leadingHex(fields.substr(9))))
            sendSnmpGatewayConfigVersion();
    }
}

void MonitoringCtl::doFramerCheck()
{
    for (FramerDataHolder& framer : data_.GetFramers()) {
        Fd file(::open(board::path(framer.path).c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) {
            traceFileError("Error open file: ", framer.path, Errno());
            continue;
        }
        std::vector<char> bytes(FramerDataHolder::max_status);
        ssize_t const n = ::read(file.lowlevel_fd(), bytes.data(), bytes.size());
        Errno const error;
        file.close();
        if (n <= 0) {
            traceFileError("Error read file: ", framer.path, error);
            continue;
        }
        bytes.resize(std::size_t(n));
        if (framer.setFramerStatus(bytes))
            sendSnmpFramerStatus(framer);
    }
}

void MonitoringCtl::doTemperatureCheck()
{
    std::string text;
    if (readFirstLine("/proc/temperature", 254, text) < 0)
        return;
    if (traces.monitoring.internal)
        std::clog << "Temperature - " << text << std::endl;
    if (data_.setTemperature(text.substr(0, text.find_first_of(whiteSpace))))
        sendSnmpTemperature();
}

void MonitoringCtl::doPowerCheck()
{
    std::uint8_t code = 0;
    if (!IsOpen() || !halRequest(hal::kPowerStatus, code))
        return;
    ZGCP::POWERStatus const status(powerFromCode(code));
    if (!data_.setPowerStatus(status))
        return;
    if (traces.monitoring.internal)
        std::clog << "New power status - " << status << std::endl;
    sendPowerStatus();
    sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck()
{
    std::uint8_t dip = 0;
    if (!IsOpen() || !halRequest(hal::kDipSwitch, dip) || !data_.setDipValue(dip))
        return;
    if (traces.monitoring.internal)
        std::clog << "New dip - " << int(dip) << std::endl;
    sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck()
{
    for (NetIfDataHolder& netIf : data_.GetNetIfs())
        if (netIf.updateNetIf())
            sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::doControllerCheck()
{
    ZGCP::ControllerInfo info;
    info.set_host().set_iaddr(data_.getSelfHostAddress().GetStrAddr());
    bool connected = false;
    if (!CheckServerConnection(connected) || !connected) {
        bool const running = data_.updateControllerPID() > 0;
        info.set_status(running ? HSP::ControllerStatus::notconnection : HSP::ControllerStatus::notrun);
    } else {
        info.set_status() = data_.getSelfControllerStatus();
    }
    if (data_.setControllerStatus(info))
        sendSnmpControllerStatus();
}

// Display command, LEDs and the power signal.

void MonitoringCtl::OnDisplayCMD(ZGCP::DisplayParams const& params)
{
    data_.setDisplayStatus(params);
    if (params.framer_isSelected()) {
        setFramerLed(params.get_framer());
    } else if (params.board_isSelected()) {
        if (params.get_board().boardStatus_isSelected())
            sendSnmpBoardStatus(params.get_board().get_boardStatus());
    } else if (params.emPhone_isSelected()) {
        if (params.get_emPhone().phoneStatus_isSelected())
            sendSnmpEmPhoneStatus(params.get_emPhone().get_phoneStatus());
    } else if (params.snmpTrapReceivers_isSelected()) {
        sendSnmpTrapReceivers();
    } else if (params.controller_isSelected()) {
        sendSnmpControllerStatus();
    } else if (params.termCounter_isSelected()) {
        sendSnmpRouterTermCnt();
        sendSnmpControllerTermCnt();
        sendSnmpServerTermCnt();
        sendSnmpBoardTermCnt();
    } else if (params.snmp_set_isSelected()) {
        sendSnmpCommands(params.get_snmp_set());
    }
}

void MonitoringCtl::setFramerLed(ZGCP::FramerInfo const& info)
{
    unsigned int const e1 = info.get_e1().getValue();
    if (!IsOpen() || e1 > 3)
        return;
    std::uint8_t const link = std::uint8_t(1u << (2 * e1));
    std::uint8_t const line = std::uint8_t(1u << (2 * e1 + 1));
    ZGCP::FramerInfoData const& data = info.get_info();
    if (data.link_isSelected()) {
        leds_ = data.get_link() ? std::uint8_t(leds_ & ~link) : std::uint8_t(leds_ | link);
    } else if (data.line_isSelected()) {
        if (!data.get_line())
            leds_ = std::uint8_t(leds_ & ~(line | link));
        else if (!(leds_ & line))
            leds_ = std::uint8_t(leds_ | line | link);
    }
    std::uint8_t byte = leds_;
    halRequest(hal::kFrontLeds, byte);
}

bool MonitoringCtl::IsOpen()
{
    if (hal_)
        return true;
    leds_ = 0;
    hal_ = Fd(board::board().open(hal::kPath, O_RDWR | O_CLOEXEC));
    if (!hal_)
        return false;
    std::uint8_t off = leds_;
    halRequest(hal::kFrontLeds, off);
    return true;
}

bool MonitoringCtl::halRequest(unsigned long request, std::uint8_t& byte)
{
    return board::board().ioctl(hal_.lowlevel_fd(), request, &byte) >= 0;
}

void MonitoringCtl::sendPowerStatus()
{
    ZGCP::Signal signal;
    signal.select_power() = data_.getPowerStatus();
    SendSignal(signal);
}

// Pushers.

void MonitoringCtl::sendSnmpDriverBuild()
{
    std::string line;
    if (readFirstLine("/proc/voice/version", 126, line) > 0)
        agents_.Send(SnmpAgentCtrl::driverBuild, driverBuild(line));
}

void MonitoringCtl::sendSnmpSoftwareBuild() { agents_.Send(SnmpAgentCtrl::softwareBuild, Version::current.tag()); }

void MonitoringCtl::sendSnmpPowerStatus()
{
    agents_.Send(SnmpAgentCtrl::powerStatus, std::to_string(data_.getPowerStatus().asInt()));
}

void MonitoringCtl::sendSnmpControllerStatus()
{
    agents_.Send(SnmpAgentCtrl::controllerStatus, std::to_string(data_.getSelfControllerStatus().asInt()));
}

void MonitoringCtl::sendSnmpGatewayDip() { agents_.Send(SnmpAgentCtrl::gatewayDip, std::to_string(data_.getDipValue())); }

void MonitoringCtl::sendSnmpGatewayConfigVersion()
{
    agents_.Send(SnmpAgentCtrl::gatewayConfigVersion, std::to_string(data_.getConfigVersion()));
}

void MonitoringCtl::sendSnmpBoardStatus(ZGCP::BoardStatusParams const& board)
{
    int const index = board.get_position().getValue();
    agents_.Send(SnmpAgentCtrl::extBoardStatus, index, std::to_string(board.get_status().asInt()));
    agents_.Send(SnmpAgentCtrl::extBoardSoftVer, index, board.get_version());
    agents_.Send(SnmpAgentCtrl::extBoardType, index, std::to_string(board.get_type().asInt()));
}

void MonitoringCtl::sendSnmpBoardStatuses()
{
    for (ZGCP::BoardStatusParams const& board : data_.GetBoardStatus())
        sendSnmpBoardStatus(board);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(ZGCP::EmPhoneStatusParams const& phone)
{
    // Phones are numbered from 1 for the agents.
    int const index = int(unsigned(phone.get_id().getValue()) + 1u);
    agents_.Send(SnmpAgentCtrl::emPhonePanelSoftVer, index, phone.get_panelSV());
    agents_.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, index, phone.get_ctrlSV());
    agents_.Send(SnmpAgentCtrl::emPhoneFpgaSoftVer, index, phone.get_fpgaSV());
    agents_.Send(SnmpAgentCtrl::emPhoneStatus, index, std::to_string(phone.get_status().asInt()));
    agents_.Send(SnmpAgentCtrl::emPhonePowerStatus, index, std::to_string(phone.get_powerStatus().asInt()));
    agents_.Send(SnmpAgentCtrl::emPhoneMode, index, std::to_string(phone.get_mode().asInt()));
    agents_.Send(SnmpAgentCtrl::emPhoneHookStatus, index, std::to_string(phone.get_hookStatus().asInt()));
    agents_.Send(SnmpAgentCtrl::emPhoneBaseStatus, index, std::to_string(phone.get_baseStatus().asInt()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses()
{
    for (ZGCP::EmPhoneStatusParams const& phone : data_.GetEmPhoneStatus())
        sendSnmpEmPhoneStatus(phone);
}

void MonitoringCtl::sendSnmpTermCnt(ZGCP::TermCounterOwner::NamedNumber owner, SnmpAgentCtrl::MonitoringItemType item)
{
    bool const byBoard = owner == ZGCP::TermCounterOwner::extBoard;
    for (ZGCP::TermCounter const& counter : data_.GetTermCounters()) {
        if (counter.get_owner().asInt() != owner || (byBoard && !counter.ownerId_isPresent()))
            continue;
        int const index = byBoard ? counter.get_ownerId().getValue() : 0;
        agents_.Send(item, index, std::to_string(counter.get_cnt().getValue()));
    }
}

void MonitoringCtl::sendSnmpRouterTermCnt() { sendSnmpTermCnt(ZGCP::TermCounterOwner::router, SnmpAgentCtrl::routerTermCnt); }

void MonitoringCtl::sendSnmpControllerTermCnt()
{
    sendSnmpTermCnt(ZGCP::TermCounterOwner::controller, SnmpAgentCtrl::controllerTermCnt);
}

void MonitoringCtl::sendSnmpServerTermCnt() { sendSnmpTermCnt(ZGCP::TermCounterOwner::server, SnmpAgentCtrl::serverTermCnt); }

void MonitoringCtl::sendSnmpBoardTermCnt()
{
    sendSnmpTermCnt(ZGCP::TermCounterOwner::extBoard, SnmpAgentCtrl::extBoardTermCnt);
}

void MonitoringCtl::sendSnmpFramerStatus(FramerDataHolder const& framer)
{
    agents_.Send(SnmpAgentCtrl::e1Connected, framer.e1, flag(framer.connected));
    agents_.Send(SnmpAgentCtrl::e1StatusDsc, framer.e1, framer.state);
    agents_.Send(SnmpAgentCtrl::e1SignalLoss, framer.e1, flag(framer.signalLoss));
    agents_.Send(SnmpAgentCtrl::e1FrameAlignLoss, framer.e1, flag(framer.frameAlignmentLoss));
    agents_.Send(SnmpAgentCtrl::e1NegSlipCount, framer.e1, std::to_string(framer.negativeSlips));
    agents_.Send(SnmpAgentCtrl::e1PosSlipCount, framer.e1, std::to_string(framer.positiveSlips));
}

void MonitoringCtl::sendSnmpFramerStatus()
{
    for (FramerDataHolder const& framer : data_.GetFramers())
        sendSnmpFramerStatus(framer);
}

void MonitoringCtl::sendSnmpStatusBuildVersion() { agents_.Send(SnmpAgentCtrl::sgBuildVersion, data_.getBuildVersion()); }
void MonitoringCtl::sendSnmpStatusFPGAVersion() { agents_.Send(SnmpAgentCtrl::sgFPGAVersion, data_.getFPGAVersion()); }
void MonitoringCtl::sendSnmpStatusBootVersion() { agents_.Send(SnmpAgentCtrl::sgBootVersion, data_.getBootVersion()); }
void MonitoringCtl::sendSnmpStatusBoardVersion() { agents_.Send(SnmpAgentCtrl::sgBoardVersion, data_.getBoardVersion()); }

void MonitoringCtl::sendSnmpNetIfStatus(NetIfDataHolder const& netIf)
{
    agents_.Send(SnmpAgentCtrl::ifOperStatus, netIf.ifIndex, std::to_string(netIf.operStatus));
    agents_.Send(SnmpAgentCtrl::ifAdminStatus, netIf.ifIndex, std::to_string(netIf.adminStatus));
    agents_.Send(SnmpAgentCtrl::ifDescr, netIf.ifIndex, netIf.name);
}

void MonitoringCtl::sendSnmpNetIfStatus()
{
    for (NetIfDataHolder const& netIf : data_.GetNetIfs())
        sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::sendSnmpTemperature() { agents_.Send(SnmpAgentCtrl::temperature, data_.getTemperature()); }

void MonitoringCtl::sendSnmpTrapReceivers() { agents_.SendTrapsink(data_.GetTrapHosts()); }

void MonitoringCtl::sendSnmpCommands() { agents_.Send(data_.GetSnmpCommands()); }

void MonitoringCtl::sendSnmpCommands(MON::SnmpSetCommands const& commands) { agents_.Send(commands); }

void MonitoringCtl::OnDpcSend()
{
    sendSnmpTrapReceivers();
    sendSnmpDriverBuild();
    sendSnmpSoftwareBuild();
    sendSnmpPowerStatus();
    sendSnmpControllerStatus();
    sendSnmpGatewayDip();
    sendSnmpGatewayConfigVersion();
    sendSnmpTemperature();
    sendSnmpStatusBuildVersion();
    sendSnmpStatusFPGAVersion();
    sendSnmpStatusBootVersion();
    sendSnmpStatusBoardVersion();
    sendSnmpBoardStatuses();
    sendSnmpEmPhoneStatuses();
    sendSnmpRouterTermCnt();
    sendSnmpControllerTermCnt();
    sendSnmpServerTermCnt();
    sendSnmpBoardTermCnt();
    sendSnmpFramerStatus();
    sendSnmpNetIfStatus();
    sendSnmpCommands();
    resend_.Deactivate();
}
