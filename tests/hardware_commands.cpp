#include "tests/hardware_commands.h"

namespace testsupport {

ZGCP::Command casCommand(std::string const& cmd, int trunk, int timeslot, int value)
{
    ZGCP::Command c;
    ZGCP::CasCommand& cas = c.select_ioctl().select_cas();
    cas.set_channel().set_path(trunk);
    cas.set_channel().set_timeslot(timeslot);
    if (cmd == "open")
        cas.set_cmd().select_open(value);
    else if (cmd == "set")
        cas.set_cmd().select_set(value);
    else if (cmd == "close")
        cas.set_cmd().select_close();
    else
        cas.set_cmd().select_get();
    return c;
}

ZGCP::Command trunkCfgCommand(int trunk, ZGCP::TrunkMode::NamedNumber mode)
{
    ZGCP::Command c;
    ZGCP::TrunkCfg& cfg = c.select_trunkCfg();
    cfg.set_trunk(trunk);
    cfg.set_mode(mode);
    return c;
}

ZGCP::Command clockCfgCommand(ZGCP::ClkSel0::NamedNumber sel, ZGCP::BExtEn::NamedNumber ext, int source)
{
    ZGCP::Command c;
    ZGCP::ClockCfg& cfg = c.select_clockCfg();
    cfg.set_clkSel0(sel);
    cfg.set_bextEn(ext);
    cfg.set_source(source);
    return c;
}

ZGCP::Command testBpcCommand(unsigned bus, int seed, int mode, unsigned start, unsigned length)
{
    ZGCP::Command c;
    ZGCP::BpcTestParams& p = c.select_testBpc();
    p.set_bus(bus);
    p.set_seed(seed);
    if (mode == ZGCP::BpcTestMode::read::id)
        p.set_mode().select_read();
    else if (mode == ZGCP::BpcTestMode::write::id)
        p.set_mode().select_write();
    else
        p.set_mode().select_disconnect();
    p.set_timeslot_start(start);
    p.set_timeslot_length(length);
    return c;
}

std::string describeLine(ZGCP::Signal const& s)
{
    if (s.cas_isSelected()) {
        ZGCP::CasSignalling const& c = s.get_cas();
        return "cas " + std::to_string(c.get_channel().get_path().getValue()) + "/"
             + std::to_string(c.get_channel().get_timeslot().getValue()) + " rx=" + std::to_string(c.get_rx().getValue())
             + " tx=" + std::to_string(c.get_tx().getValue());
    }
    if (!s.trunkStatus_isSelected())
        return "";
    static char const* const states[] = {"normal", "lossBF", "lossCarrier", "ais", "rai", "unknown", "disabled"};
    ACP::TrunkStatus const& t = s.get_trunkStatus();
    int const state = t.get_state().asInt();
    std::string text = (t.get_type().asInt() == ACP::TrunkType::e1 ? "e1 " : "bri ") + std::to_string(t.get_trunk().getValue())
                     + " " + (state >= 0 && state <= 6 ? states[state] : std::to_string(state));
    for (auto const& [name, n] : {std::pair<char const*, ASN1::INTEGER const*>{"slips", &t.get_slips()},
                                  {"lossBF", &t.get_lossBF()},
                                  {"lossCarrier", &t.get_lossCarrier()},
                                  {"lossAIS", &t.get_lossAIS()},
                                  {"lossRAI", &t.get_lossRAI()}})
        if (n->getValue() != 0)
            text += std::string(" ") + name + "=" + std::to_string(n->getValue());
    return text;
}

std::string describeReport(ZGCP::Message const& m)
{
    if (m.get_pdu().signal_isSelected() && !m.slot_isPresent()) {
        std::string const line = describeLine(m.get_pdu().get_signal());
        if (!line.empty())
            return line;
    }
    return describeZgcp(m);
}

std::vector<std::string> exchange(ControllerClient& client, ZGCP::Command const& command, int seq,
                                  int timeoutMs)
{
    if (!client.send(zgcpCommand(command, seq)))
        return {"not sent"};
    std::string const prefix = "seq=" + std::to_string(seq) + " ";
    std::vector<std::string> out;
    for (;;) {
        ZGCP::Message m;
        std::string const text = client.receive(m, timeoutMs) ? describeReport(m) : "no message";
        bool const answer = text.rfind(prefix, 0) == 0;
        out.push_back(answer ? text.substr(prefix.size()) : text);
        if (answer || text == "no message")
            return out;
    }
}

}  // namespace testsupport
