#pragma once

// The units of the configuration file's fuzz target share this: the typed bindings of a
// block's keys (IniFile::Reader) with the oracle of each, done again here from the text
// (config_file_bindings.cpp), and what a Reader must make of a block (config_file_reads.cpp).

#include "base/ini_file.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace configfuzz {

constexpr char kTarget[] = "config_file_fuzz";

// A typed binding of a key and its oracle.
class Binding {
public:
    virtual ~Binding() = default;
    // Binds the key to the binding's variable; the reader's found flag.
    virtual bool& bind(IniFile::Reader::Field& field, char const* name) = 0;
    // The variable's value as text (its default before a read).
    virtual std::string value() const = 0;
    // The value of a valid text, as value() gives it; none for a text that is not valid.
    virtual std::optional<std::string> expected(std::string const& text) const = 0;

    // value() before a read.
    std::string initial;
};

std::shared_ptr<Binding> boolBinding();
std::shared_ptr<Binding> textBinding();
// An int read with the names of the table first.
std::shared_ptr<Binding> intBinding(IniFile::Symbol<int> const* table);
// A binding of one of the kinds (bool, text, and ten whole number types, two of them named
// enumerations), by the number modulo their count.
std::shared_ptr<Binding> bindingOf(std::size_t kind);

struct Bound {
    std::string name;
    std::shared_ptr<Binding> binding;
    bool required;
};

// What a Reader does with a block: the result, the report, the value each binding ends with.
struct Outcome {
    bool result = true;
    std::string report;
    std::vector<std::string> values;
    std::vector<bool> found;
};

// What a Reader with the bindings and the prefix must make of the block. The keys looked up
// are added to the block (as the Reader adds them), empty.
Outcome expect(IniFile::SubSection& block, std::vector<Bound> const& bound, std::string const& prefix);

// Typed bindings of the block's first keys and of a missing one, each of a type chosen by
// its name, read twice: each read must be the one expected.
void readBlock(IniFile::SubSection& block);

}  // namespace configfuzz
