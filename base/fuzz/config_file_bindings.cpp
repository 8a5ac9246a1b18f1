// The typed bindings of the configuration file's fuzz target and their oracles: each
// conversion of a binding done again here from the text.

#include "base/fuzz/config_file_fuzz.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace configfuzz {

namespace {

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

enum class Small : signed char {};
enum class Wide : unsigned short {};
IniFile::Symbol<Small> const smallNames[] = {{"low", Small(-1)}, {"high", Small(100)}, {nullptr, Small(0)}};
IniFile::Symbol<Wide> const wideNames[] = {{"on", Wide(1)}, {"max", Wide(65535)}, {nullptr, Wide(0)}};

// A binding of a variable of type T.
template <class T>
class Variable : public Binding {
public:
    explicit Variable(T initial) : variable_(initial) {}
    bool& bind(IniFile::Reader::Field& field, char const* name) override { return field.add(&variable_, name); }

protected:
    T variable_;
};

// A number of one of the whole number types (an enumeration through its underlying type),
// the names of its table first, starting at a default no conversion gives. What depends on
// the type is in two small functions of it; the rest is the same for all.
class NumberBinding : public Binding {
public:
    template <class T>
    static std::shared_ptr<Binding> of(IniFile::Symbol<T> const* table = nullptr)
    {
        using N = typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::common_type<T>>::type;
        static_assert(sizeof(T) <= sizeof(Storage) && alignof(T) <= alignof(Storage), "a whole number");
        auto b = std::make_shared<NumberBinding>();
        b->add_ = [](IniFile::Reader::Field& field, void* variable, char const* name, void const* rows) -> bool& {
            return field.add(static_cast<T*>(variable), name, static_cast<IniFile::Symbol<T> const*>(rows));
        };
        b->show_ = [](void const* variable) { return std::to_string(N(*static_cast<T const*>(variable))); };
        b->table_ = table;
        for (auto const* row = table; row && row->text; ++row)
            b->names_.emplace_back(row->text, std::to_string(N(row->value)));
        b->lo_ = std::is_signed_v<N> ? long(std::numeric_limits<N>::min()) : 0L;
        b->hi_ = sizeof(N) < sizeof(long) || std::is_signed_v<N> ? long(std::numeric_limits<N>::max())
                                                                 : std::numeric_limits<long>::max();
        new (&b->variable_) T(T(std::numeric_limits<N>::max() / 3));
        b->initial = b->value();
        return b;
    }

    bool& bind(IniFile::Reader::Field& field, char const* name) override
    {
        return add_(field, &variable_, name, table_);
    }
    std::string value() const override { return show_(&variable_); }
    std::optional<std::string> expected(std::string const& text) const override
    {
        if (text.find('\0') != std::string::npos)
            return std::nullopt;
        for (auto const& [name, number] : names_)
            if (text == name)
                return number;
        // Within the type's range, the number as the type shows it.
        std::optional<long> const n = number(text, lo_, hi_);
        if (!n)
            return std::nullopt;
        return std::to_string(*n);
    }

private:
    using Storage = std::uint64_t;

    bool& (*add_)(IniFile::Reader::Field&, void*, char const*, void const*) = nullptr;
    std::string (*show_)(void const*) = nullptr;
    void const* table_ = nullptr;
    std::vector<std::pair<std::string, std::string>> names_;
    long lo_ = 0;
    long hi_ = 0;
    Storage variable_ = 0;
};

class BoolBinding : public Variable<bool> {
public:
    BoolBinding() : Variable(false) { initial = value(); }
    std::string value() const override { return variable_ ? "true" : "false"; }
    std::optional<std::string> expected(std::string const& text) const override
    {
        std::optional<bool> const v = text.find('\0') == std::string::npos ? boolean(text) : std::nullopt;
        if (!v)
            return std::nullopt;
        return *v ? "true" : "false";
    }
};

class TextBinding : public Variable<std::string> {
public:
    TextBinding() : Variable("default") { initial = value(); }
    std::string value() const override { return variable_; }
    std::optional<std::string> expected(std::string const& text) const override
    {
        if (text.find('\0') != std::string::npos)
            return std::nullopt;
        return text;
    }
};

}  // namespace

std::shared_ptr<Binding> boolBinding() { return std::make_shared<BoolBinding>(); }
std::shared_ptr<Binding> textBinding() { return std::make_shared<TextBinding>(); }
std::shared_ptr<Binding> intBinding(IniFile::Symbol<int> const* table) { return NumberBinding::of(table); }

std::shared_ptr<Binding> bindingOf(std::size_t kind)
{
    switch (kind % 12) {
    case 0: return boolBinding();
    case 1: return textBinding();
    case 2: return NumberBinding::of<std::int8_t>();
    case 3: return NumberBinding::of<std::uint8_t>();
    case 4: return NumberBinding::of<std::int16_t>();
    case 5: return NumberBinding::of<std::uint16_t>();
    case 6: return intBinding(nullptr);
    case 7: return NumberBinding::of<unsigned>();
    case 8: return NumberBinding::of<long>();
    case 9: return NumberBinding::of<unsigned long>();
    case 10: return NumberBinding::of(smallNames);
    default: return NumberBinding::of(wideNames);
    }
}

}  // namespace configfuzz
