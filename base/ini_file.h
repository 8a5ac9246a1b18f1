#pragma once

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// The configuration file reader.
//
// A file of bracketed sections and "name = value" keys, "#" comments. A section name may
// occur several times and a key several times within one block; nothing is merged: the
// tree keeps every block (SubSection) of a name under one Section and every value
// (SubKey) of a key name under one Key, in file order, with the line each was written on.
// The parser never fails; what does not fit the grammar is dropped.
//
// A Reader binds typed variables to the keys of one block and reports missing, repeated
// and malformed keys on a stream.
namespace IniFile {

class File;
class Section;
class SubSection;
class Key;
class SubKey;

// Forward iteration over the children of one level (the end iterator holds null).
template <class T>
class GenericIterator {
public:
    GenericIterator() = default;
    explicit GenericIterator(T* p) : p_(p) {}
    T& operator*() const { return *p_; }
    T* operator->() const { return p_; }
    GenericIterator& operator++()
    {
        if (p_)
            p_ = p_->mNext;
        return *this;
    }
    GenericIterator operator++(int)
    {
        GenericIterator old = *this;
        ++*this;
        return old;
    }
    bool operator!=(GenericIterator const& o) const { return p_ != o.p_; }
    bool operator==(GenericIterator const& o) const { return p_ == o.p_; }

private:
    T* p_ = nullptr;
};

namespace Private {

// Sibling links of an element of one level.
template <class T>
struct Link {
    T* mNext = nullptr;
    T* mPrev = nullptr;
};

// The children of one level: a doubly linked list that owns its elements, in the order
// they were appended, with their count. Cleaning and destruction are iterative, so a very
// long list cannot exhaust the stack.
template <class T>
class OwnedList {
public:
    OwnedList() = default;
    OwnedList(OwnedList const&) = delete;
    OwnedList& operator=(OwnedList const&) = delete;
    ~OwnedList() { clear(); }

    T* append(std::unique_ptr<T> item)
    {
        T* p = item.release();
        p->mPrev = last_;
        p->mNext = nullptr;
        (last_ ? last_->mNext : first_) = p;
        last_ = p;
        ++count_;
        return p;
    }
    void clear()
    {
        while (first_) {
            T* next = first_->mNext;
            delete first_;
            first_ = next;
        }
        last_ = nullptr;
        count_ = 0;
    }
    T* first() const { return first_; }
    T* last() const { return last_; }
    std::uint32_t count() const { return count_; }

private:
    T* first_ = nullptr;
    T* last_ = nullptr;
    std::uint32_t count_ = 0;
};

// The children of a level that are looked up by name (exact, case-sensitive): a new name
// is entered for lookup; an element appended under a name already there is only listed.
template <class T>
class NamedList : public OwnedList<T> {
public:
    // The element of that name; an empty one is appended when there is none.
    T& find(std::string const& name)
    {
        auto it = map_.find(name);
        return it != map_.end() ? *it->second : *add(name);
    }
    T* add(std::string const& name)
    {
        T* p = this->append(std::make_unique<T>(name));
        map_.emplace(name, p);
        return p;
    }
    void clear()
    {
        map_.clear();
        OwnedList<T>::clear();
    }

private:
    std::map<std::string, T*> map_;
};

}  // namespace Private

// One value of a key, with the line it was written on (-1 when made without one).
class SubKey : public Private::Link<SubKey> {
public:
    SubKey(std::string value, std::int32_t line);

    std::string& GetStr() { return mValue; }
    std::string const& GetStr() const { return mValue; }
    std::int32_t GetLineNo() const { return mLineNo; }

    // "true", "yes", "1", "on" / "false", "no", "0", "off"; anything else: the default.
    bool GetBool(bool def) const;
    void SetBool(bool value);
    // A leading decimal number; the default when none converts or it does not fit an int.
    int GetInt(int def) const;
    void SetInt(int value);
    // A leading floating-point number; the default when none converts.
    float GetFloat(float def) const;
    void SetFloat(float value);

    void Dump(std::ostream& os) const;

private:
    std::string mValue;
    std::int32_t mLineNo;
};

// Every value of one key name within one block.
class Key : public Private::Link<Key> {
public:
    explicit Key(std::string name);

    std::string const& GetName() const { return mName; }
    SubKey* NewSubKey(std::string value, std::int32_t line);
    std::uint32_t GetCount() const { return mSubKeys.count(); }
    // Both first append the value "" (line -1) when the key has none.
    SubKey& GetFirstSubKey();
    SubKey& GetLastSubKey();
    // The first value's text (created empty on a key without values).
    std::string& GetStr() { return GetFirstSubKey().GetStr(); }
    void CleanSubKeys() { mSubKeys.clear(); }
    void Dump(std::ostream& os) const;

    GenericIterator<SubKey> begin() const { return GenericIterator<SubKey>(mSubKeys.first()); }
    GenericIterator<SubKey> end() const { return GenericIterator<SubKey>(); }

private:
    void CheckEmpty();

    std::string mName;
    Private::OwnedList<SubKey> mSubKeys;
};

// One bracketed block: the keys between its header and the next header.
class SubSection : public Private::Link<SubSection> {
public:
    explicit SubSection(std::int32_t line);

    // The key of that name; an empty one is appended when there is none.
    Key& operator[](std::string const& name) { return mKeys.find(name); }
    // Appends a new empty key (entered for lookup when the name is new).
    Key* NewKey(std::string const& name) { return mKeys.add(name); }
    SubKey* NewSubKey(std::string const& name, std::string value, std::int32_t line);
    std::int32_t GetLineNo() const { return mLineNo; }
    std::uint32_t GetCount() const { return mKeys.count(); }
    void CleanKeys() { mKeys.clear(); }
    void Dump(std::ostream& os) const;

    GenericIterator<Key> begin() const { return GenericIterator<Key>(mKeys.first()); }
    GenericIterator<Key> end() const { return GenericIterator<Key>(); }

private:
    std::int32_t mLineNo;
    Private::NamedList<Key> mKeys;
};

// Every block of one section name, in file order.
class Section : public Private::Link<Section> {
public:
    explicit Section(std::string name);

    std::string const& GetName() const { return mName; }
    SubSection* NewSubSection(std::int32_t line);
    // Appends a block with line -1 when the section has none.
    void CheckEmpty();
    std::uint32_t GetCount() const { return mSubSections.count(); }
    void CleanSubSections() { mSubSections.clear(); }
    void Dump(std::ostream& os) const;

    GenericIterator<SubSection> begin() const { return GenericIterator<SubSection>(mSubSections.first()); }
    GenericIterator<SubSection> end() const { return GenericIterator<SubSection>(); }

private:
    std::string mName;
    Private::OwnedList<SubSection> mSubSections;
};

// The whole configuration file.
class File {
public:
    File() = default;
    // As Open.
    explicit File(std::string const& path);
    ~File() { Close(); }
    File(File const&) = delete;
    File& operator=(File const&) = delete;

    // Closes, then reads and parses the file (a board path). False, leaving an empty closed
    // file, when it cannot be opened or read; nothing is printed.
    bool Open(std::string const& path);
    void Close();
    void Sync() {}
    bool IsOpen() const { return mOpen; }
    std::string const& GetFileName() const { return mFileName; }

    // The section of that name; an empty one is appended when there is none, so a lookup
    // always succeeds.
    Section& operator[](std::string const& name) { return mSections.find(name); }
    // Appends a new empty section (entered for lookup when the name is new).
    Section* NewSection(std::string const& name) { return mSections.add(name); }
    SubSection* NewSubSection(std::string const& name, std::int32_t line);
    std::uint32_t GetCount() const { return mSections.count(); }
    void CleanSections() { mSections.clear(); }
    void Dump(std::ostream& os) const;

    GenericIterator<Section> begin() const { return GenericIterator<Section>(mSections.first()); }
    GenericIterator<Section> end() const { return GenericIterator<Section>(); }

    // Parsing (used by Open and operator>>): marks the file open, then takes the text in
    // pieces; Finish ends the input.
    class Parser;

private:
    friend std::istream& operator>>(std::istream& is, File& file);

    std::string mFileName;
    bool mOpen = false;
    Private::NamedList<Section> mSections;
};

// Closes the file, clears its path and parses the stream.
std::istream& operator>>(std::istream& is, File& file);

// One row of a name table: the text and the value it stands for. A table ends with a row
// whose text is null.
template <class T>
struct Symbol {
    char const* text;
    T value;
};

namespace Private {

// A key bound to a variable.
class KeyValue {
public:
    virtual ~KeyValue() = default;
    virtual char const* name() const = 0;
    // Converts and stores the text; the found flag tells whether it was valid. A text with a
    // NUL byte is never valid: a conversion would take only what stands before it.
    bool parse(std::string const& text)
    {
        return mFound = text.find('\0') == std::string::npos && do_parse(text.c_str());
    }
    bool& found() { return mFound; }

protected:
    // True on success; on failure the variable keeps its value.
    virtual bool do_parse(char const* text) = 0;

private:
    bool mFound = false;
};

// Text to a whole number of the range [lo, hi]: the whole, non-empty text must be one
// number in C notation (decimal, "0x" hexadecimal, leading-zero octal).
bool parseNumber(char const* text, long lo, long hi, long& out);
// Text to bool: "true", "yes", "enabled", "enable", "1" / "false", "no", "disabled",
// "disable", "0".
bool parseBool(char const* text, bool& out);

template <class T, class = void>
class TKeyValue;

// Whether every number of the enumeration's underlying type is a value of it (only with a
// fixed underlying type, which lets an enumeration be list-initialised from a number).
template <class T, class = void>
struct HasFixedBase : std::false_type {};
template <class T>
struct HasFixedBase<T, std::void_t<decltype(T{std::declval<std::underlying_type_t<T>>()})>>
    : std::true_type {};

template <class T>
class NamedKeyValue : public KeyValue {
public:
    NamedKeyValue(T* target, char const* name) : mTarget(target), mName(name) {}
    char const* name() const override { return mName; }

protected:
    T* mTarget;
    char const* mName;  // not copied: must outlive the binding
};

template <>
class TKeyValue<bool> : public NamedKeyValue<bool> {
public:
    TKeyValue(bool* target, char const* name, Symbol<bool> const* = nullptr)
        : NamedKeyValue(target, name) {}

protected:
    bool do_parse(char const* text) override { return parseBool(text, *mTarget); }
};

template <>
class TKeyValue<std::string> : public NamedKeyValue<std::string> {
public:
    TKeyValue(std::string* target, char const* name, Symbol<std::string> const* = nullptr)
        : NamedKeyValue(target, name) {}

protected:
    bool do_parse(char const* text) override
    {
        *mTarget = text;
        return true;
    }
};

// Enumerations (and plain whole numbers): the name table first (exact match), then a
// number that must fit the type. An enumeration needs a fixed underlying type
// ("enum E : int"), so that any number that fits is one of its values.
template <class T>
class TKeyValue<T, std::enable_if_t<std::is_enum_v<T> ||
                                    (std::is_integral_v<T> && !std::is_same_v<T, bool>)>>
    : public NamedKeyValue<T> {
    static_assert(!std::is_enum_v<T> || HasFixedBase<T>::value,
                  "an enumeration read from the configuration needs a fixed underlying type");

public:
    TKeyValue(T* target, char const* name, Symbol<T> const* table)
        : NamedKeyValue<T>(target, name), mTable(table) {}

protected:
    bool do_parse(char const* text) override
    {
        for (Symbol<T> const* row = mTable; row && row->text; ++row)
            if (std::string_view(row->text) == text) {
                *this->mTarget = row->value;
                return true;
            }
        using U = std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>,
                                     std::common_type<T>>;
        using N = typename U::type;
        long lo = std::is_signed_v<N> ? long(std::numeric_limits<N>::min()) : 0L;
        long hi = sizeof(N) < sizeof(long) || std::is_signed_v<N>
                      ? long(std::numeric_limits<N>::max())
                      : std::numeric_limits<long>::max();
        long n;
        if (!parseNumber(text, lo, hi, n))
            return false;
        *this->mTarget = static_cast<T>(n);
        return true;
    }

private:
    Symbol<T> const* mTable;
};

}  // namespace Private

// Reads one block against bound variables.
//
// Bind keys to `required` or `optional`, put the defaults in the variables first (a
// variable is written only by a successful conversion), then call the reader once on the
// block. Reports begin with the prefix and go to the stream given.
class Reader {
public:
    class Field {
    public:
        // Binds the key to the variable; the reference is the binding's found flag, true
        // after the read when the key was there once with a valid value. The name is not
        // copied. The table is used by enumeration bindings only.
        template <class T>
        bool& add(T* target, char const* name, Symbol<T> const* table = nullptr)
        {
            return add(std::make_unique<Private::TKeyValue<T>>(target, name, table));
        }
        bool& add(std::unique_ptr<Private::KeyValue> binding);

    private:
        friend class Reader;
        std::vector<std::unique_ptr<Private::KeyValue>> mList;
    };

    Reader(std::string prefix, std::ostream& stream);

    // True when every required key is present once with a valid value. A failing required
    // key ends the read at once.
    bool operator()(SubSection& block);

    Field required;
    Field optional;

private:
    std::string mPrefix;
    std::ostream& mStream;
};

}  // namespace IniFile
