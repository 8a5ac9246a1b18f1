// Fuzz target of the configuration file: the input is the file's text, read by the reader
// (IniFile::File, from a stream over the input's own bytes and from a file under a fresh
// root), then by the typed readers (IniFile::Reader and its bindings, SubKey's getters) and
// by what the daemon reads from it: the "traces" switches (TraceCtl) and the agent links of
// the "snmpagent" blocks (SnmpAgentCtrl, in a network of the process's own, where their
// connections go nowhere; without one they are not made).
//
// After every input:
// - both reads give the same tree, and the tree keeps to the grammar (names and values
//   without line ends, blanks trimmed, comments dropped, lines in file order);
// - every typed binding of a block's keys gives what an independent conversion of the text
//   gives (the number of the type's range, the name of its table, the bool word) or keeps
//   its default, and every missing, repeated or bad key is reported with its own line and
//   nothing else is; a second read gives the same;
// - the trace switches are those of the last "traces" block, the agent links exist exactly
//   for the blocks with a valid numeric host:port and name, each with its type and prefix;
// - no timer or descriptor is left once the links are gone.
// A breach aborts the run. The typed bindings and their oracles are in config_file_bindings.cpp,
// what a Reader must make of a block in config_file_reads.cpp. Corpus: base/fuzz/config_file_corpus.

#include "base/fuzz/config_file_fuzz.h"

#include "base/immortal.h"
#include "base/ini_file.h"
#include "base/trace_ctl.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "tests/capture.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using namespace configfuzz;
using testsupport::breach;

// The longest input, unless -max_len says otherwise: files of many blocks.
constexpr char kMaxLen[] = "-max_len=8192";
constexpr char kConfig[] = "/usr/local/etc/server.conf";
// Blocks of one input given typed bindings; agent links made.
constexpr std::size_t kBlocks = 8;
constexpr std::size_t kLinks = 8;

// The process's part: its network and its root.
struct Process {
    static bool prepare()
    {
        bool const own = testsupport::privateNetwork(kTarget);
        testsupport::quietStreams("CONFIG_FILE_LOG");
        return own;
    }

    bool ownNetwork = prepare();
    std::string root = testsupport::boardRoot(kTarget, {"/usr/local/etc"});
};

Process* process = nullptr;

// The input's bytes as a stream buffer, read where they are.
class InputBuffer : public std::streambuf {
public:
    InputBuffer(std::uint8_t const* data, std::size_t size)
    {
        char* begin = reinterpret_cast<char*>(const_cast<std::uint8_t*>(data));
        setg(begin, begin, begin + size);
    }
};

// The tree as text: every section, block, key and value with its line.
std::string tree(IniFile::File const& file)
{
    std::ostringstream out;
    for (IniFile::Section const& section : file) {
        out << "[" << section.GetName() << "]";
        for (IniFile::SubSection const& block : section) {
            out << " {" << block.GetLineNo();
            for (IniFile::Key const& key : block) {
                out << " " << key.GetName() << "=";
                for (IniFile::SubKey const& value : key)
                    out << "(" << value.GetStr() << ")" << value.GetLineNo();
            }
            out << "}";
        }
        out << "\n";
    }
    return out.str();
}

void grammar(IniFile::File const& file, std::string const& text)
{
    std::int32_t const lines = std::int32_t(std::min<std::size_t>(
        std::size_t(std::count(text.begin(), text.end(), '\n')) + 1, std::size_t(INT32_MAX)));
    auto line = [&](std::int32_t n, char const* what) {
        if (n < 1 || n > lines)
            breach(kTarget, std::string(what) + " on line " + std::to_string(n) + " of " + std::to_string(lines));
    };
    auto noEnds = [](std::string const& s) { return s.find_first_of("\r\n") == std::string::npos; };
    for (IniFile::Section const& section : file) {
        if (!noEnds(section.GetName()) || section.GetName().find(']') != std::string::npos)
            breach(kTarget, "a section name with a line end or a bracket");
        std::int32_t previous = 0;
        for (IniFile::SubSection const& block : section) {
            line(block.GetLineNo(), "a block");
            if (block.GetLineNo() < previous)
                breach(kTarget, "the blocks of a section out of file order");
            previous = block.GetLineNo();
            for (IniFile::Key const& key : block) {
                std::string const& name = key.GetName();
                if (name.empty() || !noEnds(name) || std::string(" \t#[").find(name[0]) != std::string::npos ||
                    name.find('=', 1) != std::string::npos || name.back() == ' ')
                    breach(kTarget, "a key name out of the grammar: \"" + name + "\"");
                std::int32_t at = previous;
                for (IniFile::SubKey const& value : key) {
                    std::string const& v = value.GetStr();
                    line(value.GetLineNo(), "a value");
                    if (value.GetLineNo() < at)
                        breach(kTarget, "the values of a key out of file order");
                    at = value.GetLineNo();
                    if (!noEnds(v) || (!v.empty() && (v.front() == ' ' || v.back() == ' ')) ||
                        v.find(" #") != std::string::npos)
                        breach(kTarget, "a value out of the grammar: \"" + v + "\"");
                }
            }
        }
    }
}

// SubKey's own getters against their definitions.
void getters(IniFile::SubKey const& value)
{
    std::string const& t = value.GetStr();
    char const* text = t.c_str();
    char* end = nullptr;
    errno = 0;
    long const n = std::strtol(text, &end, 10);
    int const expectedInt = end == text || errno == ERANGE || n < INT_MIN || n > INT_MAX ? 12345 : int(n);
    if (value.GetInt(12345) != expectedInt)
        breach(kTarget, "GetInt of \"" + t + "\" gives " + std::to_string(value.GetInt(12345)));
    for (bool def : {false, true}) {
        std::optional<bool> b;
        for (char const* yes : {"true", "yes", "1", "on"})
            if (t == yes)
                b = true;
        for (char const* no : {"false", "no", "0", "off"})
            if (t == no)
                b = false;
        if (value.GetBool(def) != b.value_or(def))
            breach(kTarget, "GetBool of \"" + t + "\" is wrong");
    }
    float const f = value.GetFloat(0.5f);
    float const again = value.GetFloat(0.5f);
    if (std::memcmp(&f, &again, sizeof f) != 0)
        breach(kTarget, "GetFloat of \"" + t + "\" differs between two reads");
}

// The trace switches of the file's "traces" blocks, and their reports.
void traceSwitches(IniFile::File& file)
{
    char const* const names[] = {"signalling.hdlc", "signalling.zarngw", "signalling.events", "monitoring.internal"};
    std::string report;
    std::vector<std::string> expected(4, "false");
    IniFile::Section& section = file["traces"];
    for (IniFile::SubSection& block : section) {
        std::vector<Bound> bound;
        for (char const* name : names)
            bound.push_back({name, boolBinding(), false});
        Outcome const o = expect(block, bound, "traces: ");
        report += o.report;
        expected = o.values;
    }
    for (int round = 0; round < 2; ++round) {
        testsupport::CaptureStream err(std::cerr);
        traces = TraceCtl();
        traces.Configure(section);
        std::vector<std::string> const got{traces.signalling.hdlc ? "true" : "false",
                                           traces.signalling.zarngw ? "true" : "false",
                                           traces.signalling.events ? "true" : "false",
                                           traces.monitoring.internal ? "true" : "false"};
        if (got != expected || err.text() != report)
            breach(kTarget, "the trace switches or their report differ: [" + err.text() + "] expected [" + report + "]");
    }
    traces = TraceCtl();
}

// The address and port of a host key's text, as a link takes it.
std::optional<std::pair<in_addr, int>> agentAddress(std::string const& host)
{
    std::size_t const colon = host.find(':');
    if (colon == std::string::npos || host.find('\0') != std::string::npos)
        return std::nullopt;
    std::string const port = host.substr(colon + 1);
    std::string const address = host.substr(0, colon);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int const p = std::stoi(port);
    if (p < 1 || p > 65535)
        return std::nullopt;
    if (std::any_of(address.begin(), address.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    in_addr a{};
    if (::inet_aton(address.c_str(), &a) == 0)
        return std::nullopt;
    return std::make_pair(a, p);
}

// The agent links of the file's "snmpagent" blocks.
void agentLinks(IniFile::File& file)
{
    IniFile::Section& section = file["snmpagent"];
    if (!process->ownNetwork || section.GetCount() > kLinks)
        return;
    static IniFile::Symbol<int> const types[] = {{"zarngw", 1}, {"zarngw.qe", 4}, {"qelt", 2}, {nullptr, 0}};
    std::string report;
    struct Link {
        bool made;
        std::string name;
        int type;
        std::string prefix;
    };
    std::vector<Link> links;
    for (IniFile::SubSection& block : section) {
        std::vector<Bound> bound{{"host", textBinding(), true}, {"name", textBinding(), true},
                                 {"name", intBinding(types), true}};
        bound[2].binding->initial = "0";
        bound[1].binding->initial = "";
        Outcome const o = expect(block, bound, "snmpagent: ");
        report += o.report;
        Link link{false, o.values[1], std::stoi(o.values[2]), ""};
        if (o.result) {
            std::optional<std::pair<in_addr, int>> const address = agentAddress(o.values[0]);
            if (!address) {
                report += "snmpagent: required key \"host\" has invalid value=\"" + o.values[0] + "\", line " +
                          std::to_string(block["host"].GetFirstSubKey().GetLineNo()) + "\n";
            } else {
                link.made = true;
                link.prefix = "snmpagent." + link.name + " " + ::inet_ntoa(address->first) + ":" +
                              std::to_string(address->second);
            }
        }
        links.push_back(link);
    }
    {
        testsupport::CaptureStream err(std::cerr);
        testsupport::CaptureStream log(std::clog);
        testsupport::CaptureStream out(std::cout);
        SnmpAgentCtrl agents;
        agents.CreateInstances(section);
        std::string reported;
        std::istringstream lines(err.text());
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("snmpagent", 0) == 0)
                reported += line + "\n";
        if (reported != report)
            breach(kTarget, "the agent blocks are reported as [" + reported + "], expected [" + report + "]");
        if (agents.links().size() != links.size())
            breach(kTarget, "an agent link per block is not made");
        for (std::size_t i = 0; i < links.size(); ++i) {
            SnmpAgentInstance const& made = *agents.links()[i];
            Link const& want = links[i];
            if ((made.connection() != nullptr) != want.made || made.name() != want.name || made.type() != want.type ||
                made.prefix() != want.prefix)
                breach(kTarget, "agent link " + std::to_string(i) + " is \"" + made.prefix() + "\" type " +
                                    std::to_string(made.type()) + ", expected \"" + want.prefix + "\" type " +
                                    std::to_string(want.type));
        }
        testsupport::settle();
    }
    testsupport::settle();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    testsupport::quietFuzzer(argc, argv, {kMaxLen});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (process == nullptr)
        testsupport::start(kTarget, [] {
            static Immortal<Process> instance;
            process = &instance.value;
        });
    testsupport::Baseline baseline;
    baseline.take();
    std::string const text(reinterpret_cast<char const*>(data), size);
    {
        IniFile::File streamed;
        InputBuffer buffer(data, size);
        std::istream in(&buffer);
        in >> streamed;
        std::ofstream(process->root + kConfig, std::ios::binary | std::ios::trunc) << text;
        IniFile::File opened;
        if (!opened.Open(kConfig))
            breach(kTarget, "the file written does not open");
        std::string const shape = tree(streamed);
        if (tree(opened) != shape)
            breach(kTarget, "the file and the stream give different trees");
        grammar(streamed, text);
        std::size_t blocks = 0;
        for (IniFile::Section& section : streamed)
            for (IniFile::SubSection& block : section) {
                for (IniFile::Key& key : block)
                    for (IniFile::SubKey const& value : key)
                        getters(value);
                if (blocks++ < kBlocks)
                    readBlock(block);
            }
        traceSwitches(opened);
        agentLinks(opened);
    }
    if (std::string const left = baseline.left(); !left.empty())
        breach(kTarget, left);
    return 0;
}
