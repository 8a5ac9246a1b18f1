#include "radio/radio_control.h"

#include "radio/radio_test_support.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace RTPSignalling {
namespace {

using Lines = std::vector<std::string>;

// The text with every digit written as 9.
std::string shape(std::string text)
{
    for (char& c : text)
        if (c >= '0' && c <= '9')
            c = '9';
    return text;
}

std::string const kTime = "9999-99-99 99:99:99.999999";

rtp_ext_init_params const kInit{0x1337, 0, {1, 2, 3, 4}};
rtp_attach_session_params const kRtpAttach{17, 300};

// A protocol class's stand-in: reads one payload per read event (or drains them all), and
// records the status ticks, answering each with a chosen delay.
class TestControl : public RadioControl {
public:
    using RadioControl::RadioControl;

    Lines reads;  // "payload@sender/ssrc"
    int events = 0;
    bool drain = false;
    DeviceRead last;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ticks;  // now, interval
    std::optional<std::uint32_t> delay;

    void OnRtpExtEvent(int fd, short revents) override
    {
        RadioControl::OnRtpExtEvent(fd, revents);
        if (!(revents & POLLIN))
            return;
        ++events;
        do {
            std::uint8_t buf[kMaxPayload];
            last = ReadPayload(revents, buf, sizeof buf);
            if (!last.data())
                return;
            std::size_t const n = last.size;
            in_addr a{};
            a.s_addr = Source().addr;
            reads.push_back(radiotest::text(radiotest::Bytes(buf, buf + n)) + "@" + ::inet_ntoa(a) + "/" +
                            std::to_string(Source().ssrc));
        } while (drain);
    }

    std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override
    {
        ticks.emplace_back(now, interval);
        return delay ? *delay : RadioControl::ProcessRadioStatus(now, interval);
    }

    ssize_t write(std::string const& payload)
    {
        radiotest::Bytes const octets = radiotest::hex(payload);
        return WritePayload(octets.data(), octets.size());
    }
};

struct RadioControlTest : radiotest::ControlTest {
    std::uint64_t mark = sim.journal().next();

    // What the control did to the board since the last call, without sequence numbers and
    // descriptor numbers.
    Lines done()
    {
        Lines out;
        for (auto const& e : sim.journal().since(mark)) {
            std::string t = e.text();
            t = t.substr(t.find(' ') + 1);
            if (e.kind == board::sim::JournalEntry::Kind::open && !e.failed())
                t = t.substr(0, t.find(" -> "));
            out.push_back(t);
        }
        mark = sim.journal().next();
        return out;
    }
    // A begun session on a new open of the RTP device, out of the journal.
    Fd rtpSession()
    {
        Fd fd(sim.open(rtp::kPath, O_RDONLY | O_CLOEXEC));
        rtp_connection_params params{};
        EXPECT_EQ(sim.ioctl(fd.lowlevel_fd(), rtp::kBeginSession, &params), 0);
        done();
        return fd;
    }
    // A control of each type: on the extension device attached, on the RTP device, and on
    // the extension device alone.
    std::unique_ptr<TestControl> attached() { return std::make_unique<TestControl>(5, kAttach, kInit); }
    std::unique_ptr<TestControl> onRtp() { return std::make_unique<TestControl>(5, rtpSession(), kRtpAttach); }
    std::unique_ptr<TestControl> extOnly() { return std::make_unique<TestControl>(kInit); }
};

TEST_F(RadioControlTest, EachTypeStartsAndStopsItsDeviceSession)
{
    std::string const open = "open /dev/rtp_ext rdwr,nonblock,cloexec";
    std::string const init = "ioctl /dev/rtp_ext init 4919 1 2 3 4 -> 0";
    std::string const attach = "ioctl /dev/rtp_ext attach 12 4242 -> 0";
    std::string const rtpAttach = "ioctl /dev/rtp attach 17 300 -> 0";
    struct {
        char const* path;  // the device the control holds
        std::function<std::unique_ptr<TestControl>()> make;
        char const* state;  // in the device's dump
        Lines started, stopped, restarted;
        bool open;
    } const cases[] = {
        {rtp_ext::kPath, [this] { return attached(); }, "etype=0x1337 params=1/2/3/4 attach=12/4242 filter=-",
         {open, init, attach}, {"ioctl /dev/rtp_ext detach -> 0", "close /dev/rtp_ext"}, {open, init, attach}, true},
        {rtp_ext::kPath, [this] { return extOnly(); }, "etype=0x1337 params=1/2/3/4 attach=-", {open, init}, {}, {}, true},
        {rtp::kPath, [this] { return onRtp(); }, " ext=17/300", {rtpAttach}, {}, {rtpAttach}, false},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.state);
        auto control = c.make();
        EXPECT_EQ(done(), c.started);
        EXPECT_EQ(control->extensionOpen(), c.open);
        board::sim::Device const& device = *sim.device(c.path);
        EXPECT_NE(device.dump().find(c.state), std::string::npos) << device.dump();
        EXPECT_TRUE(control->RtpExtStop());
        EXPECT_EQ(done(), c.stopped);
        EXPECT_TRUE(control->RtpExtStart(false));
        EXPECT_EQ(done(), c.restarted);
        control.reset();
        sim.service();
        EXPECT_TRUE(device.opens().empty());
        done();
    }
    EXPECT_EQ(errors.text(), "");
}

TEST_F(RadioControlTest, AFailedStartIsLoggedWithTheControlsPrefixAndKeepsNoDescriptor)
{
    struct {
        char const* path;
        char const* fail;  // "open" or a request name
        std::function<std::unique_ptr<TestControl>()> make;
        char const* prefix;
        char const* line;
        std::size_t requests;  // journal entries: the open, the requests, the close
    } const cases[] = {
        {rtp_ext::kPath, "open", [this] { return attached(); }, "rtp_ext[5] ", "create rtp_ext session fail !!!", 1},
        {rtp_ext::kPath, "attach", [this] { return attached(); }, "rtp_ext[5] ", "attach rtp_ext session fail !!!", 4},
        {rtp_ext::kPath, "open", [this] { return extOnly(); }, "rtp_ext ", "create rtp_ext session fail !!!", 1},
        {rtp::kPath, "attach", [this] { return onRtp(); }, "rtp_ext[5] ", "attach rtp session fail !!!", 1},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.line);
        if (std::string(c.fail) == "open")
            sim.failOpen(c.path, EIO);
        else
            sim.failRequest(c.path, sim.device(c.path)->find(c.fail)->number, EIO);
        testsupport::CaptureStream failures{std::cerr};
        auto control = c.make();
        sim.service();
        EXPECT_FALSE(control->extensionOpen());
        EXPECT_TRUE(ext.sessions().empty());
        EXPECT_EQ(done().size(), c.requests);
        EXPECT_EQ(failures.text().rfind(c.prefix, 0), 0u) << failures.text();
        EXPECT_EQ(shape(failures.text()), shape(c.prefix) + kTime + ": " + c.line + "\n");
        EXPECT_EQ(control->write("00"), -1);
    }
}

TEST_F(RadioControlTest, OneReadEventPerPayloadAndADrainEndsWhenNothingIsLeft)
{
    TestControl control(5, kAttach, kInit);
    deliver("10.0.0.1", 7, "01");
    deliver("10.0.0.2", 8, "02 02");
    deliver("10.0.0.1", 7, "03");
    testsupport::settle();
    EXPECT_EQ(control.events, 3);
    EXPECT_EQ(control.reads, Lines({"01@10.0.0.1/7", "02 02@10.0.0.2/8", "03@10.0.0.1/7"}));
    EXPECT_EQ(log.text(), "") << "nothing logged with debug off";

    control.drain = true;
    control.SetDebug(true);
    deliver("10.0.0.3", 9, "04");
    deliver("10.0.0.3", 9, "05");
    testsupport::settle();
    EXPECT_EQ(control.events, 4);
    EXPECT_EQ(control.reads.size(), 5u);
    EXPECT_EQ(control.last.result, DeviceRead::Result::nothing);
    EXPECT_EQ(shape(log.text()), "rtp_ext[9] " + kTime + ": receive extension packet(s)!\n");

    EXPECT_EQ(control.write("0a 0b"), 2);
    EXPECT_EQ(written(), Lines({"0a 0b"}));
}

TEST_F(RadioControlTest, TheSourceFilterChangesOnlyWhenItMust)
{
    TestControl control(5, kAttach, kInit);
    done();
    in_addr const a{::inet_addr("10.0.0.1")}, b{::inet_addr("10.0.0.2")};
    std::string const setA = "ioctl /dev/rtp_ext set-filter " + std::to_string(a.s_addr) + " 0 -> 0";
    std::string const setB = "ioctl /dev/rtp_ext set-filter " + std::to_string(b.s_addr) + " 0 -> 0";
    std::string const reset = "ioctl /dev/rtp_ext reset-filter -> 0";
    struct {
        bool enable;
        in_addr addr;
        Lines requests;
        char const* filter;
    } const steps[] = {
        {true, a, {setA}, "10.0.0.1"}, {true, a, {}, "10.0.0.1"}, {true, b, {setB}, "10.0.0.2"},
        {false, a, {reset}, "-"},      {false, b, {}, "-"},       {true, b, {setB}, "10.0.0.2"},
    };
    for (auto const& s : steps) {
        EXPECT_EQ(control.UpdateAccess(s.enable, s.addr), 0);
        EXPECT_EQ(done(), s.requests);
        EXPECT_EQ(filter(), s.filter);
    }
}

TEST_F(RadioControlTest, TheStatusTimerTicksAtTheDelayEachTickReturns)
{
    TestControl control(kInit);
    control.SetTimerEnable(true);
    std::uint32_t const start = Mux::milliseconds();
    struct {
        std::function<void()> before;
        std::uint32_t advance;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> ticks;  // at (since start), interval
    } const steps[] = {
        {[] {}, 999, {}},
        {[&] { control.delay = 10; }, 1, {{1000, 1000}}},
        {[&] { control.delay.reset(); }, 10, {{1010, 1000}}},
        // A new interval reaches the tick already armed only as its argument.
        {[&] { control.SetTimerInterval(500); }, 999, {}},
        {[] {}, 1, {{2010, 500}}},
        {[] {}, 500, {{2510, 500}}},
        {[&] { control.SetTimerEnable(false); }, 5000, {}},
        // An interval of 0, and a tick that asks for no delay, are raised to the minimum.
        {[&] { control.SetTimerInterval(0); control.SetTimerEnable(true); }, 10, {{7520, 10}}},
        {[&] { control.delay = 0; }, 10, {{7530, 10}}},
        {[] {}, 9, {}},
    };
    for (auto const& s : steps) {
        s.before();
        control.ticks.clear();
        advance(s.advance);
        for (auto& t : control.ticks)
            t.first -= start;
        EXPECT_EQ(control.ticks, s.ticks) << s.advance;
    }
    EXPECT_EQ(control.timerInterval(), RadioControl::kMinInterval);
    EXPECT_NE(errors.text().find(": status interval 0 ms raised to 10 ms\n"), std::string::npos);
    control.SetTimerEnable(false);
}

}  // namespace
}  // namespace RTPSignalling
