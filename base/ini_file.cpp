#include "base/ini_file.h"

#include "board/path.h"
#include "base/fd.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

// ---------------------------------------------------------------------------------------
// SubKey

SubKey::SubKey(std::string value, std::int32_t line) : mValue(std::move(value)), mLineNo(line) {}

bool SubKey::GetBool(bool def) const
{
    if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on")
        return true;
    if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off")
        return false;
    return def;
}

void SubKey::SetBool(bool value) { mValue = value ? "yes" : "no"; }

int SubKey::GetInt(int def) const
{
    char const* text = mValue.c_str();
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return def;
    return int(n);
}

void SubKey::SetInt(int value)
{
    std::ostringstream os;
    os << value;
    mValue = os.str();
}

float SubKey::GetFloat(float def) const
{
    char const* text = mValue.c_str();
    char* end = nullptr;
    float f = std::strtof(text, &end);
    return end == text ? def : f;
}

void SubKey::SetFloat(float value)
{
    std::ostringstream os;
    os << value;
    mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const
{
    os << "dumping IniFile::SubKey\n"
       << "mValue=\"" << mValue << "\"\n"
       << "mLineNo=" << mLineNo << '\n';
}

// ---------------------------------------------------------------------------------------
// Key

Key::Key(std::string name) : mName(std::move(name)) {}

SubKey* Key::NewSubKey(std::string value, std::int32_t line)
{
    return mSubKeys.append(std::make_unique<SubKey>(std::move(value), line));
}

void Key::CheckEmpty()
{
    if (mSubKeys.count() == 0)
        NewSubKey("", -1);
}

SubKey& Key::GetFirstSubKey()
{
    CheckEmpty();
    return *mSubKeys.first();
}

SubKey& Key::GetLastSubKey()
{
    CheckEmpty();
    return *mSubKeys.last();
}

void Key::Dump(std::ostream& os) const
{
    os << "dumping IniFile::Key\n"
       << "mName=\"" << mName << "\"\n"
       << "mSubKeyCount=" << mSubKeys.count() << '\n';
    for (SubKey const& v : *this)
        v.Dump(os);
}

// ---------------------------------------------------------------------------------------
// SubSection

SubSection::SubSection(std::int32_t line) : mLineNo(line) {}

SubKey* SubSection::NewSubKey(std::string const& name, std::string value, std::int32_t line)
{
    return (*this)[name].NewSubKey(std::move(value), line);
}

void SubSection::Dump(std::ostream& os) const
{
    os << "dumping IniFile::SubSection\n"
       << "mLineNo=\"" << mLineNo << "\"\n"
       << "mKeyCount=" << mKeys.count() << '\n';
    for (Key const& k : *this)
        k.Dump(os);
}

// ---------------------------------------------------------------------------------------
// Section

Section::Section(std::string name) : mName(std::move(name)) {}

SubSection* Section::NewSubSection(std::int32_t line)
{
    return mSubSections.append(std::make_unique<SubSection>(line));
}

void Section::CheckEmpty()
{
    if (mSubSections.count() == 0)
        NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const
{
    os << "dumping IniFile::Section\n"
       << "mName=\"" << mName << "\"\n"
       << "mSubSectionCount=" << mSubSections.count() << '\n';
    for (SubSection const& b : *this)
        b.Dump(os);
}

// ---------------------------------------------------------------------------------------
// Parser

// The grammar, one byte at a time. Carriage returns are dropped everywhere; a comment
// drops everything up to the line feed, which the state then handles as usual.
class File::Parser {
public:
    explicit Parser(File& file) : mFile(file) { file.mOpen = true; }

    void feed(char const* data, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            take(static_cast<unsigned char>(data[i]));
    }

    // End of input: a key line that reached its "=" is kept.
    void finish()
    {
        if (mState == BeforeValue || mState == InValue)
            storeKey();
        mState = BeforeSection;
    }

private:
    enum State { BeforeSection, InSectionName, AfterSectionName, LineStart, InKeyName, BeforeValue, InValue };

    void take(unsigned char c)
    {
        if (c == '\r')
            return;
        if (mComment) {
            if (c != '\n')
                return;
            mComment = false;
        }
        switch (mState) {
        case BeforeSection:
            if (c == '#')
                mComment = true;
            else if (c == '[')
                startHeader();
            break;
        case InSectionName:
            if (c == '\n') {
                mState = BeforeSection;
            } else if (c == ']') {
                mBlock = mFile.NewSubSection(mName, mLine);
                mState = AfterSectionName;
            } else {
                mName += char(c);
            }
            break;
        case AfterSectionName:
            if (c == '\n')
                mState = LineStart;
            else if (c == '#')
                mComment = true;
            break;
        case LineStart:
            if (c == '#') {
                mComment = true;
            } else if (c == ' ' || c == '\t' || c == '\n') {
            } else if (c == '[') {
                startHeader();
            } else {
                mKey.assign(1, char(c));
                mPending = 0;
                mState = InKeyName;
            }
            break;
        case InKeyName:
            if (c == ' ') {
                ++mPending;
            } else if (c == '=') {
                mValue.clear();
                mState = BeforeValue;
            } else if (c == '\n') {
                mKey.clear();
                mPending = 0;
                mState = LineStart;
            } else {
                append(mKey, c);
            }
            break;
        case BeforeValue:
            if (c == ' ') {
            } else if (c == '#') {
                mComment = true;
            } else if (c == '\n') {
                storeKey();
                mState = LineStart;
            } else {
                mValue += char(c);
                mPending = 0;
                mState = InValue;
            }
            break;
        case InValue:
            if (c == ' ') {
                ++mPending;
            } else if (c == '#' && mPending > 0) {
                mPending = 0;
                mComment = true;
            } else if (c == '\n') {
                storeKey();
                mState = LineStart;
            } else {
                append(mValue, c);
            }
            break;
        }
        if (c == '\n' && mLine < INT32_MAX)
            ++mLine;
    }

    void startHeader()
    {
        mName.clear();
        mState = InSectionName;
    }

    // The blanks held back (they are dropped when nothing follows them), then the byte.
    void append(std::string& s, unsigned char c)
    {
        s.append(mPending, ' ');
        mPending = 0;
        s += char(c);
    }

    void storeKey()
    {
        mBlock->NewSubKey(mKey, mValue, mLine);
        mKey.clear();
        mValue.clear();
        mPending = 0;
    }

    File& mFile;
    State mState = BeforeSection;
    bool mComment = false;
    std::int32_t mLine = 1;
    std::string mName;
    std::string mKey;
    std::string mValue;
    std::size_t mPending = 0;
    SubSection* mBlock = nullptr;
};

// ---------------------------------------------------------------------------------------
// File

File::File(std::string const& path) { Open(path); }

bool File::Open(std::string const& path)
{
    Close();
    mFileName = path;
    Fd fd;
    if (!fd.open(board::path(path).c_str(), O_RDONLY))
        return false;
    Parser parser(*this);
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Close();  // unreadable (a directory, an I/O error): as if it did not open
            return false;
        }
        parser.feed(buf, std::size_t(n));
    }
    parser.finish();
    return mOpen;
}

std::istream& operator>>(std::istream& is, File& file)
{
    file.Close();
    file.mFileName.clear();
    File::Parser parser(file);
    if (std::streambuf* sb = is.rdbuf()) {
        char buf[4096];
        std::streamsize n;
        while ((n = sb->sgetn(buf, sizeof buf)) > 0)
            parser.feed(buf, std::size_t(n));
    }
    parser.finish();
    is.setstate(std::ios::eofbit);
    return is;
}

void File::Close()
{
    // Also drops sections that lookups added while closed, so a later Open starts empty.
    CleanSections();
    mOpen = false;
}

SubSection* File::NewSubSection(std::string const& name, std::int32_t line)
{
    return (*this)[name].NewSubSection(line);
}

void File::Dump(std::ostream& os) const
{
    os << "dumping IniFile::File\n"
       << "mFileName=\"" << mFileName << "\"\n\n"
       << "mSectionCount=" << mSections.count() << '\n';
    for (Section const& s : *this)
        s.Dump(os);
}

// ---------------------------------------------------------------------------------------
// Conversions of the Reader

namespace Private {

bool parseNumber(char const* text, long lo, long hi, long& out)
{
    // strtol would skip leading white space; a value with it is not one number.
    if (*text == '\0' || std::strchr(" \t\n\v\f\r", *text))
        return false;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 0);
    if (*end != '\0' || errno == ERANGE || n < lo || n > hi)
        return false;
    out = n;
    return true;
}

bool parseBool(char const* text, bool& out)
{
    static char const* const yes[] = {"true", "yes", "enabled", "enable", "1"};
    static char const* const no[] = {"false", "no", "disabled", "disable", "0"};
    for (char const* t : yes)
        if (std::strcmp(text, t) == 0)
            return out = true, true;
    for (char const* t : no)
        if (std::strcmp(text, t) == 0)
            return out = false, true;
    return false;
}

}  // namespace Private

// ---------------------------------------------------------------------------------------
// Reader

bool& Reader::Field::add(std::unique_ptr<Private::KeyValue> binding)
{
    mList.push_back(std::move(binding));
    return mList.back()->found();
}

Reader::Reader(std::string prefix, std::ostream& stream) : mPrefix(std::move(prefix)), mStream(stream) {}

namespace {

// Reports of a key given several times. Two values: three lines naming both; more: one
// line listing them all.
void reportRepeated(std::ostream& os, std::string const& prefix, char const* kind, Key& key,
                    char const* twoEnd, char const* manyEnd)
{
    std::ostringstream text;
    text << prefix << kind << " key \"" << key.GetName() << '"';
    if (key.GetCount() == 2) {
        text << " is duplicated!\n"
             << prefix << " first occurence at " << key.GetFirstSubKey().GetLineNo() << " line.\n"
             << prefix << " second occurence at " << key.GetLastSubKey().GetLineNo() << twoEnd;
    } else {
        text << " specified more than once:";
        for (SubKey const& v : key)
            text << ' ' << v.GetLineNo();
        text << manyEnd;
    }
    os << text.str() << std::endl;
}

void reportInvalid(std::ostream& os, std::string const& prefix, char const* kind, Key& key,
                   char const* end)
{
    std::ostringstream text;
    SubKey& v = key.GetFirstSubKey();
    text << prefix << kind << " key \"" << key.GetName() << "\" has invalid value=\"" << v.GetStr()
         << "\", line " << v.GetLineNo() << end;
    os << text.str() << std::endl;
}

}  // namespace

bool Reader::operator()(SubSection& block)
{
    for (auto& binding : required.mList) {
        Key& key = block[binding->name()];
        std::uint32_t count = key.GetCount();
        if (count == 1) {
            if (!binding->parse(key.GetStr())) {
                reportInvalid(mStream, mPrefix, "required", key, "");
                return false;
            }
        } else if (count == 0) {
            std::ostringstream text;
            text << mPrefix << "required key \"" << key.GetName() << "\" not present, line "
                 << block.GetLineNo();
            mStream << text.str() << std::endl;
            return false;
        } else {
            reportRepeated(mStream, mPrefix, "required", key, " line.", " lines");
            return false;
        }
    }
    for (auto& binding : optional.mList) {
        Key& key = block[binding->name()];
        binding->found() = false;
        std::uint32_t count = key.GetCount();
        if (count == 1) {
            if (!binding->parse(key.GetStr()))
                reportInvalid(mStream, mPrefix, "optional", key, ". Key will be ignored.");
        } else if (count > 1) {
            reportRepeated(mStream, mPrefix, "optional", key, " line. Both keys will be ignored.",
                           " lines. All keys will be ignored.");
        }
    }
    return true;
}

}  // namespace IniFile
