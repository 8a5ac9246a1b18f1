#include "base/ini_file.h"

#include "tests/temp_root.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using IniFile::File;
using IniFile::Key;
using IniFile::Reader;
using IniFile::SubSection;
using V = std::vector<std::string>;

void parse(File& file, std::string const& text)
{
    std::istringstream is(text);
    is >> file;
}

// Every value of a key as "value@line".
V values(Key& key)
{
    V out;
    for (IniFile::SubKey const& v : key)
        out.push_back(v.GetStr() + "@" + std::to_string(v.GetLineNo()));
    return out;
}

SubSection& block(File& file, std::string const& name, int index = 0)
{
    auto it = file[name].begin();
    while (index--)
        ++it;
    return *it;
}

TEST(IniFileGrammar, RepeatedSectionsAndKeysKeepEveryBlockAndValueInFileOrder)
{
    File f;
    parse(f, "[a]\nx=1\nx=2\n\n[b]\ny=3\n[a]\nx=9\n");
    EXPECT_TRUE(f.IsOpen());
    V names;
    for (IniFile::Section const& s : f)
        names.push_back(s.GetName());
    EXPECT_EQ(names, (V{"a", "b"}));
    ASSERT_EQ(f["a"].GetCount(), 2u);
    EXPECT_EQ(block(f, "a", 0).GetLineNo(), 1);
    EXPECT_EQ(block(f, "a", 1).GetLineNo(), 7);
    EXPECT_EQ(values(block(f, "a", 0)["x"]), (V{"1@2", "2@3"}));
    EXPECT_EQ(values(block(f, "a", 1)["x"]), (V{"9@8"}));
}

TEST(IniFileGrammar, BlanksCommentsAndOddBytes)
{
    File f;
    parse(f, "[s]\n  key  name  =  some  value  # note\nurl=a#b\nurl2=a #b\ntab=a\t#b\nk=\n"
             "k2 = # note\neq = a=b \n\t  =x=1\n]k=2\nna#me = v\nstray line\n[t]\nlast=v");
    SubSection& s = block(f, "s");
    EXPECT_EQ(values(s["key  name"]), (V{"some  value@2"}));
    EXPECT_EQ(values(s["url"]), (V{"a#b@3"}));
    EXPECT_EQ(values(s["url2"]), (V{"a@4"}));
    EXPECT_EQ(values(s["tab"]), (V{"a\t#b@5"}));
    EXPECT_EQ(values(s["k"]), (V{"@6"}));
    EXPECT_EQ(values(s["k2"]), (V{"@7"}));
    EXPECT_EQ(values(s["eq"]), (V{"a=b@8"}));
    EXPECT_EQ(values(s["=x"]), (V{"1@9"}));
    EXPECT_EQ(values(s["]k"]), (V{"2@10"}));
    EXPECT_EQ(values(s["na#me"]), (V{"v@11"}));
    // The stray line is dropped, the header right after it opens its block, and a last
    // line without a line feed keeps its value.
    EXPECT_EQ(values(block(f, "t")["last"]), (V{"v@14"}));
    EXPECT_EQ(s.GetCount(), 10u);
}

TEST(IniFileGrammar, HeadersAndWhatIsDropped)
{
    File f;
    parse(f, "k=1\n# [x]\njunk [ traces ] more\nsignalling.hdlc=yes\n[a] trailing\nk=1\n"
             "[b\nk=2\n[c]\nk=4\nno value");
    V names;
    for (IniFile::Section const& s : f)
        names.push_back(s.GetName());
    // Lines before the first header and the keys of an unterminated header are dropped; a
    // "[" anywhere on a line before the first header starts one; names keep their blanks.
    EXPECT_EQ(names, (V{" traces ", "a", "c"}));
    EXPECT_EQ(values(block(f, " traces ")["signalling.hdlc"]), (V{"yes@4"}));
    EXPECT_EQ(values(block(f, "a")["k"]), (V{"1@6"}));
    EXPECT_EQ(values(block(f, "c")["k"]), (V{"4@10"}));
    EXPECT_EQ(block(f, "c").GetCount(), 1u);
    EXPECT_EQ(f["traces"].GetCount(), 0u);
}

TEST(IniFileGrammar, CarriageReturnLineEndsReadAsLineFeeds)
{
    File crlf, lf;
    parse(crlf, "[a]\r\nk = v \r\n# c\r\nm=w\r\n");
    parse(lf, "[a]\nk = v \n# c\nm=w\n");
    std::ostringstream d1, d2;
    crlf.Dump(d1);
    lf.Dump(d2);
    EXPECT_EQ(d1.str(), d2.str());
    EXPECT_EQ(values(block(crlf, "a")["m"]), (V{"w@4"}));
}

TEST(IniFileGrammar, AnyInputParsesAndALongFileIsFreed)
{
    File f;
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 37) & 0xff);
    parse(f, junk);
    EXPECT_TRUE(f.IsOpen());
    std::string text = "[a]\n";
    for (int i = 0; i < 200000; ++i)
        text += "k=v\n";
    parse(f, text);
    EXPECT_EQ(block(f, "a")["k"].GetCount(), 200000u);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.GetCount(), 0u);
}

TEST(IniFileGrammar, LookupsOfAbsentSectionsAndKeysAddEmptyOnes)
{
    File f;
    parse(f, "[a]\nk=1\n");
    EXPECT_EQ(f["none"].GetCount(), 0u);
    EXPECT_EQ(f.GetCount(), 2u);
    Key& absent = block(f, "a")["absent"];
    EXPECT_EQ(block(f, "a").GetCount(), 2u);
    EXPECT_EQ(absent.GetStr(), "");  // creates the empty value
    EXPECT_EQ(absent.GetFirstSubKey().GetLineNo(), -1);
    EXPECT_EQ(absent.GetCount(), 1u);
    f["none"].CheckEmpty();
    EXPECT_EQ(block(f, "none").GetLineNo(), -1);
}

TEST(IniFileOpen, ReadsThroughTheBoardRootAndFailsQuietly)
{
    testsupport::TempRoot root({"/etc"});
    std::ofstream(root.dir() + "/etc/server.conf") << "[x]\nk=v";
    File f;
    f["looked.up"];
    EXPECT_TRUE(f.Open("/etc/server.conf"));
    EXPECT_EQ(f.GetFileName(), "/etc/server.conf");
    EXPECT_EQ(f.GetCount(), 1u);  // a reopened file starts empty
    EXPECT_EQ(values(block(f, "x")["k"]), (V{"v@2"}));

    EXPECT_FALSE(f.Open("/etc/absent.conf"));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f["snmpagent"].GetCount(), 0u);
    EXPECT_FALSE(f.Open("/etc"));  // a directory opens but cannot be read
    EXPECT_EQ(f.GetCount(), 0u);
}

TEST(IniFileDump, EveryLevelWritesItsFields)
{
    File f;
    parse(f, "[a]\nk=v\n");
    std::ostringstream os;
    f.Dump(os);
    EXPECT_EQ(os.str(),
              "dumping IniFile::File\nmFileName=\"\"\n\nmSectionCount=1\n"
              "dumping IniFile::Section\nmName=\"a\"\nmSubSectionCount=1\n"
              "dumping IniFile::SubSection\nmLineNo=\"1\"\nmKeyCount=1\n"
              "dumping IniFile::Key\nmName=\"k\"\nmSubKeyCount=1\n"
              "dumping IniFile::SubKey\nmValue=\"v\"\nmLineNo=2\n");
}

TEST(IniFileSubKey, TypedAccess)
{
    IniFile::SubKey v("on", 1);
    EXPECT_TRUE(v.GetBool(false));
    v.GetStr() = "off";
    EXPECT_FALSE(v.GetBool(true));
    v.GetStr() = "enabled";  // a Reader word, not one of these
    EXPECT_FALSE(v.GetBool(false));
    v.SetBool(true);
    EXPECT_EQ(v.GetStr(), "yes");
    v.GetStr() = " -42abc";
    EXPECT_EQ(v.GetInt(7), -42);
    v.GetStr() = "99999999999";  // does not fit
    EXPECT_EQ(v.GetInt(7), 7);
    v.SetInt(-15);
    EXPECT_EQ(v.GetStr(), "-15");
    v.GetStr() = "2.5x";
    EXPECT_FLOAT_EQ(v.GetFloat(1.0f), 2.5f);
    v.GetStr() = "";
    EXPECT_FLOAT_EQ(v.GetFloat(1.0f), 1.0f);
    v.SetFloat(3.14159265f);
    EXPECT_EQ(v.GetStr(), "3.14159");
}

// ---------------------------------------------------------------------------------------
// Reader

enum MonitoringAddressType : int { kNone = 0, kZarngw = 1, kQelt = 2, kZarngwQe = 4 };

IniFile::Symbol<MonitoringAddressType> const addressTypes[] = {
    {"zarngw", kZarngw}, {"zarngw.qe", kZarngwQe}, {"qelt", kQelt}, {nullptr, kNone}};

struct ReaderTest : ::testing::Test {
    File f;
    std::ostringstream err;
    Reader reader{"snmpagent: ", err};

    SubSection& load(std::string const& text)
    {
        parse(f, text);
        return block(f, "snmpagent");
    }
};

TEST_F(ReaderTest, TwoFieldsOnOneKey)
{
    std::string host, name;
    MonitoringAddressType type = kNone;
    reader.required.add(&host, "host");
    bool& nameFound = reader.required.add(&name, "name");
    bool& typeFound = reader.required.add(&type, "name", addressTypes);
    EXPECT_TRUE(reader(load("[snmpagent]\nhost=10.0.0.1:705\nname=zarngw.qe\n")));
    EXPECT_EQ(host, "10.0.0.1:705");
    EXPECT_EQ(name, "zarngw.qe");
    EXPECT_EQ(type, kZarngwQe);
    EXPECT_TRUE(nameFound && typeFound);
    EXPECT_EQ(err.str(), "");
}

TEST_F(ReaderTest, RequiredKeyMissing)
{
    std::string host, name;
    reader.required.add(&name, "name");
    bool& hostFound = reader.required.add(&host, "host");
    EXPECT_FALSE(reader(load("[other]" + std::string(11, '\n') + "[snmpagent]\nname=x\n")));
    EXPECT_EQ(err.str(), "snmpagent: required key \"host\" not present, line 12\n");
    EXPECT_FALSE(hostFound);
    EXPECT_EQ(name, "x");  // converted before the failure, kept
}

TEST_F(ReaderTest, RequiredKeyInvalidEndsTheReadAtOnce)
{
    bool on = true, later = false;
    reader.required.add(&on, "on");
    bool& laterFound = reader.optional.add(&later, "later");
    EXPECT_FALSE(reader(load("[snmpagent]\non = maybe\nlater=yes\n")));
    EXPECT_EQ(err.str(), "snmpagent: required key \"on\" has invalid value=\"maybe\", line 2\n");
    EXPECT_TRUE(on);
    EXPECT_FALSE(later || laterFound);
}

TEST_F(ReaderTest, RequiredKeyTwiceAndThrice)
{
    std::string x;
    reader.required.add(&x, "x");
    EXPECT_FALSE(reader(load("[snmpagent]\nx=1\n\nx=2\n[snmpagent]\nx=1\nx=2\nx=3\n")));
    EXPECT_FALSE(reader(block(f, "snmpagent", 1)));
    EXPECT_EQ(err.str(), "snmpagent: required key \"x\" is duplicated!\n"
                         "snmpagent:  first occurence at 2 line.\n"
                         "snmpagent:  second occurence at 4 line.\n"
                         "snmpagent: required key \"x\" specified more than once: 6 7 8 lines\n");
    EXPECT_EQ(x, "");
}

TEST_F(ReaderTest, OptionalKeysAreReportedAndIgnored)
{
    bool a = false, b = true, c = true, d = false;
    std::string e = "default";
    bool& aFound = reader.optional.add(&a, "a");
    bool& bFound = reader.optional.add(&b, "b");
    reader.optional.add(&c, "c");
    bool& dFound = reader.optional.add(&d, "d");
    bool& eFound = reader.optional.add(&e, "e");
    EXPECT_TRUE(reader(load("[snmpagent]\na=enable\nb=on\nc=no\nc=no\nd=1\nd=0\nd=1\n")));
    EXPECT_EQ(err.str(),
              "snmpagent: optional key \"b\" has invalid value=\"on\", line 3. Key will be ignored.\n"
              "snmpagent: optional key \"c\" is duplicated!\n"
              "snmpagent:  first occurence at 4 line.\n"
              "snmpagent:  second occurence at 5 line. Both keys will be ignored.\n"
              "snmpagent: optional key \"d\" specified more than once: 6 7 8 lines. All keys will be "
              "ignored.\n");
    EXPECT_TRUE(a && aFound);
    EXPECT_TRUE(b && c);
    EXPECT_FALSE(d || bFound || dFound || eFound);
    EXPECT_EQ(e, "default");  // absent: nothing said, default kept
}

TEST_F(ReaderTest, BoolWordsAndTheEmptyValue)
{
    bool v = false;
    IniFile::Private::TKeyValue<bool> binding(&v, "k");
    for (char const* t : {"true", "yes", "enabled", "enable", "1"}) {
        v = false;
        EXPECT_TRUE(binding.parse(t) && v) << t;
    }
    for (char const* t : {"false", "no", "disabled", "disable", "0"}) {
        v = true;
        EXPECT_TRUE(binding.parse(t) && !v) << t;
    }
    for (char const* t : {"on", "off", "Yes", "TRUE", "2"}) {
        v = true;
        EXPECT_FALSE(binding.parse(t) || binding.found()) << t;
        EXPECT_TRUE(v) << t;
    }
    std::string s = "x";
    bool b = true;
    reader.optional.add(&s, "k");
    reader.optional.add(&b, "k");
    EXPECT_TRUE(reader(load("[snmpagent]\nk = # note\n")));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(b);
    EXPECT_EQ(err.str(), "snmpagent: optional key \"k\" has invalid value=\"\", line 2. Key will be ignored.\n");
}

TEST_F(ReaderTest, EnumerationNamesAndNumbers)
{
    MonitoringAddressType t = kNone;
    IniFile::Private::TKeyValue<MonitoringAddressType> binding(&t, "name", addressTypes);
    EXPECT_TRUE(binding.parse("qelt"));
    EXPECT_EQ(t, kQelt);
    EXPECT_TRUE(binding.parse("0x4"));
    EXPECT_EQ(t, kZarngwQe);
    EXPECT_TRUE(binding.parse("010"));
    EXPECT_EQ(int(t), 8);
    // Names are exact; a failed key leaves the variable as it was.
    t = kZarngw;
    for (char const* bad : {"Qelt", "4x", "", " 4", "\t4", "99999999999", "0x"}) {
        EXPECT_FALSE(binding.parse(bad)) << bad;
        EXPECT_EQ(t, kZarngw) << bad;
    }
    std::string name;
    reader.required.add(&name, "name");
    bool& found = reader.required.add(&t, "name", addressTypes);
    EXPECT_FALSE(reader(load("[snmpagent]\nname=4x\n")));
    EXPECT_EQ(err.str(), "snmpagent: required key \"name\" has invalid value=\"4x\", line 2\n");
    EXPECT_EQ(name, "4x");
    EXPECT_EQ(t, kZarngw);
    EXPECT_FALSE(found);
}

// What stands before a NUL byte would convert: no binding takes such a value.
TEST_F(ReaderTest, AValueWithANulByteIsRefusedByEveryBinding)
{
    using namespace std::string_literals;
    std::string s = "kept";
    bool b = false;
    int n = 7;
    MonitoringAddressType t = kZarngw;
    struct Case {
        std::unique_ptr<IniFile::Private::KeyValue> binding;
        std::string text;
    };
    Case cases[] = {
        {std::make_unique<IniFile::Private::TKeyValue<std::string>>(&s, "s"), "host\0:80"s},
        {std::make_unique<IniFile::Private::TKeyValue<bool>>(&b, "b"), "yes\0"s},
        {std::make_unique<IniFile::Private::TKeyValue<int>>(&n, "n", nullptr), "12\0junk"s},
        {std::make_unique<IniFile::Private::TKeyValue<MonitoringAddressType>>(&t, "t", addressTypes),
         "qelt\0"s},
    };
    for (Case const& c : cases) {
        EXPECT_FALSE(c.binding->parse(c.text)) << c.binding->name();
        EXPECT_FALSE(c.binding->found()) << c.binding->name();
    }
    EXPECT_EQ(s, "kept");
    EXPECT_FALSE(b);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(t, kZarngw);
    reader.optional.add(&n, "n");
    EXPECT_TRUE(reader(load("[snmpagent]\nn=12\0x\n"s)));
    EXPECT_EQ(err.str(), "snmpagent: optional key \"n\" has invalid value=\"12\0x\", line 2. Key will be ignored.\n"s);
    EXPECT_EQ(n, 7);
}

TEST_F(ReaderTest, BindingMadeElsewhereAndUnboundKeys)
{
    int n = 0;
    bool& found = reader.required.add(std::make_unique<IniFile::Private::TKeyValue<int>>(&n, "n", nullptr));
    EXPECT_TRUE(reader(load("[snmpagent]\nn=0x10\nother=1\n")));
    EXPECT_TRUE(found);
    EXPECT_EQ(n, 16);
    EXPECT_EQ(err.str(), "");
}

}  // namespace
