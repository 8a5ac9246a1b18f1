// The daemon's start-up, signals and shut-down, seen from outside: the built `server`
// run as a separate process under a temporary board root.
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/syslog_receiver.h"

#include <dirent.h>
#include <sys/resource.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using ::testing::HasSubstr;
using ::testing::Not;

std::string const tag = GW_VERSION_TAG;

std::string const usageText =
    "Usage:\n"
    " vestrand -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

std::string startLine(int port) { return "Starting server [" + tag + "], port=" + std::to_string(port) + "\n"; }

// Whether a controller on the port has its ping answered.
bool answersPing(int port)
{
    testsupport::ControllerClient controller(testsupport::TcpClient::Waiting::Socket);
    // The power status signalled to every controller that connects.
    controller.skipSignal(ZGCP::Signal::power::id);
    return controller.connect(std::uint16_t(port), DaemonLauncher::kTimeout) &&
           controller.sendFrame(testsupport::hexBytes("06 00")) && controller.receiveText() == "success";
}

struct Server : DaemonLauncher {
    Server() : DaemonLauncher(GW_SERVER_BINARY) {}
    explicit Server(std::vector<char const*> const& folders) : DaemonLauncher(GW_SERVER_BINARY, folders) {}

    // Starts it in the foreground on its port and waits for the start line.
    bool serve(std::vector<std::string> args = {})
    {
        args.push_back(portOption());
        return start(args) && waitForOut(startLine(port()));
    }
};

// Whether text is a syslog message of the priority: "<priority>", the local time as
// "Mmm dd hh:mm:ss " (the day padded with a blank), then the body and one NUL.
bool isSyslogMessage(std::string const& text, int priority, std::string const& body)
{
    std::string const head = "<" + std::to_string(priority) + ">";
    if (text.rfind(head, 0) != 0 || text.size() != head.size() + 16 + body.size() + 1)
        return false;
    std::string const stamp = text.substr(head.size(), 16);
    //                         Mmm dd hh:mm:ss_
    std::string const shape = "Aaa d9 99:99:99 ";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        char const c = stamp[i];
        bool ok = shape[i] == 'A'   ? (c >= 'A' && c <= 'Z')
                  : shape[i] == 'a' ? (c >= 'a' && c <= 'z')
                  : shape[i] == 'd' ? (c == ' ' || (c >= '1' && c <= '3'))
                  : shape[i] == '9' ? (c >= '0' && c <= '9')
                                    : c == shape[i];
        if (!ok)
            return false;
    }
    return text.compare(head.size() + 16, body.size(), body) == 0 && text.back() == '\0';
}

// The descriptors of a process (3 and up, or all) that a child program would inherit.
std::vector<std::string> inheritable(pid_t pid, int from)
{
    std::vector<std::string> found;
    std::string const dir = "/proc/" + std::to_string(pid) + "/fdinfo";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return {"cannot read " + dir};
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.' || std::stoi(e->d_name) < from)
            continue;
        std::ifstream info(dir + "/" + e->d_name);
        std::string key, flags;
        while (info >> key >> flags && key != "flags:") {
        }
        // A descriptor closed since the listing (the daemon keeps working) has none left.
        if (key != "flags:")
            continue;
        if ((std::stol(flags, nullptr, 8) & 02000000) == 0)
            found.push_back(std::string(e->d_name) + " flags " + flags);
    }
    ::closedir(d);
    return found;
}

TEST(StartUp, HelpPrintsTheUsageTextAndExitsWithZero)
{
    for (std::string option : {"-h", "--help", "--he"}) {
        Server s;
        EXPECT_EQ(s.run({option}), 0) << option;
        EXPECT_EQ(s.out(), usageText) << option;
        EXPECT_EQ(s.err(), "") << option;
    }
}

TEST(StartUp, BadOptionsPrintTheUsageTextAndExitWithTwo)
{
    struct Case {
        std::vector<std::string> args;
        std::string complaint;
    } const cases[] = {
        {{"-x"}, "invalid option -- 'x'"},
        {{"--bogus"}, "unrecognized option '--bogus'"},
        {{"-p", "5"}, "invalid option -- 'p'"},
        {{"-p5"}, "invalid option -- 'p'"},
        {{"--port"}, "option '--port' requires an argument"},
        {{"--d"}, "option '--d' is ambiguous"},
        // Acted on before the bad option is read.
        {{"--disable-clock", "-x"}, "clkctl: clock control disabled.\n"},
    };
    for (Case const& c : cases) {
        Server s;
        EXPECT_EQ(s.run(c.args), 2) << c.args[0];
        EXPECT_EQ(s.out(), usageText) << c.args[0];
        EXPECT_THAT(s.err(), HasSubstr(c.complaint));
        EXPECT_FALSE(s.exists("/var/run/server.pid"));
    }
}

TEST(StartUp, APortOutsideOneTo65535IsRefusedLikeABadOption)
{
    for (std::string value : {"abc", "0", "65536", "-1", "5x", "", " 5", "+5", "99999999999999999999"}) {
        Server s;
        EXPECT_EQ(s.run({"--port=" + value}), 2) << value;
        EXPECT_EQ(s.out(), usageText) << value;
        EXPECT_THAT(s.err(), HasSubstr("invalid port '" + value + "'"));
    }
    Server s;
    EXPECT_EQ(s.run({"--port", "70000"}), 2);
    EXPECT_EQ(s.out(), usageText);
}

TEST(StartUp, ThePortIsTakenAfterAnEqualsSignOrAsTheNextArgument)
{
    Server joined;
    ASSERT_TRUE(joined.start({"--port=" + std::to_string(joined.port())}));
    EXPECT_TRUE(joined.waitForOut(startLine(joined.port())));
    EXPECT_TRUE(answersPing(joined.port()));
    EXPECT_EQ(joined.stop(), 0);

    Server apart;
    ASSERT_TRUE(apart.start({"--port", std::to_string(apart.port())}));
    EXPECT_TRUE(apart.waitForOut(startLine(apart.port())));
    EXPECT_TRUE(answersPing(apart.port()));
    EXPECT_EQ(apart.stop(), 0);

    Server prefix;  // an unambiguous prefix of a long option
    ASSERT_TRUE(prefix.start({"--po", std::to_string(prefix.port())}));
    EXPECT_TRUE(prefix.waitForOut(startLine(prefix.port())));
    EXPECT_TRUE(answersPing(prefix.port()));
    EXPECT_EQ(prefix.stop(), 0);
}

TEST(StartUp, VersionPrintsTheTagAndExitsWithTwoUnlessHelpOrABadOptionWins)
{
    Server plain;
    EXPECT_EQ(plain.run({"--version"}), 2);
    EXPECT_EQ(plain.out(), "server version: " + tag + "\n");

    Server daemon;
    EXPECT_EQ(daemon.run({"-D", "--version"}), 2);
    EXPECT_EQ(daemon.out(), "server version: " + tag + "\n");
    EXPECT_FALSE(daemon.exists("/var/run/server.pid"));

    Server help;
    EXPECT_EQ(help.run({"--version", "-h"}), 0);
    EXPECT_EQ(help.out(), usageText);

    Server bad;
    EXPECT_EQ(bad.run({"--version", "-x"}), 2);
    EXPECT_EQ(bad.out(), usageText);
}

TEST(StartUp, WithoutArgumentsItServesPort20001InTheForeground)
{
    Server s;
    ASSERT_TRUE(s.start({}));
    // The soft limit of open files raised to the hard one the daemon inherited.
    rlimit own{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
    std::string const limit =
        "open files limit: " + (own.rlim_max == RLIM_INFINITY ? std::string("unlimited") : std::to_string(own.rlim_max)) + "\n";
    ASSERT_TRUE(s.waitForOut(startLine(20001) + limit));
    EXPECT_EQ(s.out(), startLine(20001) + limit);
    // The pid file holds the pid without an end of line.
    EXPECT_TRUE(s.waitFor([&] { return s.readFile("/var/run/server.pid") == std::to_string(s.pid()); }));
    EXPECT_EQ(s.stop(), 0);
    EXPECT_FALSE(s.exists("/var/run/server.pid"));
    EXPECT_THAT(s.err(), HasSubstr("Mux: terminating...\n"));
    // The switch was built (the real board's device is not under the temporary root).
    EXPECT_THAT(s.err(), HasSubstr("hwMux: init\nhwMux: can't open device: No such file or directory\n"));
}

TEST(StartUp, SigtermAndSigintEndTheLoopAndRemoveThePidFile)
{
    for (int sig : {SIGTERM, SIGINT}) {
        Server s;
        ASSERT_TRUE(s.serve());
        ASSERT_TRUE(s.dumpStatus());
        EXPECT_TRUE(s.exists("/var/run/server.pid"));
        ASSERT_TRUE(s.signal(sig));
        EXPECT_EQ(s.wait(), 0) << sig;
        EXPECT_FALSE(s.exists("/var/run/server.pid")) << sig;
    }
}

TEST(StartUp, ASigtermDuringStartUpIsNotLost)
{
    // Sent as soon as the start line is out, before the loop runs.
    Server s;
    ASSERT_TRUE(s.serve());
    EXPECT_EQ(s.stop(), 0);
    EXPECT_FALSE(s.exists("/var/run/server.pid"));
}

TEST(StartUp, Sigusr2ReplacesTheStatusDump)
{
    // Asked for as soon as the start line is out, perhaps before the loop's first turn: the
    // dump lists the descriptors all the same.
    Server s;
    ASSERT_TRUE(s.serve());
    // The loop serves its handlers (a signal before its first pass dumps an empty table).
    ASSERT_TRUE(answersPing(s.port()));
    ASSERT_TRUE(s.dumpStatus());
    std::string const dump = s.readFile("/var/log/server-status");
    EXPECT_EQ(dump.rfind("server status dump\nversion : " + tag + "\n", 0), 0u) << dump;
    EXPECT_THAT(dump, HasSubstr("dpc transition measurement (min/max/cur/counter): "));
    EXPECT_THAT(dump, HasSubstr("ChildWaitService::OnChildEvent"));

    // An old dump, longer than the new one, is replaced, not overwritten in part.
    s.writeFile("/var/log/server-status", std::string(100000, '@'));
    ASSERT_TRUE(s.signal(SIGUSR2));
    EXPECT_TRUE(s.waitFor([&] {
        std::string d = s.readFile("/var/log/server-status");
        return d.rfind("server status dump\n", 0) == 0 && d.find('@') == std::string::npos;
    }));
    EXPECT_EQ(s.stop(), 0);
}

TEST(StartUp, AStatusDumpThatCannotBeWrittenIsReported)
{
    Server s({"/var/run"});  // no /var/log
    ASSERT_TRUE(s.serve());
    ASSERT_TRUE(s.signal(SIGUSR2));
    EXPECT_TRUE(s.waitForErr("dump status error\n"));
    ASSERT_TRUE(s.signal(SIGUSR2));  // tried again on the next signal
    EXPECT_TRUE(s.waitFor([&] {
        std::string e = s.err();
        return e.find("dump status error\n") != e.rfind("dump status error\n");
    }));
    EXPECT_EQ(s.stop(), 0);
}

TEST(StartUp, SighupIsActedOnAtOnce)
{
    // No watchdog device and no timer: only the wake-up ends the loop's wait.
    Server s;
    ASSERT_TRUE(s.serve());
    ASSERT_TRUE(s.dumpStatus());
    EXPECT_THAT(s.err(), Not(HasSubstr("update hardware resources")));
    ASSERT_TRUE(s.signal(SIGHUP));
    EXPECT_TRUE(s.waitForErr("update hardware resources\n"));
    EXPECT_EQ(s.stop(), 0);
}

TEST(StartUp, APidFileThatCannotBeWrittenGivesOneLine)
{
    Server s({"/var/log"});  // no /var/run
    ASSERT_TRUE(s.serve());
    ASSERT_TRUE(s.dumpStatus());
    std::string const line = "cannot write pid file /var/run/server.pid: No such file or directory\n";
    EXPECT_THAT(s.err(), HasSubstr(line));
    EXPECT_EQ(s.err().find(line), s.err().rfind(line));
    EXPECT_EQ(s.stop(), 0);
    EXPECT_FALSE(s.exists("/var/run"));
}

TEST(StartUp, TheTracesSectionOfTheConfigurationFileIsRead)
{
    Server s;
    s.writeFile("/usr/local/etc/server.conf", "[traces]\nsignalling.hdlc = maybe\nmonitoring.internal = yes\n");
    ASSERT_TRUE(s.serve());
    EXPECT_TRUE(s.waitForErr("traces: optional key \"signalling.hdlc\" has invalid value=\"maybe\", line 2. Key will be ignored.\n"));
    EXPECT_EQ(s.stop(), 0);
}

TEST(StartUp, NoDescriptorOfTheDaemonIsInheritedByAChild)
{
    Server s;
    ASSERT_TRUE(s.serve());
    ASSERT_TRUE(s.dumpStatus());
    EXPECT_THAT(inheritable(s.pid(), 3), ::testing::IsEmpty());
    EXPECT_EQ(s.stop(), 0);
}

TEST(StartUp, DaemonModeDetachesWritesThePidFileAndLogsThroughSyslog)
{
    Server s;
    testsupport::SyslogReceiver syslog(s.path("/dev/log"));
    ASSERT_TRUE(syslog.bound());
    ASSERT_TRUE(s.start({"-D", s.portOption()}));
    pid_t const foreground = s.pid();
    int foregroundExit = -1;
    ASSERT_TRUE(s.follow(foregroundExit));
    EXPECT_EQ(foregroundExit, 0);
    EXPECT_NE(s.pid(), foreground);
    EXPECT_EQ(s.out(), "");

    // One datagram per message: priority 29 (daemon, notice), the time stamp, the ident
    // "vtd-" and the tag, the line and a NUL.
    std::optional<std::string> start = syslog.receiveHolding("Starting server", DaemonLauncher::kTimeout);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->find('\0'), start->size() - 1) << *start;
    EXPECT_TRUE(isSyslogMessage(*start, 29, "vtd-" + tag + ": " + startLine(s.port()).substr(0, startLine(s.port()).size() - 1)))
        << *start;
    EXPECT_EQ(s.readFile("/var/run/server.pid"), std::to_string(s.pid()));

    // The log stream is priority 31 (daemon, debug); the syslog socket stands on 1 and 2.
    ASSERT_TRUE(s.signal(SIGHUP));
    std::optional<std::string> hup = syslog.receiveHolding("update hardware resources", DaemonLauncher::kTimeout);
    ASSERT_TRUE(hup);
    EXPECT_EQ(hup->rfind("<31>", 0), 0u) << *hup;
    EXPECT_THAT(inheritable(s.pid(), 3), ::testing::IsEmpty());

    ASSERT_TRUE(s.dumpStatus());
    // Read while it stops: a daemon whose syslog socket is full waits for its reader.
    ASSERT_TRUE(s.signal(SIGTERM));
    EXPECT_TRUE(syslog.receiveHolding("Mux: terminating...", DaemonLauncher::kTimeout));
    EXPECT_EQ(s.wait(), 0);
    EXPECT_FALSE(s.exists("/var/run/server.pid"));
}

}  // namespace
