#include "base/ini_file.h"

#include "board/path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using IniFile::File;
using IniFile::Key;
using IniFile::Reader;
using IniFile::Section;
using IniFile::SubSection;

void parse(File& file, std::string const& text)
{
    std::istringstream is(text);
    is >> file;
}

// Every value of one key of one block, as "value@line".
std::vector<std::string> values(Key& key)
{
    std::vector<std::string> out;
    for (IniFile::SubKey const& v : key)
        out.push_back(v.GetStr() + "@" + std::to_string(v.GetLineNo()));
    return out;
}

SubSection& block(File& file, std::string const& name, unsigned index = 0)
{
    auto it = file[name].begin();
    for (unsigned i = 0; i < index; ++i)
        ++it;
    return *it;
}

using V = std::vector<std::string>;

// ---------------------------------------------------------------------------------------
// Grammar

TEST(IniFileGrammar, RepeatedSectionsKeepTheirBlocksAndRepeatedKeysTheirValues)
{
    File f;
    parse(f, "[a]\nx=1\nx=2\n\n[b]\ny=3\n[a]\nx=9\n");
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetCount(), 2u);
    Section& a = f["a"];
    ASSERT_EQ(a.GetCount(), 2u);
    EXPECT_EQ(block(f, "a", 0).GetLineNo(), 1);
    EXPECT_EQ(block(f, "a", 1).GetLineNo(), 7);
    // The same key name in two blocks of one section stays apart.
    EXPECT_EQ(values(block(f, "a", 0)["x"]), (V{"1@2", "2@3"}));
    EXPECT_EQ(values(block(f, "a", 1)["x"]), (V{"9@8"}));
    EXPECT_EQ(block(f, "a", 0)["x"].GetCount(), 2u);
    // File order of sections and of keys.
    std::vector<std::string> names;
    for (Section const& s : f)
        names.push_back(s.GetName());
    EXPECT_EQ(names, (V{"a", "b"}));
}

TEST(IniFileGrammar, BlanksAroundNamesAndValuesAndComments)
{
    File f;
    parse(f, "[s]\n  key  name  =  some  value  # note\n"
             "url=a#b\nurl2=a #b\ntab=a\t#b\nk=\nk2 = # note\neq = a=b \n");
    SubSection& s = block(f, "s");
    EXPECT_EQ(values(s["key  name"]), (V{"some  value@2"}));
    EXPECT_EQ(values(s["url"]), (V{"a#b@3"}));
    EXPECT_EQ(values(s["url2"]), (V{"a@4"}));
    EXPECT_EQ(values(s["tab"]), (V{"a\t#b@5"}));
    EXPECT_EQ(values(s["k"]), (V{"@6"}));
    EXPECT_EQ(values(s["k2"]), (V{"@7"}));
    EXPECT_EQ(values(s["eq"]), (V{"a=b@8"}));
}

TEST(IniFileGrammar, LastLineWithoutLineFeedKeepsItsValue)
{
    File f;
    parse(f, "[s]\nk=v");
    EXPECT_EQ(values(block(f, "s")["k"]), (V{"v@2"}));
    File g;
    parse(g, "[s]\nk=");
    EXPECT_EQ(values(block(g, "s")["k"]), (V{"@2"}));
    File h;
    parse(h, "[s]\nk");  // a name without "=" is dropped
    EXPECT_EQ(block(h, "s").GetCount(), 0u);
}

TEST(IniFileGrammar, StrayLineIsDroppedAndAHeaderRightAfterItOpensItsBlock)
{
    File f;
    parse(f, "[s]\nstray line\n[t]\nk=1\n");
    EXPECT_EQ(block(f, "s").GetCount(), 0u);
    EXPECT_EQ(values(block(f, "t")["k"]), (V{"1@4"}));
}

TEST(IniFileGrammar, SectionNamesAreTakenAsWritten)
{
    File f;
    parse(f, "[ traces ]\nsignalling.hdlc=yes\n[a] trailing text\nk=1\n[b # c]\nm=2\n");
    EXPECT_EQ(f.GetCount(), 3u);
    EXPECT_EQ(values(block(f, " traces ")["signalling.hdlc"]), (V{"yes@2"}));
    EXPECT_EQ(values(block(f, "a")["k"]), (V{"1@4"}));
    EXPECT_EQ(values(block(f, "b # c")["m"]), (V{"2@6"}));
    EXPECT_EQ(f["traces"].GetCount(), 0u);
}

TEST(IniFileGrammar, UnterminatedHeaderDropsKeysUpToTheNextHeader)
{
    File f;
    parse(f, "[a]\nk=1\n[b\nk=2\nm=3\n[c]\nk=4\n");
    EXPECT_EQ(f.GetCount(), 2u);  // a and c
    EXPECT_EQ(values(block(f, "a")["k"]), (V{"1@2"}));
    EXPECT_EQ(values(block(f, "c")["k"]), (V{"4@7"}));
}

TEST(IniFileGrammar, LinesBeforeTheFirstHeaderAreDropped)
{
    File f;
    parse(f, "k=1\n# comment [x]\njunk [a] more\nm=2\n");
    // "[" anywhere on a line before the first header starts one.
    EXPECT_EQ(f.GetCount(), 1u);
    EXPECT_EQ(block(f, "a").GetLineNo(), 3);
    EXPECT_EQ(values(block(f, "a")["m"]), (V{"2@4"}));
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

TEST(IniFileGrammar, OddBytesAtLineStartAndInsideKeyNames)
{
    File f;
    parse(f, "[a]\n\t  =x=1\n]k=2\nna#me = v\n");
    SubSection& a = block(f, "a");
    EXPECT_EQ(values(a["=x"]), (V{"1@2"}));
    EXPECT_EQ(values(a["]k"]), (V{"2@3"}));
    EXPECT_EQ(values(a["na#me"]), (V{"v@4"}));
}

TEST(IniFileGrammar, EmptyAndBinaryInputNeverFail)
{
    File f;
    parse(f, "");
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetCount(), 0u);
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 37) & 0xff);
    parse(f, junk);
    EXPECT_TRUE(f.IsOpen());
}

TEST(IniFileGrammar, LookupsOfAbsentSectionsAndKeysAddEmptyOnes)
{
    File f;
    parse(f, "[a]\nk=1\n");
    EXPECT_EQ(f.GetCount(), 1u);
    EXPECT_EQ(f["none"].GetCount(), 0u);
    EXPECT_EQ(f.GetCount(), 2u);
    SubSection& a = block(f, "a");
    EXPECT_EQ(a["absent"].GetCount(), 0u);
    EXPECT_EQ(a.GetCount(), 2u);
    // A value asked of a key without one is created empty.
    Key& absent = a["absent"];
    EXPECT_EQ(absent.GetStr(), "");
    EXPECT_EQ(absent.GetFirstSubKey().GetLineNo(), -1);
    EXPECT_EQ(absent.GetCount(), 1u);
    Section& none = f["none"];
    none.CheckEmpty();
    ASSERT_EQ(none.GetCount(), 1u);
    EXPECT_EQ(none.begin()->GetLineNo(), -1);
}

TEST(IniFileGrammar, LongFileIsFreedWithoutDeepRecursion)
{
    std::string text = "[a]\n";
    for (int i = 0; i < 200000; ++i)
        text += "k=v\n";
    File f;
    parse(f, text);
    EXPECT_EQ(block(f, "a")["k"].GetCount(), 200000u);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.GetCount(), 0u);
}

// ---------------------------------------------------------------------------------------
// Files on the board

struct TempRoot {
    std::string dir;
    std::string saved = board::root();
    TempRoot()
    {
        char tmpl[] = "/tmp/gw-ini-XXXXXX";
        dir = ::mkdtemp(tmpl);
        board::setRoot(dir);
        ::mkdir((dir + "/etc").c_str(), 0755);
    }
    ~TempRoot()
    {
        board::setRoot(saved);
        std::system(("rm -rf " + dir).c_str());
    }
};

TEST(IniFileOpen, ReadsTheFileUnderTheBoardRoot)
{
    TempRoot root;
    std::ofstream(root.dir + "/etc/server.conf") << "[traces]\nsignalling.hdlc = yes\n[x]\nk=v";
    File f;
    EXPECT_TRUE(f.Open("/etc/server.conf"));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.GetFileName(), "/etc/server.conf");
    EXPECT_EQ(values(block(f, "x")["k"]), (V{"v@4"}));
    EXPECT_EQ(values(block(f, "traces")["signalling.hdlc"]), (V{"yes@2"}));
}

TEST(IniFileOpen, MissingOrUnreadableFileLeavesAnEmptyClosedFile)
{
    TempRoot root;
    File f;
    EXPECT_FALSE(f.Open("/etc/absent.conf"));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f["snmpagent"].GetCount(), 0u);
    EXPECT_FALSE(f.Open("/etc"));  // a directory opens but cannot be read
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.GetCount(), 0u);
}

TEST(IniFileOpen, ReopeningStartsFromAnEmptyTree)
{
    TempRoot root;
    std::ofstream(root.dir + "/etc/a.conf") << "[a]\nk=1\n";
    File f;
    f["looked.up"];
    ASSERT_TRUE(f.Open("/etc/a.conf"));
    ASSERT_TRUE(f.Open("/etc/a.conf"));
    EXPECT_EQ(f.GetCount(), 1u);
    EXPECT_EQ(f["a"].GetCount(), 1u);
}

// ---------------------------------------------------------------------------------------
// Dumps and the typed access of a value

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
    v.GetStr() = "enabled";  // a Reader word, not one of GetBool's
    EXPECT_TRUE(v.GetBool(true));
    EXPECT_FALSE(v.GetBool(false));
    v.SetBool(true);
    EXPECT_EQ(v.GetStr(), "yes");
    v.SetBool(false);
    EXPECT_EQ(v.GetStr(), "no");

    v.GetStr() = " -42abc";
    EXPECT_EQ(v.GetInt(7), -42);
    v.GetStr() = "x";
    EXPECT_EQ(v.GetInt(7), 7);
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
    EXPECT_TRUE(nameFound);
    EXPECT_TRUE(typeFound);
    EXPECT_EQ(err.str(), "");
}

TEST_F(ReaderTest, RequiredKeyMissing)
{
    std::string host, name;
    reader.required.add(&name, "name");
    bool& hostFound = reader.required.add(&host, "host");
    std::string text(11, '\n');
    EXPECT_FALSE(reader(load("[other]\n" + text.substr(1) + "[snmpagent]\nname=x\n")));
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
    EXPECT_FALSE(later);
    EXPECT_FALSE(laterFound);
}

TEST_F(ReaderTest, RequiredKeyTwiceAndThrice)
{
    std::string x;
    reader.required.add(&x, "x");
    EXPECT_FALSE(reader(load("[snmpagent]\nx=1\n\nx=2\n")));
    EXPECT_EQ(err.str(), "snmpagent: required key \"x\" is duplicated!\n"
                         "snmpagent:  first occurence at 2 line.\n"
                         "snmpagent:  second occurence at 4 line.\n");
    EXPECT_EQ(x, "");

    File g;
    std::ostringstream err2;
    Reader r2("p: ", err2);
    r2.required.add(&x, "x");
    parse(g, "[s]\nx=1\nx=2\nx=3\n");
    EXPECT_FALSE(r2(block(g, "s")));
    EXPECT_EQ(err2.str(), "p: required key \"x\" specified more than once: 2 3 4 lines\n");
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
    EXPECT_TRUE(a);
    EXPECT_TRUE(aFound);
    EXPECT_TRUE(b);
    EXPECT_FALSE(bFound);
    EXPECT_TRUE(c);
    EXPECT_FALSE(d);
    EXPECT_FALSE(dFound);
    EXPECT_EQ(e, "default");  // absent: nothing said, default kept
    EXPECT_FALSE(eFound);
}

TEST_F(ReaderTest, BoolWords)
{
    char const* yes[] = {"true", "yes", "enabled", "enable", "1"};
    char const* no[] = {"false", "no", "disabled", "disable", "0"};
    char const* bad[] = {"on", "off", "Yes", "TRUE", "2", ""};
    bool v = false;
    IniFile::Private::TKeyValue<bool> binding(&v, "k");
    for (char const* t : yes) {
        v = false;
        EXPECT_TRUE(binding.parse(t)) << t;
        EXPECT_TRUE(v) << t;
    }
    for (char const* t : no) {
        v = true;
        EXPECT_TRUE(binding.parse(t)) << t;
        EXPECT_FALSE(v) << t;
    }
    for (char const* t : bad) {
        v = true;
        EXPECT_FALSE(binding.parse(t)) << t;
        EXPECT_FALSE(binding.found());
        EXPECT_TRUE(v) << t;
    }
}

TEST_F(ReaderTest, EmptyValueIsTextButNotBool)
{
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
    EXPECT_TRUE(binding.parse("-3"));
    EXPECT_EQ(int(t), -3);
    // Names are exact; a failed key leaves the variable as it was.
    t = kZarngw;
    for (char const* bad : {"Qelt", "4x", "", " 4", "\t4", "99999999999", "0x"}) {
        EXPECT_FALSE(binding.parse(bad)) << bad;
        EXPECT_EQ(t, kZarngw) << bad;
    }
    // Without a table only numbers are taken.
    IniFile::Private::TKeyValue<MonitoringAddressType> plain(&t, "name", nullptr);
    EXPECT_FALSE(plain.parse("qelt"));
    EXPECT_TRUE(plain.parse("2"));
    EXPECT_EQ(t, kQelt);
}

TEST_F(ReaderTest, RequiredEnumerationInvalidFailsAndKeepsTheVariable)
{
    std::string name;
    MonitoringAddressType type = kZarngw;
    reader.required.add(&name, "name");
    bool& found = reader.required.add(&type, "name", addressTypes);
    EXPECT_FALSE(reader(load("[snmpagent]\nname=4x\n")));
    EXPECT_EQ(err.str(), "snmpagent: required key \"name\" has invalid value=\"4x\", line 2\n");
    EXPECT_EQ(name, "4x");
    EXPECT_EQ(type, kZarngw);
    EXPECT_FALSE(found);
}

TEST_F(ReaderTest, UnboundKeysAreIgnoredAndAbsentOnesAdded)
{
    std::string s;
    reader.optional.add(&s, "absent");
    SubSection& b = load("[snmpagent]\nother=1\n");
    EXPECT_TRUE(reader(b));
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(b.GetCount(), 2u);  // "absent" was looked up
}

TEST_F(ReaderTest, BindingMadeElsewhere)
{
    int n = 0;
    auto binding = std::make_unique<IniFile::Private::TKeyValue<int>>(&n, "n", nullptr);
    bool& found = reader.required.add(std::move(binding));
    EXPECT_TRUE(reader(load("[snmpagent]\nn=0x10\n")));
    EXPECT_TRUE(found);
    EXPECT_EQ(n, 16);
}

}  // namespace
