#include "monitoring/snmp_agent_ctrl.h"

#include "base/ini_file.h"

#include <algorithm>
#include <climits>

namespace {

using Item = SnmpAgentCtrl;

struct ItemRow {
    SnmpAgentCtrl::MonitoringItemType type;
    int mask;
    char const* section;
    char const* name;
};

ItemRow const itemTable[] = {
    {Item::driverBuild, 6, "gatewayCommon", "driverBuild"},
    {Item::softwareBuild, 6, "gatewayCommon", "softwareBuild"},
    {Item::powerStatus, 6, "gatewayCommon", "powerStatus"},
    {Item::controllerStatus, 6, "gatewayCommon", "controllerStatus"},
    {Item::gatewayDip, 6, "gatewayCommon", "gatewayDip"},
    {Item::gatewayConfigVersion, 6, "gatewayCommon", "gatewayConfigVersion"},
    {Item::extBoardStatus, 2, "extBoardTable", "extBoardStatus"},
    {Item::extBoardSoftVer, 2, "extBoardTable", "extBoardSoftVer"},
    {Item::extBoardType, 2, "extBoardTable", "extBoardType"},
    {Item::emPhonePanelSoftVer, 2, "emPhoneTable", "emPhonePanelSoftVer"},
    {Item::emPhoneCtrlSoftVer, 2, "emPhoneTable", "emPhoneCtrlSoftVer"},
    {Item::emPhoneFpgaSoftVer, 2, "emPhoneTable", "emPhoneFpgaSoftVer"},
    {Item::emPhoneStatus, 2, "emPhoneTable", "emPhoneStatus"},
    {Item::emPhonePowerStatus, 2, "emPhoneTable", "emPhonePowerStatus"},
    {Item::emPhoneMode, 2, "emPhoneTable", "emPhoneMode"},
    {Item::emPhoneHookStatus, 2, "emPhoneTable", "emPhoneHookStatus"},
    {Item::emPhoneBaseStatus, 2, "emPhoneTable", "emPhoneBaseStatus"},
    {Item::routerTermCnt, 6, "gatewayTermCounters", "routerTermCnt"},
    {Item::controllerTermCnt, 6, "gatewayTermCounters", "controllerTermCnt"},
    {Item::serverTermCnt, 6, "gatewayTermCounters", "serverTermCnt"},
    {Item::extBoardTermCnt, 2, "extBoardTermCntTable", "extBoardTermCnt"},
    {Item::e1Connected, 2, "e1Table", "e1Connected"},
    {Item::e1StatusDsc, 2, "e1Table", "e1StatusDsc"},
    {Item::e1SignalLoss, 2, "e1Table", "e1SignalLoss"},
    {Item::e1FrameAlignLoss, 2, "e1Table", "e1FrameAlignLoss"},
    {Item::e1NegSlipCount, 2, "e1Table", "e1NegSlipCount"},
    {Item::e1PosSlipCount, 2, "e1Table", "e1PosSlipCount"},
    {Item::sgBuildVersion, 4, "statusGeneral", "sgBuildVersion"},
    {Item::sgFPGAVersion, 4, "statusGeneral", "sgFPGAVersion"},
    {Item::sgBootVersion, 4, "statusGeneral", "sgBootVersion"},
    {Item::sgBoardVersion, 4, "statusGeneral", "sgBoardVersion"},
    {Item::ifDescr, 6, "ifTable", "ifDescr"},
    {Item::ifAdminStatus, 6, "ifTable", "ifAdminStatus"},
    {Item::ifOperStatus, 6, "ifTable", "ifOperStatus"},
    {Item::temperature, 2, "gatewayCommon", "temperature"},
};
static_assert(sizeof itemTable / sizeof itemTable[0] == SnmpAgentCtrl::itemCount);

// The agent-type bits that have a batch.
int const batchBits[] = {2, 4};

}  // namespace

SnmpAgentCtrl::SnmpAgentCtrl()
{
    for (ItemRow const& row : itemTable)
        items_.emplace_back(row.type, row.mask, row.section, row.name);
    for (int bit : batchBits)
        batches_[bit].select_snmp_set();
    flush_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
}

SnmpAgentCtrl::~SnmpAgentCtrl() = default;

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section)
{
    for (IniFile::SubSection& block : section) {
        links_.push_back(std::make_unique<SnmpAgentInstance>());
        links_.back()->Bind(notify_);
        links_.back()->Activate(block);
    }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* notify)
{
    notify_ = notify;
    for (auto& link : links_)
        link->Bind(notify);
}

void SnmpAgentCtrl::UnBind() { Bind(nullptr); }

void SnmpAgentCtrl::Send(MonitoringItemType type, int index, std::string const& value)
{
    auto const row = std::find_if(items_.begin(), items_.end(), [&](MonitoringItem const& i) { return i.type == type; });
    if (row == items_.end())
        return;
    for (auto& [bit, batch] : batches_) {
        if (!(row->mask & bit))
            continue;
        MON::SnmpSetCommand command;
        command.set_uniq(nextUniq_);
        // Never reset; wraps to 1 rather than past the largest int.
        nextUniq_ = nextUniq_ == INT_MAX ? 1 : nextUniq_ + 1;
        command.set_value(value);
        MON::IniName& name = command.set_id().select_name();
        name.set_section(row->section);
        name.set_name(row->name);
        name.set_index(index);
        batch.ref_snmp_set().set_commands().push_back(command);
        flush_.Activate();
    }
}

void SnmpAgentCtrl::Send(MON::SnmpSetCommands const& commands)
{
    if (commands.get_commands().empty())
        return;
    MON::Command command;
    command.select_snmp_set(commands);
    Command(command);
}

void SnmpAgentCtrl::SendTrapsink(std::list<std::string> const& hosts)
{
    if (hosts.empty())
        return;
    MON::Command command;
    ASN1::SEQUENCE_OF<MON::SnmpTrapsink>& sinks = command.select_snmp_trapsink_set().set_trapsinks();
    for (std::string const& host : hosts) {
        MON::SnmpTrapsink sink;
        sink.set_host(host);
        sinks.push_back(sink);
    }
    Command(command);
}

void SnmpAgentCtrl::OnDpcSend()
{
    for (auto& [bit, batch] : batches_) {
        ASN1::SEQUENCE_OF<MON::SnmpSetCommand>& commands = batch.ref_snmp_set().set_commands();
        if (commands.empty())
            continue;
        Command(batch);
        commands.clear();
    }
    flush_.Deactivate();
}

void SnmpAgentCtrl::Command(MON::Command const& command)
{
    for (auto& link : links_)
        link->Command(command);
}
