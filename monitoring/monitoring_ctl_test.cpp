#include "monitoring/monitoring_ctl.h"

#include "base/clock.h"
#include "base/ini_file.h"
#include "base/version.h"
#include "board/board.h"
#include "board/path.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "control/acceptor_net.h"
#include "runtime/find_proc.h"
#include "tests/capture.h"
#include "tests/controller_client.h"
#include "tests/display_commands.h"
#include "tests/fake_agent.h"
#include "tests/loop_pump.h"
#include "tests/temp_root.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::CaptureStream;
using testsupport::FakeAgent;
using Items = std::map<std::string, std::string>;

// A monitoring controller on the simulated "/dev/hal" under a fresh root, on the test
// clock, with one agent link to a fake agent.
class Monitoring : public ::testing::Test {
protected:
    ~Monitoring() override
    {
        ctl.reset();
        // The configuration check moves the working directory into the root.
        EXPECT_EQ(::chdir(cwd.c_str()), 0);
    }

    // The one item pushed; none when the value is null.
    static Items item(std::string const& key, char const* value) { return value ? Items{{key, value}} : Items(); }

    // Builds the controller, connects the agent and takes the resend.
    void start()
    {
        ctl = std::make_unique<MonitoringCtl>();
        IniFile::File file;
        std::istringstream("[snmpagent]\nhost=127.0.0.1:" + std::to_string(agent.port()) + "\nname=qelt\n") >> file;
        ctl->Configure(file);
        ASSERT_TRUE(agent.accept());
        pushed();
    }

    // Takes the messages that arrive now: each in short without uniq numbers into `seen`,
    // their items into `items`. The agent answers pings, as a live one does.
    void drain()
    {
        MON::Message m;
        while (agent.receive(m, 100)) {
            std::string const text = testsupport::describeMon(m, false);
            if (text == "ping")
                agent.send(pong);
            else
                seen.push_back(text);
            testsupport::collectItems(m, items);
        }
    }
    // The messages since the last call of sets() or pushed().
    std::vector<std::string> sets()
    {
        drain();
        items.clear();
        std::vector<std::string> out;
        out.swap(seen);
        return out;
    }
    // Their items, by section/name/index.
    Items pushed()
    {
        drain();
        seen.clear();
        Items out;
        out.swap(items);
        return out;
    }
    // Moves the clock on, answering the pings on the way.
    void run(std::uint32_t ms)
    {
        for (std::uint32_t step; ms > 0; ms -= step) {
            step = std::min(ms, SnmpAgentInstance::ping_ms);
            testsupport::advance(clock, step);
            drain();
        }
    }

    std::string cwd = fs::current_path().string();
    CaptureStream err{std::cerr};
    CaptureStream log{std::clog};
    Mux::TestClock clock;
    testsupport::TempRoot root{"/var", "/usr/local/etc", "/proc/voice", "/proc/driver/hdlc/peb22554"};
    board::sim::SimBoard sim;
    board::sim::HalModel& hal = sim.add<board::sim::HalModel>();
    board::ScopedBoard installed{sim};
    FakeAgent agent{testsupport::TcpClient::Waiting::Loop};
    std::unique_ptr<MonitoringCtl> ctl;
    Items items;
    std::vector<std::string> seen;
    MON::Message pong = [] {
        MON::Message m;
        m.set_pdu().select_response().select_ping().select_success();
        return m;
    }();
};

TEST_F(Monitoring, TimersPollTheBoardAndPushWhatChanged)
{
    root.writeFile("/var/version", "B1.0\n");
    root.writeFile("/var/u-boot-version", "");
    root.writeFile("/var/fpga-version", "F7");
    root.writeFile("/proc/temperature", "45 C\n");
    root.writeFile("/usr/local/etc/config.0000000a.00000000000000ff", "");
    root.writeFile("/proc/driver/hdlc/peb22554/0", "Current state           : No Carrier\n");
    start();

    run(MonitoringCtl::first_background_ms - 1);
    EXPECT_EQ(pushed(), Items());
    run(1);
    EXPECT_EQ(pushed(), (Items{
                            {"statusGeneral/sgBuildVersion/0", "B1.0\n"}, {"statusGeneral/sgFPGAVersion/0", "F7"},
                            {"gatewayCommon/gatewayConfigVersion/0", "10"}, {"gatewayCommon/temperature/0", "45"},
                            {"e1Table/e1Connected/1", "0"}, {"e1Table/e1StatusDsc/1", "No Carrier"},
                            {"e1Table/e1SignalLoss/1", "1"}, {"e1Table/e1FrameAlignLoss/1", "1"},
                            {"e1Table/e1NegSlipCount/1", "0"}, {"e1Table/e1PosSlipCount/1", "0"},
                        }));
    EXPECT_EQ(root.readFile("/var/monitoring/config_version"), "0000000a-00000000000000ff");
    EXPECT_EQ(fs::current_path(), fs::path(board::path("/usr/local/etc/")).parent_path());

    run(MonitoringCtl::power_ms - MonitoringCtl::first_background_ms);
    Items power = pushed();
    EXPECT_EQ(power["gatewayCommon/powerStatus/0"], "2");
    EXPECT_EQ(power["gatewayCommon/gatewayDip/0"], "0");

    run(MonitoringCtl::controller_ms - MonitoringCtl::power_ms);
    std::string const controllerStatus = find_proc_by_name("controller", -1) > 0 ? "4" : "5";
    EXPECT_EQ(pushed()["gatewayCommon/controllerStatus/0"], controllerStatus);

    // A minute after the first background run, the next one.
    root.writeFile("/var/board-version", "R2");
    run(MonitoringCtl::background_ms - 1 - (MonitoringCtl::controller_ms - MonitoringCtl::first_background_ms));
    EXPECT_EQ(pushed().count("statusGeneral/sgBoardVersion/0"), 0u);
    run(1);
    EXPECT_EQ(pushed()["statusGeneral/sgBoardVersion/0"], "R2");
}

TEST_F(Monitoring, ConfigurationVersionsComeFromTheNamesOfConfigFiles)
{
    start();
    struct Case { std::vector<std::string> files, dirs, sets; } const cases[] = {
        {{"config.2save.tar.bz2", "config.1234", "server.conf"}, {"config.00000003.0000000000000003"}, {}},
        {{"config.0000000a.00000000000000ff"}, {}, {"set gatewayCommon/gatewayConfigVersion/0=10",
                                                    "set gatewayCommon/gatewayConfigVersion/0=10"}},
        {{"config.0000000a.00000000000000ff"}, {}, {}},
        {{"config.zz00000b.00000000000000ff"}, {}, {"set gatewayCommon/gatewayConfigVersion/0=0",
                                                    "set gatewayCommon/gatewayConfigVersion/0=0"}},
    };
    for (Case const& c : cases) {
        fs::remove_all(board::path("/usr/local/etc"));
        for (std::string const& f : c.files)
            root.writeFile("/usr/local/etc/" + f, "");
        for (std::string const& d : c.dirs)
            fs::create_directories(board::path("/usr/local/etc/" + d));
        ctl->doConfigCheck();
        EXPECT_EQ(sets(), c.sets) << c.files.front();
    }
    // Several names: each is stored in turn and pushed, at every check.
    fs::remove_all(board::path("/usr/local/etc"));
    root.writeFile("/usr/local/etc/config.00000001.0000000000000001", "");
    root.writeFile("/usr/local/etc/config.00000002.0000000000000002", "");
    for (int run = 0; run < 2; ++run) {
        ctl->doConfigCheck();
        std::vector<std::string> const both = sets();
        ASSERT_EQ(both.size(), 2u);
        EXPECT_EQ(both[0].size(), std::string("set gatewayCommon/gatewayConfigVersion/0=1 "
                                              "gatewayCommon/gatewayConfigVersion/0=2").size());
    }
}

TEST_F(Monitoring, TemperatureAndDriverBuildAreCutFromTheirFirstLine)
{
    start();
    struct Case { char const* line; char const* value; };
    Case const temperatures[] = {{"45 C\n", "45"}, {" 45\n", ""}, {"47", "47"}, {"47\tC", nullptr}};
    for (Case const& t : temperatures) {
        root.writeFile("/proc/temperature", t.line);
        ctl->doTemperatureCheck();
        EXPECT_EQ(pushed(), item("gatewayCommon/temperature/0", t.value)) << t.line;
    }
    fs::remove(board::path("/proc/temperature"));
    ctl->doTemperatureCheck();
    EXPECT_EQ(ctl->data().getTemperature(), "47");

    // A null line: no file.
    Case const builds[] = {{nullptr, nullptr}, {"", nullptr}, {"voice drv\n", "none"},
                           {"voice drv 1.2\n", "drv [1.2]"}, {"voice  drv 1.2 2009\n", "drv [1.2 2009]"}};
    for (Case const& b : builds) {
        if (b.line)
            root.writeFile("/proc/voice/version", b.line);
        ctl->sendSnmpDriverBuild();
        EXPECT_EQ(pushed(), item("gatewayCommon/driverBuild/0", b.value)) << (b.line ? b.line : "no file");
    }
}

TEST_F(Monitoring, PowerCodesAreSignalledToTheControllerAndPushed)
{
    start();
    CtrlSrv::Server server;
    server.Bind(ctl.get());
    std::uint16_t const port = testsupport::freePort();
    ASSERT_TRUE(server.Activate(new Control::AcceptorNet(port, false)));
    testsupport::ControllerClient controller;
    // A connection always gets the power status, after the check that may change it: here
    // the check's signal of the change, then the connection's own. (The signal of a later
    // change is checked end to end.)
    ASSERT_TRUE(controller.connect(port));
    for (int signal = 0; signal < 2; ++signal) {
        ZGCP::Message m;
        ASSERT_TRUE(controller.receive(m));
        ASSERT_TRUE(m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected());
        EXPECT_EQ(m.get_pdu().get_signal().get_power().asInt(), ZGCP::POWERStatus::main);
    }
    EXPECT_EQ(pushed()["gatewayCommon/powerStatus/0"], "2");

    struct Code { int code; char const* status; } const codes[] = {{0, "3"}, {1, "1"}, {3, "3"},
                                                                   {2, "2"}, {7, "0"}, {255, nullptr}};
    for (Code const& c : codes) {
        hal.boardBytes().setPowerCode(std::uint8_t(c.code));
        ctl->doPowerCheck();
        EXPECT_EQ(pushed(), item("gatewayCommon/powerStatus/0", c.status)) << c.code;
    }
    EXPECT_EQ(root.readFile("/var/monitoring/powerstatus"), "0");

    hal.boardBytes().setDip(0x5A);
    ctl->doDipCheck();
    EXPECT_EQ(pushed(), (Items{{"gatewayCommon/gatewayDip/0", "90"}}));
    EXPECT_EQ(root.readFile("/var/monitoring/dip"), "90");
}

TEST_F(Monitoring, DisplayedFramerStatesLightTheFrontLeds)
{
    start();
    struct Step { unsigned e1; bool line, on; unsigned leds; } const steps[] = {
        {2, true, true, 0x30}, {2, true, false, 0x00}, {0, false, false, 0x01}, {0, false, true, 0x00},
        {2, true, true, 0x30}, {2, false, true, 0x20}, {2, true, true, 0x20},  {3, false, false, 0x60},
    };
    for (Step const& s : steps) {
        ctl->OnDisplayCMD(testsupport::framerDisplay(s.e1, s.line, s.on));
        EXPECT_EQ(unsigned(hal.boardBytes().leds()), s.leds) << s.e1 << " " << s.line << " " << s.on;
    }
    // All off when the controller goes.
    ctl.reset();
    EXPECT_EQ(hal.boardBytes().leds(), 0u);
}

TEST_F(Monitoring, DisplayReportsArePushedAndEveryConnectionGetsOneResend)
{
    start();
    // (The board, phone and controller items are checked end to end.)
    EXPECT_TRUE(ctl->OnCommand(
        testsupport::displayCommand(testsupport::counterDisplay(ZGCP::TermCounterOwner::router, std::nullopt, 5))));
    EXPECT_FALSE(ctl->OnCommand(testsupport::pingCommand()));
    // Every stored counter again; none for a board counter without its board, which keeps
    // a record apart from the boards that have one.
    ctl->OnDisplayCMD(testsupport::counterDisplay(ZGCP::TermCounterOwner::extBoard, std::nullopt, 9));
    ctl->OnDisplayCMD(testsupport::counterDisplay(ZGCP::TermCounterOwner::extBoard, 3, 8));
    EXPECT_EQ(sets(), (std::vector<std::string>{
                          "set gatewayTermCounters/routerTermCnt/0=5 gatewayTermCounters/routerTermCnt/0=5 "
                          "gatewayTermCounters/routerTermCnt/0=5 extBoardTermCntTable/extBoardTermCnt/3=8",
                          "set gatewayTermCounters/routerTermCnt/0=5 gatewayTermCounters/routerTermCnt/0=5 "
                          "gatewayTermCounters/routerTermCnt/0=5"}));
    ctl->OnDisplayCMD(testsupport::snmpSetDisplay("net", "gw", 3, "10.0.0.1", 77));
    ctl->OnDisplayCMD(testsupport::trapReceiversDisplay({"10.1.1.1"}));
    EXPECT_EQ(sets(), (std::vector<std::string>{"set net/gw/3=10.0.0.1", "trapsinks 10.1.1.1"}));

    // Connections before the resend runs give one resend: trap receivers and the stored
    // set commands at once, then the items in two batches.
    ctl->OnSnmpAgentConnect("qelt");
    ctl->OnSnmpAgentConnect("qelt");
    drain();
    std::vector<std::string> const resend = seen;
    Items const all = pushed();
    ASSERT_EQ(resend.size(), 4u);
    EXPECT_EQ(resend[0], "trapsinks 10.1.1.1");
    EXPECT_EQ(resend[1], "set net/gw/3=10.0.0.1");
    EXPECT_NE(resend[2].find("gatewayCommon/temperature/0="), std::string::npos);
    EXPECT_EQ(resend[3].find("gatewayCommon/temperature/0="), std::string::npos);
    EXPECT_EQ(all.at("extBoardTermCntTable/extBoardTermCnt/3"), "8");
    EXPECT_EQ(all.at("gatewayCommon/softwareBuild/0"), Version::current.tag());
}

}  // namespace
