#pragma once

#include "messages/mon.h"
#include "monitoring/snmp_agent_instance.h"
#include "monitoring/snmp_agent_notify.h"
#include "runtime/dpc.h"

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace IniFile {
class Section;
}

// The links to the SNMP agent processes and the table of monitoring items. An item value
// is queued as an snmp-set command (section, name, index, value) in the batch of each
// agent-type bit of the item's mask (2, then 4), each with the next uniq number; the
// batches leave together from a deferred call, each as one message to every link. Set
// commands given by the controller and the trap receivers go to every link at once.
class SnmpAgentCtrl {
public:
    // The item numbers.
    enum MonitoringItemType : int {
        driverBuild, softwareBuild, powerStatus, controllerStatus, gatewayDip, gatewayConfigVersion,
        extBoardStatus, extBoardSoftVer, extBoardType,
        emPhonePanelSoftVer, emPhoneCtrlSoftVer, emPhoneFpgaSoftVer, emPhoneStatus, emPhonePowerStatus,
        emPhoneMode, emPhoneHookStatus, emPhoneBaseStatus,
        routerTermCnt, controllerTermCnt, serverTermCnt, extBoardTermCnt,
        e1Connected, e1StatusDsc, e1SignalLoss, e1FrameAlignLoss, e1NegSlipCount, e1PosSlipCount,
        sgBuildVersion, sgFPGAVersion, sgBootVersion, sgBoardVersion,
        ifDescr, ifAdminStatus, ifOperStatus,
        temperature,
        itemCount
    };

    struct MonitoringItem {
        MonitoringItem(MonitoringItemType t, int m, std::string s, std::string n)
            : type(t), mask(m), section(std::move(s)), name(std::move(n))
        {
        }
        MonitoringItemType type;
        int mask;  // agent-type bits
        std::string section;
        std::string name;
    };

    SnmpAgentCtrl();
    virtual ~SnmpAgentCtrl();
    SnmpAgentCtrl(SnmpAgentCtrl const&) = delete;
    SnmpAgentCtrl& operator=(SnmpAgentCtrl const&) = delete;

    // One link per block of the section, in file order; a rejected block leaves its link
    // inactive.
    void CreateInstances(IniFile::Section& section);
    void Bind(ISnmpAgentNotify* notify);
    void UnBind();

    // Queues one item value.
    void Send(MonitoringItemType type, int index, std::string const& value);
    void Send(MonitoringItemType type, std::string const& value) { Send(type, 0, value); }
    // Forwards the set commands as they are, at once (nothing for an empty list).
    void Send(MON::SnmpSetCommands const& commands);
    // Sends the trap receivers at once (nothing for an empty list).
    void SendTrapsink(std::list<std::string> const& hosts);
    // The flush of the batches.
    void OnDpcSend();

    std::vector<std::unique_ptr<SnmpAgentInstance>> const& links() const { return links_; }
    std::vector<MonitoringItem> const& items() const { return items_; }

private:
    // Sends the command to every link.
    void Command(MON::Command const& command);

    std::vector<std::unique_ptr<SnmpAgentInstance>> links_;
    std::vector<MonitoringItem> items_;
    Dpc flush_;
    int nextUniq_ = 1;
    ISnmpAgentNotify* notify_ = nullptr;
    // By agent-type bit: 2 and 4.
    std::map<int, MON::Command> batches_;
};
