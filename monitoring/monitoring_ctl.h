#pragma once

#include "base/fd.h"
#include "control/ctrl_server.h"
#include "monitoring/monitoring_data_holder.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "monitoring/snmp_agent_notify.h"
#include "runtime/dpc.h"
#include "runtime/timer.h"

#include <cstdint>
#include <string>

namespace IniFile {
class File;
}

// The board's monitoring service. Three repeating timers poll the board's facts (versions,
// configuration, framers and temperature every 60 s; power supply, dip switch and network
// interfaces every 2 s; the controller's state every 5 s) into the monitoring data, which
// writes the status files, and every value that changed goes to the SNMP agent links as a
// monitoring item. It takes the controller's `display` command (always answered with
// success), drives the framers' front LEDs, signals the power-supply state to the
// controller, and sends every item again when an agent link connects. Its diagnostic lines
// need the "monitoring.internal" trace switch.
//
// The daemon has one, instance(), configured from the "snmpagent" sections and bound last
// to the controller server; its timers start when it is built.
class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
public:
    static constexpr unsigned int first_background_ms = 1000;
    static constexpr unsigned int background_ms = 60000;
    static constexpr unsigned int power_ms = 2000;
    static constexpr unsigned int controller_ms = 5000;

    static MonitoringCtl& instance();

    // Arms the timers; opens nothing.
    MonitoringCtl();
    // Turns the LEDs off when "/dev/hal" is open.
    ~MonitoringCtl() override;

    // One agent link per "snmpagent" block of the file, then binds itself to them.
    void Configure(IniFile::File& file);

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(ZGCP::Command const& command) override;
    void OnSnmpAgentConnect(std::string const& name) override;

    void onBkgCheckTimer(Timer*);
    void onPowerCheckTimer(Timer*);
    void onControllerCheckTimer(Timer*);

    void doVersionsCheck();
    void doConfigCheck();
    void doFramerCheck();
    void doTemperatureCheck();
    void doPowerCheck();
    void doDipCheck();
    void doNetIfCheck();
    void doControllerCheck();

    void OnDisplayCMD(ZGCP::DisplayParams const& params);
    void setFramerLed(ZGCP::FramerInfo const& info);
    // Opens "/dev/hal" when it is not open (all LEDs off then); whether it is open.
    bool IsOpen();
    void sendPowerStatus();

    void sendSnmpDriverBuild();
    void sendSnmpSoftwareBuild();
    void sendSnmpPowerStatus();
    void sendSnmpControllerStatus();
    void sendSnmpGatewayDip();
    void sendSnmpGatewayConfigVersion();
    void sendSnmpBoardStatus(ZGCP::BoardStatusParams const& board);
    void sendSnmpBoardStatuses();
    void sendSnmpEmPhoneStatus(ZGCP::EmPhoneStatusParams const& phone);
    void sendSnmpEmPhoneStatuses();
    void sendSnmpRouterTermCnt();
    void sendSnmpControllerTermCnt();
    void sendSnmpServerTermCnt();
    void sendSnmpBoardTermCnt();
    void sendSnmpFramerStatus(FramerDataHolder const& framer);
    void sendSnmpFramerStatus();
    void sendSnmpStatusBuildVersion();
    void sendSnmpStatusFPGAVersion();
    void sendSnmpStatusBootVersion();
    void sendSnmpStatusBoardVersion();
    void sendSnmpNetIfStatus(NetIfDataHolder const& netIf);
    void sendSnmpNetIfStatus();
    void sendSnmpTemperature();
    void sendSnmpTrapReceivers();
    void sendSnmpCommands();
    void sendSnmpCommands(MON::SnmpSetCommands const& commands);

    // The resend of everything to the agents.
    void OnDpcSend();

    MonitoringDataHolder& data() { return data_; }
    SnmpAgentCtrl& agents() { return agents_; }
    std::uint8_t ledByte() const { return leds_; }

private:
    // Counters of one owner, each with its item; extBoard ones only with an owner id.
    void sendSnmpTermCnt(ZGCP::TermCounterOwner::NamedNumber owner, SnmpAgentCtrl::MonitoringItemType item);
    // One board byte request on "/dev/hal"; false when it fails.
    bool halRequest(unsigned long request, std::uint8_t& byte);

    Fd hal_;
    MonitoringDataHolder data_;
    SnmpAgentCtrl agents_;
    Timer bkgTimer_;
    Timer powerTimer_;
    Timer controllerTimer_;
    std::uint8_t leds_ = 0;
    Dpc resend_;
};
