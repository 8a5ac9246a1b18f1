#pragma once

#include "messages/hsp.h"
#include "messages/mon.h"
#include "messages/term.h"
#include "messages/zgcp.h"
#include "monitoring/framer_data_holder.h"
#include "monitoring/net_if_data_holder.h"
#include "runtime/inet4_addr.h"

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

// The last known value of every board fact that the monitoring controller polls or that the
// controller reports with `display`, mirrored into small status files under
// "/var/monitoring/", which are written and never read back. Setters tell whether a value
// changed. A status file is written into a temporary file of its directory and renamed over
// its name, so a reader sees the old or the new content, never a part of it. Failures to
// make a file, a directory or the "self" link are logged always, without a header; the
// other lines only with the "monitoring.internal" trace switch on.
class MonitoringDataHolder {
public:
    // What a saver writes: a pointer to the value, or the count itself.
    union SaveStatusArg {
        ZGCP::BoardStatusParams const* board;
        ZGCP::EmPhoneStatusParams const* phone;
        HSP::ControllerStatus const* controller;
        std::string const* text;
        std::int32_t count;
    };
    // A saver writes into the open file; one that needs an argument writes nothing without.
    using Saver = void (MonitoringDataHolder::*)(std::FILE*, SaveStatusArg const*);

    // Clears the top level of "/var/monitoring/", learns the own address, the framers and
    // the interfaces, and makes the fixed directories.
    MonitoringDataHolder();
    // Clears the top level of "/var/monitoring/" again.
    ~MonitoringDataHolder();
    MonitoringDataHolder(MonitoringDataHolder const&) = delete;
    MonitoringDataHolder& operator=(MonitoringDataHolder const&) = delete;

    // Store when different and say so; the first three write their file then.
    bool setDipValue(std::int32_t value);
    bool setPowerStatus(ZGCP::POWERStatus const& status);
    bool setConfigVersion(std::uint32_t version, std::uint64_t suffix);
    bool setTemperature(std::string text);
    bool setBuildVersion(std::string text);
    bool setFPGAVersion(std::string text);
    bool setBootVersion(std::string text);
    bool setBoardVersion(std::string text);

    // What the controller reports: each alternative to its setter.
    void setDisplayStatus(ZGCP::DisplayParams const& params);
    void setBoardStatus(ZGCP::BoardInfo const& info);
    void setEmPhoneInfo(ZGCP::EmPhoneInfo const& info);
    // One record per owner; a board's counters one per owner id, and one without an id.
    void setTermCounter(ZGCP::TermCounter const& counter);
    // One record per address, whatever port the reports give. True when the status held
    // for the gateway's own address changed.
    bool setControllerStatus(ZGCP::ControllerInfo const& info);
    void setSnmpTrapReceivers(ASN1::SEQUENCE_OF<ASN1::IA5String> const& receivers);
    void setFramerStatusChanged(ZGCP::FramerInfo const&) {}
    // Merges the items and writes one file per item addressed by name. A section or name
    // that cannot be a single path component (empty, ".", "..", holding "/" or a zero
    // character) writes no file and is logged; the item is still merged.
    void setSnmpCommands(MON::SnmpSetCommands const& commands);

    // Removes the entries directly under "/var/monitoring/" (directories only when empty).
    void ClearMonitorFiles();
    // Removes the board files and forgets the boards.
    void ClearControllerFiles();
    // Makes the directory (a board path) when it cannot be opened.
    void CheckForMonDir(std::string const& path);
    // Makes "/var/monitoring/controller/" and the address's directory; a new directory of
    // the own address gets the "self" link.
    void CheckForMonControllerDir(INet4::Addr const& address);
    void SaveStatusToFile(std::string const& path, Saver saver, SaveStatusArg const* arg);
    // The pid of the local process named "controller", or -1; kept for the next look-up.
    std::int32_t updateControllerPID();

    INet4::Addr const& getSelfHostAddress() const { return selfHostAddress; }
    HSP::ControllerStatus const& getSelfControllerStatus() const { return selfControllerStatus; }
    ZGCP::POWERStatus const& getPowerStatus() const { return powerStatus; }
    std::int32_t getDipValue() const { return dipValue; }
    std::uint32_t getConfigVersion() const { return configVersion; }
    std::string const& getTemperature() const { return temperature; }
    std::string const& getBuildVersion() const { return buildVersion; }
    std::string const& getFPGAVersion() const { return fpgaVersion; }
    std::string const& getBootVersion() const { return bootVersion; }
    std::string const& getBoardVersion() const { return boardVersion; }
    std::list<FramerDataHolder>& GetFramers() { return framers; }
    std::list<NetIfDataHolder>& GetNetIfs() { return netIfs; }
    std::list<ZGCP::BoardStatusParams> const& GetBoardStatus() const { return boardStatus; }
    std::list<ZGCP::EmPhoneStatusParams> const& GetEmPhoneStatus() const { return emPhoneStatus; }
    std::list<ZGCP::TermCounter> const& GetTermCounters() const { return termCounters; }
    std::list<std::string> const& GetTrapHosts() const { return trapHosts; }
    MON::SnmpSetCommands const& GetSnmpCommands() const { return snmpCommands; }

    void DipStatusSaver(std::FILE* file, SaveStatusArg const* arg);
    void PowerStatusSaver(std::FILE* file, SaveStatusArg const* arg);
    void ConfigVersionSaver(std::FILE* file, SaveStatusArg const* arg);
    void BoardStatusSaver(std::FILE* file, SaveStatusArg const* arg);
    void PhoneStatusSaver(std::FILE* file, SaveStatusArg const* arg);
    void TermCounterSaver(std::FILE* file, SaveStatusArg const* arg);
    void ControllerStatusSaver(std::FILE* file, SaveStatusArg const* arg);
    void StringParamSaver(std::FILE* file, SaveStatusArg const* arg);

private:
    INet4::Addr selfHostAddress;
    HSP::ControllerStatus selfControllerStatus;
    std::int32_t controllerPid = -1;
    std::list<ZGCP::ControllerInfo> controllers;
    ZGCP::POWERStatus powerStatus;
    std::list<ZGCP::BoardStatusParams> boardStatus;
    std::list<ZGCP::EmPhoneStatusParams> emPhoneStatus;
    std::list<ZGCP::TermCounter> termCounters;
    std::list<std::string> trapHosts;
    std::int32_t dipValue = -1;
    std::uint64_t configSuffix = ~std::uint64_t(0);
    std::uint32_t configVersion = ~std::uint32_t(0);
    std::string temperature;
    std::string buildVersion;
    std::string fpgaVersion;
    std::string bootVersion;
    std::string boardVersion;
    MON::SnmpSetCommands snmpCommands;
    std::string stringParam;
    std::list<FramerDataHolder> framers;
    std::list<NetIfDataHolder> netIfs;
};

// The characters of the host's address text as they are, without the port.
std::string host2str(TERM::HostAddress const& host);
