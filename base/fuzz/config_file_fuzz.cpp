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
// A breach aborts the run. Corpus: base/fuzz/config_file_corpus.

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
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using testsupport::breach;

constexpr char kTarget[] = "config_file_fuzz";
// The longest input, unless -max_len says otherwise: files of many blocks.
constexpr char kMaxLen[] = "-max_len=8192";
constexpr char kConfig[] = "/usr/local/etc/server.conf";
// Blocks and keys of one input given typed bindings; agent links made.
constexpr std::size_t kBlocks = 8;
constexpr std::size_t kKeys = 12;
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

// The conversions the typed bindings make, done again here.

// The value of a digit of base 16 at most; 99 for anything else.
int digit(char c)
{
    static std::string const digits = "0123456789abcdef";
    std::size_t const at = digits.find(char(std::tolower(static_cast<unsigned char>(c))));
    return at == std::string::npos ? 99 : int(at);
}

// One whole number in C notation filling the text, within [lo, hi].
std::optional<long> number(std::string const& t, long lo, long hi)
{
    std::size_t i = 0;
    bool const negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+'))
        ++i;
    int base = 10;
    if (i + 2 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X') && digit(t[i + 2]) < 16) {
        base = 16;
        i += 2;
    } else if (i < t.size() && t[i] == '0') {
        base = 8;
    }
    if (i >= t.size())
        return std::nullopt;
    __int128 value = 0;
    for (; i < t.size(); ++i) {
        int const d = digit(t[i]);
        if (d >= base)
            return std::nullopt;
        value = std::min<__int128>(value * base + d, __int128(1) << 80);
    }
    if (negative)
        value = -value;
    if (value < lo || value > hi)
        return std::nullopt;
    return long(value);
}

std::optional<bool> boolean(std::string const& t)
{
    for (char const* yes : {"true", "yes", "enabled", "enable", "1"})
        if (t == yes)
            return true;
    for (char const* no : {"false", "no", "disabled", "disable", "0"})
        if (t == no)
            return false;
    return std::nullopt;
}

// A typed binding and its oracle: whether the text is valid, and the value as text.
struct Binding {
    std::function<bool&(IniFile::Reader::Field&, char const*)> bind;
    // The variable's value as text (its default before a read).
    std::function<std::string()> value;
    std::function<std::optional<std::string>(std::string const&)> expected;
    std::string initial;
};

enum class Small : signed char {};
enum class Wide : unsigned short {};
IniFile::Symbol<Small> const smallNames[] = {{"low", Small(-1)}, {"high", Small(100)}, {nullptr, Small(0)}};
IniFile::Symbol<Wide> const wideNames[] = {{"on", Wide(1)}, {"max", Wide(65535)}, {nullptr, Wide(0)}};

// A number binding of type T (an enumeration through its underlying type), starting at a
// default no conversion gives.
template <class T>
Binding numberBinding(IniFile::Symbol<T> const* table = nullptr)
{
    using N = typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::common_type<T>>::type;
    auto variable = std::make_shared<T>(T(std::numeric_limits<N>::max() / 3));
    Binding b;
    b.bind = [variable, table](IniFile::Reader::Field& field, char const* name) -> bool& {
        return field.add(variable.get(), name, table);
    };
    b.value = [variable] { return std::to_string(N(*variable)); };
    b.expected = [table](std::string const& text) -> std::optional<std::string> {
        if (text.find('\0') != std::string::npos)
            return std::nullopt;
        for (auto const* row = table; row && row->text; ++row)
            if (text == row->text)
                return std::to_string(N(row->value));
        long const lo = std::is_signed_v<N> ? long(std::numeric_limits<N>::min()) : 0L;
        long const hi = sizeof(N) < sizeof(long) || std::is_signed_v<N> ? long(std::numeric_limits<N>::max())
                                                                         : std::numeric_limits<long>::max();
        std::optional<long> const n = number(text, lo, hi);
        if (!n)
            return std::nullopt;
        return std::to_string(N(*n));
    };
    b.initial = b.value();
    return b;
}

Binding boolBinding()
{
    auto variable = std::make_shared<bool>(false);
    Binding b;
    b.bind = [variable](IniFile::Reader::Field& field, char const* name) -> bool& {
        return field.add(variable.get(), name);
    };
    b.value = [variable] { return *variable ? "true" : "false"; };
    b.expected = [](std::string const& text) -> std::optional<std::string> {
        std::optional<bool> const v = text.find('\0') == std::string::npos ? boolean(text) : std::nullopt;
        if (!v)
            return std::nullopt;
        return *v ? "true" : "false";
    };
    b.initial = b.value();
    return b;
}

Binding textBinding()
{
    auto variable = std::make_shared<std::string>("default");
    Binding b;
    b.bind = [variable](IniFile::Reader::Field& field, char const* name) -> bool& {
        return field.add(variable.get(), name);
    };
    b.value = [variable] { return *variable; };
    b.expected = [](std::string const& text) -> std::optional<std::string> {
        if (text.find('\0') != std::string::npos)
            return std::nullopt;
        return text;
    };
    b.initial = b.value();
    return b;
}

// The binding of a key, by a hash of its name.
Binding binding(std::size_t kind)
{
    switch (kind % 12) {
    case 0: return boolBinding();
    case 1: return textBinding();
    case 2: return numberBinding<std::int8_t>();
    case 3: return numberBinding<std::uint8_t>();
    case 4: return numberBinding<std::int16_t>();
    case 5: return numberBinding<std::uint16_t>();
    case 6: return numberBinding<int>();
    case 7: return numberBinding<unsigned>();
    case 8: return numberBinding<long>();
    case 9: return numberBinding<unsigned long>();
    case 10: return numberBinding<Small>(smallNames);
    default: return numberBinding<Wide>(wideNames);
    }
}

// The lines a Reader writes for a key given several times.
std::string repeated(std::string const& prefix, char const* kind, IniFile::Key& key, char const* twoEnd,
                     char const* manyEnd)
{
    std::string text = prefix + kind + " key \"" + key.GetName() + "\"";
    if (key.GetCount() == 2) {
        text += " is duplicated!\n" + prefix + " first occurence at " +
                std::to_string(key.GetFirstSubKey().GetLineNo()) + " line.\n" + prefix + " second occurence at " +
                std::to_string(key.GetLastSubKey().GetLineNo()) + twoEnd;
    } else {
        text += " specified more than once:";
        for (IniFile::SubKey const& v : key)
            text += " " + std::to_string(v.GetLineNo());
        text += manyEnd;
    }
    return text + "\n";
}

std::string invalid(std::string const& prefix, char const* kind, IniFile::Key& key, char const* end)
{
    IniFile::SubKey& v = key.GetFirstSubKey();
    return prefix + kind + " key \"" + key.GetName() + "\" has invalid value=\"" + v.GetStr() + "\", line " +
           std::to_string(v.GetLineNo()) + end + "\n";
}

// What a Reader does with the block: the result, the report, the value each binding ends
// with. The keys looked up are added to the block (as the Reader adds them), empty.
struct Outcome {
    bool result = true;
    std::string report;
    std::vector<std::string> values;
    std::vector<bool> found;
    bool operator==(Outcome const& o) const
    {
        return result == o.result && report == o.report && values == o.values && found == o.found;
    }
};

struct Bound {
    std::string name;
    Binding binding;
    bool required;
};

Outcome expect(IniFile::SubSection& block, std::vector<Bound> const& bound, std::string const& prefix)
{
    Outcome out;
    bool reading = true;
    for (Bound const& b : bound) {
        out.values.push_back(b.binding.initial);
        out.found.push_back(false);
    }
    for (bool required : {true, false}) {
        for (std::size_t i = 0; i < bound.size() && reading; ++i) {
            if (bound[i].required != required)
                continue;
            IniFile::Key& key = block[bound[i].name];
            char const* kind = required ? "required" : "optional";
            if (key.GetCount() == 1) {
                std::optional<std::string> const v = bound[i].binding.expected(key.GetStr());
                if (v) {
                    out.values[i] = *v;
                    out.found[i] = true;
                    // A later binding of the same variable reads the same text.
                } else {
                    out.report += invalid(prefix, kind, key, required ? "" : ". Key will be ignored.");
                    reading = !required;
                }
            } else if (key.GetCount() == 0) {
                if (required) {
                    out.report += prefix + "required key \"" + bound[i].name + "\" not present, line " +
                                  std::to_string(block.GetLineNo()) + "\n";
                    reading = false;
                }
            } else {
                out.report += required ? repeated(prefix, kind, key, " line.", " lines")
                                       : repeated(prefix, kind, key, " line. Both keys will be ignored.",
                                                  " lines. All keys will be ignored.");
                reading = !required;
            }
        }
    }
    out.result = reading;
    return out;
}

// Binds the keys, reads the block, and gives what came of it.
Outcome read(IniFile::SubSection& block, std::vector<Bound> const& bound, std::string const& prefix)
{
    std::ostringstream report;
    IniFile::Reader reader(prefix, report);
    std::vector<bool*> found;
    for (Bound const& b : bound)
        found.push_back(&b.binding.bind(b.required ? reader.required : reader.optional, b.name.c_str()));
    Outcome out;
    out.result = reader(block);
    out.report = report.str();
    for (std::size_t i = 0; i < bound.size(); ++i) {
        out.values.push_back(bound[i].binding.value());
        out.found.push_back(*found[i]);
    }
    return out;
}

std::string describe(Outcome const& o)
{
    std::string text = (o.result ? "true [" : "false [") + o.report + "]";
    for (std::size_t i = 0; i < o.values.size(); ++i)
        text += " " + o.values[i] + (o.found[i] ? "+" : "-");
    return text;
}

// The typed bindings of a block's first keys and of a missing one, twice.
void readBlock(IniFile::SubSection& block)
{
    std::vector<std::string> names;
    // A binding names its key by a C string: a name with a NUL byte cannot be bound.
    for (IniFile::Key const& key : block)
        if (names.size() < kKeys && key.GetName().find('\0') == std::string::npos)
            names.push_back(key.GetName());
    names.push_back("absent key");
    std::vector<Outcome> outcomes;
    for (int round = 0; round < 2; ++round) {
        std::vector<Bound> bound;
        for (std::string const& name : names) {
            std::size_t const h = std::hash<std::string>()(name);
            bound.push_back({name, binding(h), h / 12 % 4 == 0});
        }
        Outcome const wanted = expect(block, bound, "fuzz: ");
        Outcome const got = read(block, bound, "fuzz: ");
        if (!(got == wanted))
            breach(kTarget, "a read gives " + describe(got) + ", expected " + describe(wanted));
        outcomes.push_back(got);
    }
    if (!(outcomes[0] == outcomes[1]))
        breach(kTarget, "a second read differs");
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
                                 {"name", numberBinding<int>(types), true}};
        bound[2].binding.initial = "0";
        bound[1].binding.initial = "";
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
