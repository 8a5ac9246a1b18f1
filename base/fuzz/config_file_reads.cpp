// What a Reader must make of a block with the bindings of the configuration file's fuzz
// target: the values, the report of every missing, repeated or bad key, the result.

#include "base/fuzz/config_file_fuzz.h"

#include "tests/fuzz_support.h"

#include <cstddef>
#include <functional>
#include <sstream>

namespace configfuzz {

namespace {

using testsupport::breach;

// Keys of a block given typed bindings.
constexpr std::size_t kKeys = 12;

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

bool operator==(Outcome const& a, Outcome const& b)
{
    return a.result == b.result && a.report == b.report && a.values == b.values && a.found == b.found;
}

// Binds the keys, reads the block, and gives what came of it.
Outcome read(IniFile::SubSection& block, std::vector<Bound> const& bound, std::string const& prefix)
{
    std::ostringstream report;
    IniFile::Reader reader(prefix, report);
    std::vector<bool*> found;
    for (Bound const& b : bound)
        found.push_back(&b.binding->bind(b.required ? reader.required : reader.optional, b.name.c_str()));
    Outcome out;
    out.result = reader(block);
    out.report = report.str();
    for (std::size_t i = 0; i < bound.size(); ++i) {
        out.values.push_back(bound[i].binding->value());
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

}  // namespace

Outcome expect(IniFile::SubSection& block, std::vector<Bound> const& bound, std::string const& prefix)
{
    Outcome out;
    bool reading = true;
    for (Bound const& b : bound) {
        out.values.push_back(b.binding->initial);
        out.found.push_back(false);
    }
    for (bool required : {true, false}) {
        for (std::size_t i = 0; i < bound.size() && reading; ++i) {
            if (bound[i].required != required)
                continue;
            IniFile::Key& key = block[bound[i].name];
            char const* kind = required ? "required" : "optional";
            if (key.GetCount() == 1) {
                std::optional<std::string> const v = bound[i].binding->expected(key.GetStr());
                if (v) {
                    out.values[i] = *v;
                    out.found[i] = true;
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
            bound.push_back({name, bindingOf(h), h / 12 % 4 == 0});
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


}  // namespace configfuzz
