#include "monitoring/monitoring_data_holder.h"

#include "base/trace_ctl.h"
#include "board/path.h"
#include "runtime/find_proc.h"
#include "runtime/net.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <iostream>
#include <memory>
#include <utility>

namespace {

char const monDir[] = "/var/monitoring/";
char const termCntDir[] = "/var/monitoring/term_cnts/";
char const controllerDir[] = "/var/monitoring/controller/";
char const framerDir[] = "/proc/driver/hdlc/peb22554/";
// Framer status files looked for: framerDir followed by 0 to 3.
int const maxFramers = 4;
mode_t const dirMode = 0755;
mode_t const fileMode = 0644;

// The monitoring failures: logged always, without a header.
void logFailure(char const* what, std::string const& path, int code)
{
    std::clog << what << path << "> with code=" << code << std::endl;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

Dir openDir(std::string const& boardPath) { return Dir(::opendir(board::path(boardPath).c_str())); }

// The names of the entries of a directory (a board path), "." and ".." left out.
std::vector<std::string> entriesOf(std::string const& boardPath)
{
    std::vector<std::string> names;
    Dir const dir = openDir(boardPath);
    if (!dir)
        return names;
    while (dirent const* e = ::readdir(dir.get())) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    return names;
}

// Whether a text from the controller can be one component of a path.
bool isPathComponent(std::string const& text)
{
    return !text.empty() && text != "." && text != ".." && text.find('/') == std::string::npos &&
           text.find('\0') == std::string::npos;
}

bool sameItem(MON::SnmpSetCommandId const& a, MON::SnmpSetCommandId const& b)
{
    if (a.oid_isSelected() && b.oid_isSelected())
        return a.get_oid() == b.get_oid();
    if (!a.name_isSelected() || !b.name_isSelected())
        return false;
    MON::IniName const& x = a.get_name();
    MON::IniName const& y = b.get_name();
    return x.get_section() == y.get_section() && x.get_name() == y.get_name() &&
           x.get_index().getValue() == y.get_index().getValue();
}

// A counter's record: one per owner, and for a board one per owner id, a board without an id
// being a record of its own (its count has no file and no item).
bool sameCounter(ZGCP::TermCounter const& a, ZGCP::TermCounter const& b)
{
    if (a.get_owner() != b.get_owner())
        return false;
    if (a.get_owner().asInt() != ZGCP::TermCounterOwner::extBoard)
        return true;
    if (a.ownerId_isPresent() != b.ownerId_isPresent())
        return false;
    return !a.ownerId_isPresent() || a.get_ownerId().getValue() == b.get_ownerId().getValue();
}

// A controller's address as its directory names it; 0.0.0.0 for a text that does not parse.
INet4::Addr addressOf(TERM::HostAddress const& host)
{
    INet4::Addr address;
    address = host2str(host);
    return address;
}

void writeText(std::FILE* file, std::string const& text) { std::fwrite(text.data(), 1, text.size(), file); }

void writeLine(std::FILE* file, std::string const& text)
{
    writeText(file, text);
    std::fputc('\n', file);
}

template <class T>
bool store(T& field, T value)
{
    if (field == value)
        return false;
    field = std::move(value);
    return true;
}

}  // namespace

std::string host2str(TERM::HostAddress const& host) { return host.get_iaddr(); }

MonitoringDataHolder::MonitoringDataHolder()
{
    ClearMonitorFiles();
    std::list<INet4::Addr> own;
    if (Net::ifconfig(own, Net::private_net) > 0)
        selfHostAddress = own.front();
    else
        selfHostAddress = std::string("127.0.0.1");
    for (int n = 0; n < maxFramers; ++n) {
        std::string const path = framerDir + std::to_string(n);
        struct stat st;
        if (::stat(board::path(path).c_str(), &st) == 0)
            framers.emplace_back(n + 1, path);
    }
    for (NetIfDataHolder& netIf : NetIfDataHolder::List())
        netIfs.push_back(std::move(netIf));
    CheckForMonDir(monDir);
    CheckForMonDir(termCntDir);
}

MonitoringDataHolder::~MonitoringDataHolder() { ClearMonitorFiles(); }

// Simple values.

bool MonitoringDataHolder::setDipValue(std::int32_t value)
{
    if (!store(dipValue, value))
        return false;
    SaveStatusToFile("/var/monitoring/dip", &MonitoringDataHolder::DipStatusSaver, nullptr);
    return true;
}

bool MonitoringDataHolder::setPowerStatus(ZGCP::POWERStatus const& status)
{
    if (powerStatus == status)
        return false;
    powerStatus = status;
    SaveStatusToFile("/var/monitoring/powerstatus", &MonitoringDataHolder::PowerStatusSaver, nullptr);
    return true;
}

bool MonitoringDataHolder::setConfigVersion(std::uint32_t version, std::uint64_t suffix)
{
    if (version == configVersion && suffix == configSuffix)
        return false;
    configVersion = version;
    configSuffix = suffix;
    SaveStatusToFile("/var/monitoring/config_version", &MonitoringDataHolder::ConfigVersionSaver, nullptr);
    return true;
}

bool MonitoringDataHolder::setTemperature(std::string text) { return store(temperature, std::move(text)); }
bool MonitoringDataHolder::setBuildVersion(std::string text) { return store(buildVersion, std::move(text)); }
bool MonitoringDataHolder::setFPGAVersion(std::string text) { return store(fpgaVersion, std::move(text)); }
bool MonitoringDataHolder::setBootVersion(std::string text) { return store(bootVersion, std::move(text)); }
bool MonitoringDataHolder::setBoardVersion(std::string text) { return store(boardVersion, std::move(text)); }

// What the controller reports.

void MonitoringDataHolder::setDisplayStatus(ZGCP::DisplayParams const& params)
{
    if (params.emPhone_isSelected())
        setEmPhoneInfo(params.get_emPhone());
    else if (params.board_isSelected())
        setBoardStatus(params.get_board());
    else if (params.snmpTrapReceivers_isSelected())
        setSnmpTrapReceivers(params.get_snmpTrapReceivers());
    else if (params.framer_isSelected())
        setFramerStatusChanged(params.get_framer());
    else if (params.controller_isSelected())
        setControllerStatus(params.get_controller());
    else if (params.termCounter_isSelected())
        setTermCounter(params.get_termCounter());
    else if (params.snmp_set_isSelected())
        setSnmpCommands(params.get_snmp_set());
}

void MonitoringDataHolder::setBoardStatus(ZGCP::BoardInfo const& info)
{
    if (!info.boardStatus_isSelected())
        return;
    SaveStatusArg arg;
    arg.board = &info.get_boardStatus();
    SaveStatusToFile("/var/monitoring/board" + std::to_string(arg.board->get_position().getValue()),
                     &MonitoringDataHolder::BoardStatusSaver, &arg);
}

void MonitoringDataHolder::setEmPhoneInfo(ZGCP::EmPhoneInfo const& info)
{
    if (!info.phoneStatus_isSelected())
        return;
    SaveStatusArg arg;
    arg.phone = &info.get_phoneStatus();
    SaveStatusToFile("/var/monitoring/emphone" + std::to_string(arg.phone->get_id().getValue()),
                     &MonitoringDataHolder::PhoneStatusSaver, &arg);
}

void MonitoringDataHolder::setTermCounter(ZGCP::TermCounter const& counter)
{
    std::string path;
    switch (counter.get_owner().asInt()) {
    case ZGCP::TermCounterOwner::router: path = "router"; break;
    case ZGCP::TermCounterOwner::controller: path = "controller"; break;
    case ZGCP::TermCounterOwner::server: path = "server"; break;
    case ZGCP::TermCounterOwner::extBoard:
        if (counter.ownerId_isPresent())
            path = "board" + std::to_string(counter.get_ownerId().getValue());
        break;
    }
    if (!path.empty()) {
        SaveStatusArg arg;
        arg.count = counter.get_cnt().getValue();
        SaveStatusToFile(termCntDir + path, &MonitoringDataHolder::TermCounterSaver, &arg);
    }
    auto const match = std::find_if(termCounters.begin(), termCounters.end(),
                                    [&](ZGCP::TermCounter const& c) { return sameCounter(c, counter); });
    if (match != termCounters.end())
        *match = counter;
    else
        termCounters.push_back(counter);
}

bool MonitoringDataHolder::setControllerStatus(ZGCP::ControllerInfo const& info)
{
    INet4::Addr const address = addressOf(info.get_host());
    HSP::ControllerStatus const& status = info.get_status();
    bool const self = address == selfHostAddress;
    if (self)
        selfControllerStatus = status;
    // One record per address, as the status file and the own status are kept.
    auto const match = std::find_if(controllers.begin(), controllers.end(), [&](ZGCP::ControllerInfo const& c) {
        return addressOf(c.get_host()) == address;
    });
    bool changed = true;
    if (match != controllers.end()) {
        changed = match->get_status() != status;
        match->set_status() = status;
    } else {
        controllers.push_back(info);
    }
    if (!changed)
        return false;
    std::string const dotted = address.GetStrAddr();
    if (traces.monitoring.internal)
        std::clog << "New controller " << dotted << " status - " << status << std::endl;
    CheckForMonControllerDir(address);
    SaveStatusArg arg;
    arg.controller = &status;
    SaveStatusToFile(controllerDir + dotted + "/status", &MonitoringDataHolder::ControllerStatusSaver, &arg);
    return self;
}

void MonitoringDataHolder::setSnmpTrapReceivers(ASN1::SEQUENCE_OF<ASN1::IA5String> const& receivers)
{
    trapHosts.clear();
    if (traces.monitoring.internal)
        std::clog << "Trap receivers:" << receivers << std::endl;
    for (ASN1::IA5String const& host : receivers)
        trapHosts.push_back(host);
}

void MonitoringDataHolder::setSnmpCommands(MON::SnmpSetCommands const& commands)
{
    ASN1::SEQUENCE_OF<MON::SnmpSetCommand>& stored = snmpCommands.set_commands();
    for (MON::SnmpSetCommand const& command : commands.get_commands()) {
        auto const match = std::find_if(stored.begin(), stored.end(), [&](MON::SnmpSetCommand const& s) {
            return sameItem(s.get_id(), command.get_id());
        });
        if (match != stored.end())
            match->set_value(command.get_value());
        else
            stored.push_back(command);
        if (!command.get_id().name_isSelected())
            continue;
        MON::IniName const& name = command.get_id().get_name();
        std::string const section = name.get_section();
        std::string const item = name.get_name();
        if (!isPathComponent(section) || !isPathComponent(item)) {
            std::clog << "FAIL snmp-set item <" << section << "> <" << item << ">: not a file name" << std::endl;
            continue;
        }
        std::string const sectionDir = monDir + section;
        std::string const indexDir = sectionDir + "/" + std::to_string(name.get_index().getValue());
        CheckForMonDir(sectionDir);
        CheckForMonDir(indexDir);
        stringParam = command.get_value();
        SaveStatusArg arg;
        arg.text = &stringParam;
        SaveStatusToFile(indexDir + "/" + item, &MonitoringDataHolder::StringParamSaver, &arg);
    }
}

// Files and directories.

void MonitoringDataHolder::ClearMonitorFiles()
{
    for (std::string const& name : entriesOf(monDir))
        ::remove(board::path(monDir + name).c_str());
}

void MonitoringDataHolder::ClearControllerFiles()
{
    for (std::string const& name : entriesOf(monDir)) {
        if (name.compare(0, 5, "board") != 0)
            continue;
        if (traces.monitoring.internal)
            std::clog << "remove monitoring info: " << name << std::endl;
        ::remove(board::path(monDir + name).c_str());
    }
    boardStatus.clear();
}

void MonitoringDataHolder::CheckForMonDir(std::string const& path)
{
    if (openDir(path))
        return;
    if (::mkdir(board::path(path).c_str(), dirMode) != 0)
        logFailure("FAIL create monitoring catalog <", path, errno);
}

void MonitoringDataHolder::CheckForMonControllerDir(INet4::Addr const& address)
{
    if (!openDir(controllerDir)) {
        if (::mkdir(board::path(controllerDir).c_str(), dirMode) != 0) {
            logFailure("FAIL create monitoring catalog <", controllerDir, errno);
            return;
        }
        if (!openDir(controllerDir))
            return;
    }
    std::string const dir = controllerDir + std::string(address.GetStrAddr());
    if (openDir(dir))
        return;
    if (::mkdir(board::path(dir).c_str(), dirMode) != 0)
        logFailure("FAIL create monitoring catalog <", dir, errno);
    if (address != selfHostAddress)
        return;
    std::string const link = board::path(std::string(controllerDir) + "self");
    if (::symlink(board::path(dir).c_str(), link.c_str()) != 0)
        logFailure("FAIL create symlink to monitoring catalog <", dir, errno);
}

void MonitoringDataHolder::SaveStatusToFile(std::string const& path, Saver saver, SaveStatusArg const* arg)
{
    std::string const target = board::path(path);
    std::string temporary = target + ".XXXXXX";
    int const fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        logFailure("FAIL create temporary file <", path, errno);
        return;
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (!file) {
        logFailure("FAIL create temporary file <", path, errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return;
    }
    ::fchmod(fd, fileMode);
    (this->*saver)(file, arg);
    bool ok = std::fflush(file) == 0 && !std::ferror(file);
    int code = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (ok)
        return;
    logFailure("FAIL write file <", path, code);
    ::unlink(temporary.c_str());
}

std::int32_t MonitoringDataHolder::updateControllerPID()
{
    controllerPid = find_proc_by_name("controller", controllerPid);
    return controllerPid;
}

// Savers.

void MonitoringDataHolder::DipStatusSaver(std::FILE* file, SaveStatusArg const*)
{
    std::fprintf(file, "%" PRId32, dipValue);
}

void MonitoringDataHolder::PowerStatusSaver(std::FILE* file, SaveStatusArg const*)
{
    char c = '0';
    switch (powerStatus.asInt()) {
    case ZGCP::POWERStatus::main: c = '2'; break;
    case ZGCP::POWERStatus::standby: c = '1'; break;
    case ZGCP::POWERStatus::both: c = '3'; break;
    }
    std::fputc(c, file);
}

void MonitoringDataHolder::ConfigVersionSaver(std::FILE* file, SaveStatusArg const*)
{
    std::fprintf(file, "%08" PRIx32 "-%016" PRIx64, configVersion, configSuffix);
}

void MonitoringDataHolder::BoardStatusSaver(std::FILE* file, SaveStatusArg const* arg)
{
    if (!arg)
        return;
    ZGCP::BoardStatusParams const& record = *arg->board;
    writeLine(file, std::to_string(record.get_status().asInt()));
    writeLine(file, record.get_version());
    writeLine(file, std::to_string(record.get_type().asInt()));
    auto const match = std::find_if(boardStatus.begin(), boardStatus.end(), [&](ZGCP::BoardStatusParams const& b) {
        return b.get_position().getValue() == record.get_position().getValue();
    });
    if (match != boardStatus.end())
        *match = record;
    else
        boardStatus.push_back(record);
}

void MonitoringDataHolder::PhoneStatusSaver(std::FILE* file, SaveStatusArg const* arg)
{
    if (!arg)
        return;
    ZGCP::EmPhoneStatusParams const& record = *arg->phone;
    writeLine(file, record.get_panelSV());
    writeLine(file, record.get_ctrlSV());
    writeLine(file, record.get_fpgaSV());
    for (int n : {record.get_status().asInt(), record.get_powerStatus().asInt(), record.get_mode().asInt(),
                  record.get_hookStatus().asInt(), record.get_baseStatus().asInt()})
        writeLine(file, std::to_string(n));
    auto const match = std::find_if(emPhoneStatus.begin(), emPhoneStatus.end(), [&](ZGCP::EmPhoneStatusParams const& p) {
        return p.get_id().getValue() == record.get_id().getValue();
    });
    if (match != emPhoneStatus.end())
        *match = record;
    else
        emPhoneStatus.push_back(record);
}

void MonitoringDataHolder::TermCounterSaver(std::FILE* file, SaveStatusArg const* arg)
{
    if (arg)
        writeText(file, std::to_string(arg->count));
}

void MonitoringDataHolder::ControllerStatusSaver(std::FILE* file, SaveStatusArg const* arg)
{
    if (arg)
        writeText(file, std::to_string(arg->controller->asInt()));
}

void MonitoringDataHolder::StringParamSaver(std::FILE* file, SaveStatusArg const* arg)
{
    if (arg)
        writeText(file, *arg->text);
}
