#include "monitoring/monitoring_data_holder.h"

#include "board/path.h"
#include "tests/capture.h"
#include "tests/display_commands.h"
#include "tests/temp_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;
using testsupport::CaptureStream;
using testsupport::counterDisplay;
using testsupport::snmpSetDisplay;

// A fresh root with "/var/" (the monitoring directory is made by the holder).
class MonitoringData : public ::testing::Test {
protected:
    std::string real(std::string const& boardPath) const { return board::path(boardPath); }
    bool exists(std::string const& boardPath) const { return fs::exists(fs::symlink_status(real(boardPath))); }
    std::optional<std::string> read(std::string const& boardPath) const { return root.readFile(boardPath); }

    testsupport::TempRoot root{"/var"};
};

TEST_F(MonitoringData, SimpleValuesWriteTheirFilesWhenTheyChange)
{
    MonitoringDataHolder data;
    struct Step {
        char const* what;
        std::function<bool()> set;
        bool changed;
        char const* path;
        std::optional<std::string> content;
    } const steps[] = {
        {"dip -1", [&] { return data.setDipValue(-1); }, false, "/var/monitoring/dip", std::nullopt},
        {"dip 5", [&] { return data.setDipValue(5); }, true, "/var/monitoring/dip", "5"},
        {"dip 5 again", [&] { return data.setDipValue(5); }, false, "/var/monitoring/dip", "5"},
        {"power unknown", [&] { return data.setPowerStatus(ZGCP::POWERStatus::unknown); }, false,
         "/var/monitoring/powerstatus", std::nullopt},
        {"power standby", [&] { return data.setPowerStatus(ZGCP::POWERStatus::standby); }, true,
         "/var/monitoring/powerstatus", "1"},
        {"power unknown", [&] { return data.setPowerStatus(ZGCP::POWERStatus::unknown); }, true,
         "/var/monitoring/powerstatus", "0"},
        {"config", [&] { return data.setConfigVersion(0x1a, 0x2b); }, true, "/var/monitoring/config_version",
         "0000001a-000000000000002b"},
        {"config again", [&] { return data.setConfigVersion(0x1a, 0x2b); }, false, "/var/monitoring/config_version",
         "0000001a-000000000000002b"},
        {"temperature", [&] { return data.setTemperature("45"); }, true, "/var/monitoring/temperature", std::nullopt},
        {"temperature again", [&] { return data.setTemperature("45"); }, false, "/var/monitoring/temperature",
         std::nullopt},
    };
    for (Step const& s : steps) {
        EXPECT_EQ(s.set(), s.changed) << s.what;
        EXPECT_EQ(read(s.path), s.content) << s.what;
    }
    EXPECT_EQ(data.getTemperature(), "45");
}

TEST_F(MonitoringData, ControllerReportsWriteBoardPhoneAndCounterFiles)
{
    MonitoringDataHolder data;
    data.setDisplayStatus(testsupport::boardDisplay(2, "1.5", ZGCP::ExtBoardStatus::ready, ZGCP::ExtBoardType::fxs));
    data.setDisplayStatus(
        testsupport::boardDisplay(2, "1.6", ZGCP::ExtBoardStatus::waitBoard, ZGCP::ExtBoardType::isdn));
    data.setDisplayStatus(testsupport::boardDisplay(12, "", ZGCP::ExtBoardStatus::none, ZGCP::ExtBoardType::unknown));
    EXPECT_EQ(read("/var/monitoring/board2"), "2\n1.6\n1\n");
    ASSERT_EQ(data.GetBoardStatus().size(), 2u);
    EXPECT_EQ(std::string(data.GetBoardStatus().front().get_version()), "1.6");

    data.setDisplayStatus(testsupport::phoneDisplay(1));

    struct Count { ZGCP::DisplayParams counter; char const* path; std::optional<std::string> content; } const counts[] = {
        {counterDisplay(ZGCP::TermCounterOwner::router, std::nullopt, 5), "router", "5"},
        {counterDisplay(ZGCP::TermCounterOwner::controller, std::nullopt, 6), "controller", "6"},
        {counterDisplay(ZGCP::TermCounterOwner::server, std::nullopt, 7), "server", "7"},
        {counterDisplay(ZGCP::TermCounterOwner::extBoard, std::nullopt, 9), "board", std::nullopt},
        {counterDisplay(ZGCP::TermCounterOwner::extBoard, 3, 8), "board3", "8"},
        {counterDisplay(ZGCP::TermCounterOwner::extBoard, 4, 2), "board4", "2"},
        {counterDisplay(ZGCP::TermCounterOwner::extBoard, 3, 11), "board3", "11"},
        {counterDisplay(ZGCP::TermCounterOwner::router, 2, 10), "router", "10"},
    };
    for (Count const& c : counts) {
        data.setDisplayStatus(c.counter);
        EXPECT_EQ(read(std::string("/var/monitoring/term_cnts/") + c.path), c.content) << c.path;
    }
    // One record per owner, and per owner id for the boards, the one without an id apart.
    std::vector<std::string> records;
    for (ZGCP::TermCounter const& c : data.GetTermCounters())
        records.push_back(std::to_string(c.get_owner().asInt()) + "/" +
                          (c.ownerId_isPresent() ? std::to_string(c.get_ownerId().getValue()) : "-") + "=" +
                          std::to_string(c.get_cnt().getValue()));
    EXPECT_EQ(records, (std::vector<std::string>{"1/2=10", "2/-=6", "3/-=7", "4/-=9", "4/3=11", "4/4=2"}));

    data.ClearControllerFiles();
    EXPECT_FALSE(exists("/var/monitoring/board2"));
    EXPECT_FALSE(exists("/var/monitoring/board12"));
    EXPECT_TRUE(exists("/var/monitoring/emphone1"));
    EXPECT_TRUE(data.GetBoardStatus().empty());
}

TEST_F(MonitoringData, TheOwnControllerGetsItsDirectoryAndTheSelfLinkOnce)
{
    MonitoringDataHolder data;
    std::string const self = data.getSelfHostAddress().GetStrAddr();
    std::string const other = self == "10.9.9.9" ? "10.9.9.8" : "10.9.9.9";
    struct Report { ZGCP::DisplayParams info; bool selfChanged; std::string path, content; } const reports[] = {
        {testsupport::controllerDisplay(self, 20001, HSP::ControllerStatus::active), true, self, "2"},
        {testsupport::controllerDisplay(self, 20001, HSP::ControllerStatus::active), false, self, "2"},
        {testsupport::controllerDisplay(other, 20001, HSP::ControllerStatus::standby), false, other, "3"},
        {testsupport::controllerDisplay(self, 20001, HSP::ControllerStatus::ok), true, self, "1"},
        // One record per address, whatever the port: the daemon's own check gives none.
        {testsupport::controllerDisplay(self, 0, HSP::ControllerStatus::ok), false, self, "1"},
        {testsupport::controllerDisplay(other, 20002, HSP::ControllerStatus::ok), false, other, "1"},
        {testsupport::controllerDisplay(other, 20001, HSP::ControllerStatus::standby), false, other, "3"},
    };
    for (Report const& r : reports) {
        EXPECT_EQ(data.setControllerStatus(r.info.get_controller()), r.selfChanged) << r.path;
        EXPECT_EQ(read("/var/monitoring/controller/" + r.path + "/status"), r.content) << r.path;
    }
    EXPECT_EQ(data.getSelfControllerStatus().asInt(), HSP::ControllerStatus::ok);
    EXPECT_EQ(fs::read_symlink(real("/var/monitoring/controller/self")).string(),
              real("/var/monitoring/controller/" + self));
}

TEST_F(MonitoringData, SnmpSetItemsBecomeFilesWhenTheirNamesAreFileNames)
{
    MonitoringDataHolder data;
    data.setDisplayStatus(snmpSetDisplay("net", "gw", 3, "10.0.0.1"));
    EXPECT_EQ(read("/var/monitoring/net/3/gw"), "10.0.0.1");
    data.setDisplayStatus(snmpSetDisplay("net", "gw", 3, "10.0.0.2"));
    EXPECT_EQ(read("/var/monitoring/net/3/gw"), "10.0.0.2");
    ASSERT_EQ(data.GetSnmpCommands().get_commands().size(), 1u);
    EXPECT_EQ(std::string(data.GetSnmpCommands().get_commands()[0].get_value()), "10.0.0.2");

    struct Bad { std::string section, name; } const bad[] = {
        {"", "gw"}, {".", "gw"}, {"..", "gw"}, {"net", ".."}, {"a/b", "gw"}, {"net", "../../x"},
        {std::string("n\0t", 3), "gw"}, {"net", ""},
    };
    for (Bad const& b : bad) {
        CaptureStream log(std::clog);
        data.setDisplayStatus(snmpSetDisplay(b.section, b.name, 4, "v"));
        EXPECT_NE(log.text().find("FAIL snmp-set item <"), std::string::npos) << b.section << "/" << b.name;
        EXPECT_FALSE(exists("/var/monitoring/net/4")) << b.section << "/" << b.name;
    }
    EXPECT_FALSE(exists("/var/x"));
    // Still merged, as the controller's values.
    EXPECT_EQ(data.GetSnmpCommands().get_commands().size(), 1u + std::size(bad));
}

TEST_F(MonitoringData, FilesAreReplacedWholeInDirectoriesOpenToReaders)
{
    MonitoringDataHolder data;
    data.setDipValue(1);
    // A reader holding the old file keeps reading the old content: the new one is renamed
    // over the name, not written into the old file.
    ASSERT_EQ(::link(real("/var/monitoring/dip").c_str(), real("/var/monitoring/reader").c_str()), 0);
    data.setDipValue(2);
    EXPECT_EQ(read("/var/monitoring/dip"), "2");
    EXPECT_EQ(read("/var/monitoring/reader"), "1");
    data.setDisplayStatus(snmpSetDisplay("net", "gw", 3, "v"));
    for (char const* dir : {"/var/monitoring", "/var/monitoring/term_cnts", "/var/monitoring/net"}) {
        struct stat st;
        ASSERT_EQ(::stat(real(dir).c_str(), &st), 0) << dir;
        EXPECT_EQ(st.st_mode & 07777, 0755u) << dir;
    }
    struct stat st;
    ASSERT_EQ(::stat(real("/var/monitoring/dip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    // No temporary file is left behind.
    std::set<std::string> names;
    for (auto const& e : fs::directory_iterator(real("/var/monitoring")))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"dip", "net", "reader", "term_cnts"}));

    // A file that cannot be made is logged and the value still held.
    fs::remove_all(real("/var/monitoring"));
    CaptureStream log(std::clog);
    EXPECT_TRUE(data.setDipValue(3));
    EXPECT_EQ(log.text(), "FAIL create temporary file </var/monitoring/dip> with code=2\n");
    EXPECT_EQ(data.getDipValue(), 3);
}

TEST_F(MonitoringData, BuildingClearsTheTopLevelAndFindsTheFramers)
{
    root.writeFile("/var/monitoring/stale", "x");
    root.writeFile("/var/monitoring/term_cnts/router", "5");
    root.writeFile("/proc/driver/hdlc/peb22554/0", "");
    root.writeFile("/proc/driver/hdlc/peb22554/2", "");
    {
        MonitoringDataHolder data;
        EXPECT_FALSE(exists("/var/monitoring/stale"));
        EXPECT_EQ(read("/var/monitoring/term_cnts/router"), "5");
        std::vector<int> e1;
        for (FramerDataHolder const& f : data.GetFramers())
            e1.push_back(f.e1);
        EXPECT_EQ(e1, (std::vector<int>{1, 3}));
        EXPECT_EQ(data.GetFramers().back().path, "/proc/driver/hdlc/peb22554/2");
        data.setDipValue(1);
    }
    EXPECT_FALSE(exists("/var/monitoring/dip"));
    EXPECT_TRUE(exists("/var/monitoring/term_cnts/router"));
}

}  // namespace
