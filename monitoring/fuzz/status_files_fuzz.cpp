// Fuzz target of the board's status files and bytes that the monitoring controller's timers
// read: the version files, the temperature, the voice driver's version, the E1 framers'
// driver status files, the names in the configuration folder, and the dip switch and power
// code of "/dev/hal". Each input gets a monitoring controller of its own on a fresh simulated
// board and test clock, with one agent link to the target's agent, which takes every
// connection and answers the link's pings. The input's first byte says which framers' status
// files are there when the controller is built; then each byte begins a step, chosen by its
// value modulo kSteps, whose operands follow (a missing one reads as 0). The contents are
// hostile: long lines, no line end, zero bytes, any byte, numbers past their type.
//
// The target reads what it wrote as the monitoring Parts say, on its own, when each timer is
// due (the background run 1 s after the start and every 60 s after, the power run every 2 s),
// and checks after every step and every clock step, while the agent holds the link and has
// had the resend of its connection:
// - every item of what the timers read (versions, temperature, configuration version, the
//   framers' six items, dip switch, power status, and the driver build of the last resend)
//   holds the value of the target's own reading;
// - "/var/monitoring/dip", "powerstatus" and "config_version" hold the text of the values
//   stored, once a value was stored, and are absent before;
// - every message the link sends is a whole TPKT frame that decodes as a MON message.
// After the input the controller and the board go: no descriptor or timer is left. A breach
// aborts the run. Corpus: monitoring/fuzz/status_files_corpus. The daemon's log is shown with
// STATUS_FILES_LOG=1.

#include "base/clock.h"
#include "base/immortal.h"
#include "board/hal.h"
#include "board/path.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "control/connector.h"
#include "messages/mon.h"
#include "monitoring/framer_data_holder.h"
#include "monitoring/fuzz/monitoring_bench.h"
#include "monitoring/monitoring_ctl.h"
#include "tests/controller_client.h"
#include "tests/fake_agent.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"
#include "tests/tcp_client.h"

#include <dirent.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::breach;

constexpr char kTarget[] = "status_files_fuzz";
// Sessions of several kilobytes: the length limit of the inputs the engine makes.
constexpr char kMaxLen[] = "-max_len=8192";
// Clock time the steps of one input may pass in all: past the second background run.
constexpr std::uint32_t kTimeSteps = 2 * MonitoringCtl::background_ms;
// The agent reads what came at least this often while the clock moves on.
constexpr std::uint32_t kReadEveryMs = 1000;
constexpr std::uint32_t kReconnectMs = Control::Connector<Control::ServiceNet>::reconnect_wait_ms;
constexpr int kFramers = 4;
constexpr char kFramerDir[] = "/proc/driver/hdlc/peb22554/";
constexpr char kConfigDir[] = "/usr/local/etc/";

enum Step {
    kWrite,      // file, then its content (content()): a file the timers read
    kConfig,     // kind, length, then the bytes of a name: an entry of the configuration folder
    kHal,        // which, value: the dip switch or the power code, or a failure of "/dev/hal"
    kTime,       // n: the clock moves on by 2^(n mod 17) ms, within kTimeSteps
    kReconnect,  // the agent drops the link, which comes back and sends every item again
    kSteps
};

// The files of kWrite: the four versions, the temperature, the voice driver's version, then
// the framers' status files.
char const* const kVersionFiles[] = {"/var/version", "/var/u-boot-version", "/var/fpga-version", "/var/board-version"};
char const* const kVersionItems[] = {"statusGeneral/sgBuildVersion/0", "statusGeneral/sgBootVersion/0",
                                     "statusGeneral/sgFPGAVersion/0", "statusGeneral/sgBoardVersion/0"};
constexpr char kTemperature[] = "/proc/temperature";
constexpr char kVoiceVersion[] = "/proc/voice/version";
constexpr int kFiles = 6 + kFramers;

std::string framerPath(int n) { return kFramerDir + std::to_string(n); }

std::string boardFile(int file)
{
    if (file < 4)
        return kVersionFiles[file];
    if (file == 4)
        return kTemperature;
    if (file == 5)
        return kVoiceVersion;
    return framerPath(file - 6);
}

// The process's part: its network, its root, the agent's listener.
struct Process : monfuzz::Process {
    Process() : monfuzz::Process(kTarget, "STATUS_FILES_LOG") {}
};

Process* process = nullptr;

// The content of a file, or none when it is not there.
std::optional<std::string> contentOf(std::string const& boardPath)
{
    std::ifstream in(board::path(boardPath), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Readings of the texts as the Parts give them, written here on their own.

// The first line of a file as a line reader of at most max characters gives it (its line end
// kept), up to a zero byte; none when the file is not there, nor when no character could be
// read (an empty file).
std::optional<std::string> firstLine(std::string const& text, std::size_t max)
{
    if (text.empty())
        return std::nullopt;
    std::size_t const end = text.find('\n');
    std::string line = text.substr(0, std::min(end == std::string::npos ? text.size() : end + 1, max));
    return line.substr(0, line.find('\0'));
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// "token2 [token3 token4]", "token2 [token3]" or "none", tokens parted by runs of spaces and
// trimmed of blanks.
std::string buildOfDriver(std::string const& line)
{
    std::vector<std::string> tokens;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t const start = line.find_first_not_of(' ', at);
        if (start == std::string::npos)
            break;
        std::size_t const end = std::min(line.find(' ', start), line.size());
        std::string token = line.substr(start, end - start);
        while (!token.empty() && isBlank(token.back()))
            token.pop_back();
        std::size_t lead = 0;
        while (lead < token.size() && isBlank(token[lead]))
            ++lead;
        tokens.push_back(token.substr(lead));
        at = end;
    }
    if (tokens.size() >= 4)
        return tokens[1] + " [" + tokens[2] + " " + tokens[3] + "]";
    if (tokens.size() == 3)
        return tokens[1] + " [" + tokens[2] + "]";
    return "none";
}

// The leading decimal number of a text by the rules of atoi (blanks skipped, a sign), held
// within 32 bits.
std::int32_t leadingDecimal(std::string const& text)
{
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), std::int64_t(INT32_MAX) + 1);
    value = negative ? -value : value;
    return std::int32_t(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// The leading hexadecimal digits of a text.
std::uint64_t leadingHexadecimal(std::string const& text)
{
    std::uint64_t value = 0;
    for (char c : text) {
        char const lower = char(c | 0x20);
        if (c >= '0' && c <= '9')
            value = value * 16 + std::uint64_t(c - '0');
        else if (lower >= 'a' && lower <= 'f')
            value = value * 16 + std::uint64_t(lower - 'a' + 10);
        else
            break;
    }
    return value;
}

// What the target holds of one framer.
struct Framer {
    bool present = false;
    bool connected = false;
    std::string state = "absent";
    bool signalLoss = true;
    bool alignmentLoss = true;
    std::int32_t negative = 0;
    std::int32_t positive = 0;

    // The lines of a status file: each label anywhere in a line, its value the rest of the
    // line, the last one standing.
    void read(std::string text)
    {
        text = text.substr(0, std::min(text.size(), FramerDataHolder::max_status));
        text = text.substr(0, text.find('\0'));
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            auto value = [&line](char const* name) -> std::optional<std::string> {
                std::string label = name;
                label.resize(24, ' ');
                label += ": ";
                std::size_t const at = line.find(label);
                return at == std::string::npos ? std::nullopt : std::optional(line.substr(at + label.size()));
            };
            if (auto v = value("Current state")) {
                connected = *v != "No Carrier";
                state = *v;
            }
            if (auto v = value("Loss of Signal"))
                signalLoss = *v == "yes";
            if (auto v = value("Loss of Frame Alignment"))
                alignmentLoss = *v == "yes";
            if (auto v = value("Receive Slip Negative"))
                negative = leadingDecimal(*v);
            if (auto v = value("Receive Slip Positive"))
                positive = leadingDecimal(*v);
        }
    }
};

std::string flag(bool on) { return on ? "1" : "0"; }

// What the target holds of the board, read from what it wrote when each timer was due.
struct Held {
    std::array<std::string, 4> versions{};
    std::string temperature;
    std::array<Framer, kFramers> framers{};
    std::uint32_t configVersion = ~std::uint32_t(0);
    std::uint64_t configSuffix = ~std::uint64_t(0);
    bool configStored = false;
    std::int32_t dip = -1;
    int power = 0;  // unknown
    bool powerStored = false;
    std::optional<std::string> driverBuild;

    // The background run: versions, configuration, framers, temperature.
    void background()
    {
        for (int i = 0; i < 4; ++i)
            if (auto const text = contentOf(kVersionFiles[i]))
                versions[std::size_t(i)] = firstLine(*text, 254).value_or("");
        config();
        for (int n = 0; n < kFramers; ++n)
            if (auto const text = contentOf(framerPath(n)); text && framers[std::size_t(n)].present && !text->empty())
                framers[std::size_t(n)].read(*text);
        if (auto const text = contentOf(kTemperature)) {
            std::string const line = firstLine(*text, 254).value_or("");
            temperature = line.substr(0, std::size_t(std::find_if(line.begin(), line.end(), isBlank) - line.begin()));
        }
    }

    // Every entry of the configuration folder that names a version, in the folder's order;
    // the last one stands.
    void config()
    {
        DIR* dir = ::opendir(board::path(kConfigDir).c_str());
        if (dir == nullptr)
            return;
        while (dirent const* e = ::readdir(dir)) {
            std::string const name = e->d_name;
            std::error_code error;
            if (fs::is_directory(fs::symlink_status(board::path(kConfigDir) + name, error)) || error)
                continue;
            if (name.rfind("config.", 0) != 0 || name.rfind("config.2save.tar.bz2", 0) == 0 || name.size() < 7 + 9)
                continue;
            std::uint32_t const version = std::uint32_t(leadingHexadecimal(name.substr(7, 8)));
            std::uint64_t const suffix = leadingHexadecimal(name.substr(7 + 9, 16));
            if (version != configVersion || suffix != configSuffix)
                configStored = true;
            configVersion = version;
            configSuffix = suffix;
        }
        ::closedir(dir);
    }

    // What a resend gives of the voice driver's version, the agent's first of it on the
    // connection: its first line, when it has one.
    void resend()
    {
        driverBuild.reset();
        if (auto const text = contentOf(kVoiceVersion))
            if (auto const line = firstLine(*text, 126))
                driverBuild = buildOfDriver(*line);
    }

    // The items the agent must hold.
    std::map<std::string, std::string> items() const
    {
        std::map<std::string, std::string> out;
        for (int i = 0; i < 4; ++i)
            out[kVersionItems[i]] = versions[std::size_t(i)];
        out["gatewayCommon/temperature/0"] = temperature;
        out["gatewayCommon/gatewayConfigVersion/0"] = std::to_string(configVersion);
        out["gatewayCommon/gatewayDip/0"] = std::to_string(dip);
        out["gatewayCommon/powerStatus/0"] = std::to_string(power);
        if (driverBuild)
            out["gatewayCommon/driverBuild/0"] = *driverBuild;
        for (int n = 0; n < kFramers; ++n) {
            Framer const& f = framers[std::size_t(n)];
            if (!f.present)
                continue;
            std::string const e1 = "/" + std::to_string(n + 1);
            out["e1Table/e1Connected" + e1] = flag(f.connected);
            out["e1Table/e1StatusDsc" + e1] = f.state;
            out["e1Table/e1SignalLoss" + e1] = flag(f.signalLoss);
            out["e1Table/e1FrameAlignLoss" + e1] = flag(f.alignmentLoss);
            out["e1Table/e1NegSlipCount" + e1] = std::to_string(f.negative);
            out["e1Table/e1PosSlipCount" + e1] = std::to_string(f.positive);
        }
        return out;
    }

    // The status files the timers' values are mirrored into: none before a value is stored.
    std::map<std::string, std::optional<std::string>> files() const
    {
        char version[32];
        std::snprintf(version, sizeof version, "%08x-%016llx", configVersion,
                      static_cast<unsigned long long>(configSuffix));
        static char const* const powerTexts[] = {"0", "1", "2", "3"};
        return {
            {"/var/monitoring/dip", dip >= 0 ? std::optional(std::to_string(dip)) : std::nullopt},
            {"/var/monitoring/powerstatus", powerStored ? std::optional(std::string(powerTexts[power])) : std::nullopt},
            {"/var/monitoring/config_version", configStored ? std::optional(std::string(version)) : std::nullopt},
        };
    }
};

// "/dev/hal" as the target set it: its bytes and which of its uses fail.
struct Hal {
    board::sim::SimBoard& sim;
    board::sim::HalModel& model;
    bool open = false;
    bool openFails = false;
    bool dipFails = false;
    bool powerFails = false;
    std::uint8_t dip = 0;
    std::uint8_t power = 2;

    // The power run: the power code, then the dip switch, each through the open device.
    void run(Held& held)
    {
        open = open || !openFails;
        if (!open)
            return;
        if (!powerFails) {
            int const status = power == 0 ? 3 : power <= 3 ? power : 0;
            held.powerStored = held.powerStored || status != held.power;
            held.power = status;
        }
        if (!dipFails)
            held.dip = dip;
    }

    void step(std::uint8_t which, std::uint8_t value)
    {
        switch (which % 6) {
        case 0: model.boardBytes().setDip(dip = value); break;
        case 1: model.boardBytes().setPowerCode(power = value); break;
        case 2:
            sim.failRequest(hal::kPath, hal::kDipSwitch, EIO, -1);
            dipFails = true;
            break;
        case 3:
            sim.failRequest(hal::kPath, hal::kPowerStatus, EIO, -1);
            powerFails = true;
            break;
        case 4:
            sim.failOpen(hal::kPath, EIO, -1);
            openFails = true;
            break;
        default:
            sim.clearFailures();
            openFails = dipFails = powerFails = false;
            break;
        }
    }
};

// The agent's side: takes the link's connections, reads its messages, answers its pings.
class Agent {
public:
    // Reads what came; a connection that waits is taken first. True while it holds the link
    // and has had the resend of its connection.
    bool read(Held& held)
    {
        if (!link_) {
            Fd accepted = process->listener.accept(0);
            if (!accepted)
                return false;
            link_ = std::move(accepted);
            testsupport::promptSocket(link_.lowlevel_fd());
            in_.clear();
            items_.clear();
            synced_ = false;
            testsupport::settle();
        }
        bool const ended = testsupport::receiveAll(link_.lowlevel_fd(), in_);
        testsupport::takeFrames(kTarget, in_, [&](Bytes const& body) {
            MON::Message m;
            if (!testsupport::decodePer(body, m))
                breach(kTarget, "the agent got a message that does not decode");
            testsupport::collectItems(m, items_);
            if (testsupport::describeMon(m) == "ping")
                pong();
        });
        if (!synced_ && items_.count("gatewayCommon/softwareBuild/0") != 0) {
            // Every item came again, the driver build read now.
            synced_ = true;
            held.resend();
        }
        if (ended) {
            link_.close();
            synced_ = false;
        }
        return synced_;
    }

    void drop()
    {
        link_.close();
        synced_ = false;
        testsupport::settle();
    }

    std::map<std::string, std::string> const& items() const { return items_; }

private:
    void pong()
    {
        MON::Message m;
        m.set_pdu().select_response().select_ping().select_success();
        Bytes const frame = testsupport::tpktFrame(testsupport::encodePer(m));
        ::send(link_.lowlevel_fd(), frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }

    Fd link_;
    Bytes in_;
    std::map<std::string, std::string> items_;
    bool synced_ = false;
};

// One input's run on its own controller.
class Run {
public:
    Run(Mux::TestClock& clock, board::sim::SimBoard& sim, board::sim::HalModel& hal)
        : clock_(clock), hal_{sim, hal}, start_(Mux::milliseconds())
    {
    }

    void setFramers(std::uint8_t mask)
    {
        for (int n = 0; n < kFramers; ++n)
            held_.framers[std::size_t(n)].present = mask >> n & 1;
    }

    // The link's first connection and its resend.
    void start()
    {
        if (!testsupport::runUntil([&] { return agent_.read(held_); }, 10000))
            breach(kTarget, "the link does not connect");
        check();
    }

    void step(Step kind, testsupport::FuzzInput& in)
    {
        switch (kind) {
        case kWrite: {
            int const file = in.byte() % kFiles;
            write(boardFile(file), in);
            break;
        }
        case kConfig: config(in); break;
        case kHal: {
            std::uint8_t const which = in.byte();
            hal_.step(which, in.byte());
            break;
        }
        case kTime: pass(time_.spend(1u << (in.byte() % 17))); break;
        case kReconnect:
            agent_.drop();
            pass(time_.spend(kReconnectMs + kReadEveryMs));
            break;
        default: break;
        }
        check();
    }

private:
    // A length operand: up to 239 bytes as given; 240 to 254 a unit of 1 to 16 bytes (a
    // count operand, then the bytes) repeated to a length of 100 to 1500; 255 removes the file.
    static std::optional<std::string> content(testsupport::FuzzInput& in)
    {
        std::size_t const length = in.byte();
        if (length == 255)
            return std::nullopt;
        std::vector<std::uint8_t> const given = in.take(length < 240 ? length : in.byte() % 16 + 1);
        std::string text(given.begin(), given.end());
        if (length >= 240) {
            std::string const unit = text.empty() ? std::string("x") : text;
            text.clear();
            while (text.size() < (length - 239) * 100)
                text += unit;
        }
        return text;
    }

    static void write(std::string const& boardPath, testsupport::FuzzInput& in)
    {
        std::optional<std::string> const text = content(in);
        std::error_code ignored;
        if (!text) {
            fs::remove(board::path(boardPath), ignored);
            return;
        }
        std::ofstream(board::path(boardPath), std::ios::binary | std::ios::trunc) << *text;
    }

    // An entry of the configuration folder: a file or a folder named "config." and the bytes
    // given, a file named by the bytes alone, or none left.
    static void config(testsupport::FuzzInput& in)
    {
        std::uint8_t const kind = in.byte();
        std::vector<std::uint8_t> const bytes = in.take(in.byte() % 41);
        std::string name(bytes.begin(), bytes.end());
        for (char& c : name)
            if (c == '/' || c == '\0')
                c = '_';
        std::string const folder = board::path(kConfigDir);
        std::error_code ignored;
        switch (kind % 4) {
        case 0: std::ofstream(folder + "config." + name).put('\n'); break;
        case 1: fs::create_directories(folder + "config." + name, ignored); break;
        case 2:
            if (!name.empty() && name != "." && name != "..")
                std::ofstream(folder + name).put('\n');
            break;
        default:
            for (auto const& entry : fs::directory_iterator(folder, ignored))
                fs::remove_all(entry.path(), ignored);
            break;
        }
    }

    // The clock moves on, the agent reading at least every kReadEveryMs.
    void pass(std::uint32_t ms)
    {
        testsupport::passTime(clock_, ms, kReadEveryMs, [this] { check(); });
    }

    // The timers due by now read what the target wrote; then what the agent holds and the
    // status files must say the same.
    void check()
    {
        testsupport::settle();
        std::uint32_t const now = Mux::milliseconds();
        while (now - start_ >= nextBackground_) {
            held_.background();
            nextBackground_ += MonitoringCtl::background_ms;
        }
        while (now - start_ >= nextPower_) {
            hal_.run(held_);
            nextPower_ += MonitoringCtl::power_ms;
        }
        bool const synced = agent_.read(held_);
        if (synced)
            for (auto const& [key, value] : held_.items()) {
                auto const item = agent_.items().find(key);
                if (item == agent_.items().end())
                    breach(kTarget, "the agent has no item " + key);
                if (item->second != value)
                    breach(kTarget,
                           "the item " + key + " is \"" + item->second + "\" where \"" + value + "\" was read");
            }
        for (auto const& [path, text] : held_.files()) {
            std::optional<std::string> const written = contentOf(path);
            if (written != text)
                breach(kTarget, path + " holds " + (written ? "\"" + *written + "\"" : "nothing") + " where "
                                    + (text ? "\"" + *text + "\"" : "nothing") + " was stored");
        }
    }

    Mux::TestClock& clock_;
    Hal hal_;
    Held held_;
    Agent agent_;
    std::uint32_t const start_;
    std::uint32_t nextBackground_ = MonitoringCtl::first_background_ms;
    std::uint32_t nextPower_ = MonitoringCtl::power_ms;
    testsupport::TimeBudget time_{kTimeSteps};
};

// The board's files of an earlier input go; the framers' status files of this one are there.
void freshFiles(std::uint8_t framers)
{
    std::error_code ignored;
    for (int file = 0; file < kFiles; ++file)
        fs::remove(board::path(boardFile(file)), ignored);
    for (auto const& entry : fs::directory_iterator(board::path(kConfigDir), ignored))
        fs::remove_all(entry.path(), ignored);
    for (int n = 0; n < kFramers; ++n)
        if (framers >> n & 1)
            std::ofstream(board::path(framerPath(n)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    testsupport::quietFuzzer(argc, argv, {kMaxLen});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (process == nullptr) {
        static Immortal<Process> instance;
        process = &instance.value;
    }
    testsupport::FuzzInput in(data, size);
    std::uint8_t const framers = in.byte();
    freshFiles(framers);
    monfuzz::runInput(*process, [&](monfuzz::Controller& controller) {
        Run run(controller.clock, controller.sim, controller.hal);
        run.setFramers(framers);
        run.start();
        while (!in.done())
            run.step(Step(in.byte() % kSteps), in);
    });
    return 0;
}
