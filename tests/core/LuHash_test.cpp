#include "LuFiles.h"
#include "LuHash.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString CR = QStringLiteral("\r");

TLuHash Parsed(const QString &text, bool overwrite = true, const QString &lineSep = QStringLiteral("\r"))
{
    TLuHash h;
    h.Assign(text, overwrite, StdKeySeparators, lineSep);
    return h;
}

} // namespace

TEST(LuHashText, EmptyBlankAndCommentTextsGiveNoEntries)
{
    EXPECT_EQ(Parsed("").Count(), 0);
    EXPECT_EQ(Parsed("   \r \n\t").Count(), 0);
    TLuHash h;
    EXPECT_EQ(h.Assign("# one\r// two\r; three", true), 0);
    EXPECT_EQ(h.Count(), 0);
}

TEST(LuHashText, SeparatorsKeysAndValues)
{
    TLuHash h = Parsed("=value\rkey\r  key2  =  some value  \ra b=c\rx\tb c\rname value with blanks");
    EXPECT_EQ(h.Count(), 5);
    EXPECT_EQ(h.KeyIndex("key"), 0);
    EXPECT_EQ(h.GetVal("key"), "");
    EXPECT_EQ(h.GetVal("key2"), "some value");
    EXPECT_EQ(h.GetVal("a b"), "c");
    EXPECT_EQ(h.GetVal("x"), "b c");
    EXPECT_EQ(h.GetVal("name"), "value with blanks");
    EXPECT_EQ(h.Keys(","), "key,key2,a b,x,name");
}

TEST(LuHashText, OverwriteRulesKeepFirstSpellingAndPlace)
{
    TLuHash h = Parsed("Name=1\rother=x\rNAME=2");
    ASSERT_EQ(h.Count(), 2);
    EXPECT_EQ(h.GetKey(0), "Name");
    EXPECT_EQ(h.GetVal("name"), "2");

    TLuHash keep = Parsed("Name=1\rNAME=2", false);
    EXPECT_EQ(keep.GetVal("Name"), "1");

    TLuHash fill;
    fill.SetVal("empty", "");
    EXPECT_EQ(fill.Assign("empty=now\rempty=later", false), 2);
    EXPECT_EQ(fill.GetVal("empty"), "now");
}

TEST(LuHashText, OnlyAsciiLettersFoldForKeys)
{
    TLuHash h = Parsed(QString::fromUtf8("ключ=1\rКЛЮЧ=2\rKey=3\rkEY=4"));
    EXPECT_EQ(h.Count(), 3);
    EXPECT_EQ(h.GetVal(QString::fromUtf8("ключ")), "1");
    EXPECT_EQ(h.GetVal(QString::fromUtf8("КЛЮЧ")), "2");
    EXPECT_EQ(h.GetVal(" KEY "), "4");
}

TEST(LuHashText, BlockValuesSpanLines)
{
    TLuHash h = Parsed("list=[1,\r2]\robj = {\r  a = 1\r\r}\rafter=x");
    EXPECT_EQ(h.GetVal("list"), "[1," + CR + "2]");
    EXPECT_EQ(h.GetVal("obj"), "{" + CR + "a = 1" + CR + "}");
    EXPECT_EQ(h.GetVal("after"), "x");

    TLuHash nested = Parsed("c = {\rd = {\rx=1\r}\r# kept\r}\rz=1");
    EXPECT_EQ(nested.GetVal("c"), "{\rd = {\rx=1\r}\r# kept\r}");
    EXPECT_EQ(nested.GetVal("z"), "1");

    TLuHash open = Parsed("v=[abc\rnext=1\rlast=2");
    EXPECT_EQ(open.Count(), 1);
    EXPECT_EQ(open.GetVal("v"), "[abc\rnext=1\rlast=2");
}

TEST(LuHashText, EnclosedTextAndCustomLineSeparator)
{
    TLuHash h = Parsed("{a=1\rb=2}");
    EXPECT_EQ(h.GetVal("a"), "1");
    EXPECT_EQ(h.GetVal("b"), "2");

    TLuHash semi = Parsed("a=1;b=2\nc=3", true, ";");
    EXPECT_EQ(semi.Count(), 3);
    EXPECT_EQ(semi.GetVal("c"), "3");
}

TEST(LuHashText, AsTextRoundTripAndItsLimits)
{
    TLuHash h;
    h.SetVal(" k ", " v ");
    EXPECT_EQ(h.GetKey(0), "k");
    EXPECT_EQ(h.GetVal("k"), " v");
    h.Clear();
    h.SetVal("a", "1");
    h.SetVal("b", "2");
    EXPECT_EQ(h.AsText("=", "\r\n"), "a=1\r\nb=2");
    EXPECT_EQ(TLuHash().AsText("=", "\r\n"), "");

    TLuHash odd;
    odd.SetVal("a=b", "c");
    odd.SetVal("blk", "{\rx=1\r}");
    TLuHash back = Parsed(odd.AsText("=", "\r\n"));
    EXPECT_EQ(back.GetVal("a"), "b=c");
    EXPECT_EQ(back.GetVal("blk"), "{\rx=1\r}");
}

TEST(LuHashStore, RemoveKeepsOrderAndIndex)
{
    TLuHash h = Parsed("a=1\rb=2\rc=3");
    h.Remove(5);
    EXPECT_EQ(h.Count(), 3);
    h.Remove("A");
    EXPECT_EQ(h.Keys(","), "b,c");
    EXPECT_EQ(h.KeyIndex("c"), 1);
    h.SetVal("a", "again");
    EXPECT_EQ(h.KeyIndex("a"), 2);
    EXPECT_EQ(h.GetValByIndex(7), "");
    h.SetValByIndex(7, "ignored");
    EXPECT_EQ(h.Count(), 3);
}

TEST(LuHashStore, IncAppendKeysByVal)
{
    TLuHash h;
    EXPECT_EQ(h.Inc("n", qint64(5)), 5);
    EXPECT_EQ(h.GetVal("n"), "5");
    EXPECT_DOUBLE_EQ(h.Inc("f", 1.5), 1.5);
    EXPECT_EQ(h.GetVal("f"), "1.50");
    EXPECT_EQ(h.Append("s", "b", ","), "b");
    h.SetVal("t", "a");
    EXPECT_EQ(h.Append("t", "b", ","), "a,b");
    h.SetVal("u", "b");
    EXPECT_EQ(h.KeysByVal("b", ";"), "s;u");
    EXPECT_EQ(h.KeysByVal("B", ";"), "");
}

TEST(LuHashStore, MergeFromOtherStore)
{
    TLuHash target;
    TLuHash empties = Parsed("only");
    EXPECT_EQ(target.Assign(&empties), 0);
    EXPECT_EQ(target.Count(), 0);
    EXPECT_EQ(target.Assign(nullptr), 0);

    target = Parsed("a=1\rb=2");
    target.Sort();
    TLuHash same = Parsed("A=1");
    EXPECT_EQ(target.Assign(&same), 0);
    EXPECT_TRUE(target.Sorted());
    TLuHash other = Parsed("b=3\rc=4");
    EXPECT_EQ(target.Assign(&other), 2);
    EXPECT_FALSE(target.Sorted());
    EXPECT_EQ(target.AsText("=", ","), "a=1,b=3,c=4");
}

TEST(LuHashTyped, ReadsAndWrites)
{
    TLuHash h = Parsed("a=42\rb=0x1F\rc=#ff\rd=010\re=08\rf=-5\rg=1.5");
    const qint64 expected[] = {42, 31, 255, 8, 0, -5, 0};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(h.GetAsInteger(h.GetKey(i)), expected[i]) << h.GetKey(i).toStdString();

    h.SetAsHex("hex", 31);
    EXPECT_EQ(h.GetVal("hex"), "1F");
    h.SetAsHex("neg", -1);
    EXPECT_EQ(h.GetVal("neg"), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(h.GetAsHex("b"), 0);
    h.SetAsInteger("i", -12);
    EXPECT_EQ(h.GetVal("i"), "-12");
    h.SetAsDouble("d", 2.5);
    EXPECT_EQ(h.GetVal("d"), "2.50");
    h.SetVal("comma", "3,25");
    EXPECT_DOUBLE_EQ(h.GetAsDouble("comma"), 3.25);
    h.SetAsPointer("p", 0xBEEF);
    EXPECT_EQ(h.GetVal("p"), "0000BEEF");
    EXPECT_EQ(h.GetAsPointer("p"), quintptr(0xBEEF));
}

TEST(LuHashTyped, BoolsAndDates)
{
    TLuHash h = Parsed("y=yes\rt=True\ro=on\rz=0\rf=false\re=");
    EXPECT_TRUE(h.GetAsBool("y"));
    EXPECT_TRUE(h.GetAsBool("t"));
    EXPECT_FALSE(h.GetAsBool("o"));
    EXPECT_FALSE(h.GetAsBool("z"));
    EXPECT_FALSE(h.GetAsBool("f"));
    EXPECT_FALSE(h.GetAsBool("e"));
    h.SetAsBool("b", true);
    EXPECT_EQ(h.GetVal("b"), "true");

    h.SetVal("when", "05.03.2013 14:07:09");
    const TDateTime when = h.GetAsDateTime("when");
    EXPECT_NE(when, 0);
    h.SetAsDateTime("copy", when);
    EXPECT_EQ(h.GetVal("copy"), "05.03.2013 14:07:09");
    EXPECT_EQ(h.GetAsDateTime("missing"), 0);
}

TEST(LuHashFiles, SaveLoadWithIncludesAndCommandLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString main = dir.filePath("main.conf");
    WriteTextFile(dir.filePath("extra.conf"), QString::fromUtf8("extra=1\r\nname=Ёж"), true);
    WriteTextFile(main, "# settings\r\nname=first\r\n#include extra.conf\r\nlast = 2\r\n", true);

    TLuHash h(main);
    EXPECT_EQ(h.Keys(","), "name,extra,last");
    EXPECT_EQ(h.GetVal("name"), QString::fromUtf8("Ёж"));

    const QString saved = dir.filePath("saved.cfg");
    EXPECT_EQ(h.Save(saved, "="), 3);
    QFile f(saved);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("name=\xA8\xE6\r\nextra=1\r\nlast=2"));

    TLuHash back;
    EXPECT_EQ(back.Load(saved, true), 3);
    EXPECT_EQ(back.AsText("=", "|"), h.AsText("=", "|"));
    EXPECT_EQ(back.Load(dir.filePath("missing"), true), 0);

    TLuHash cmd;
    EXPECT_EQ(cmd.AssignCommandLine({"/usr/bin/prog", "log_level=3", "flag", "/skip", "dir=with blank"}), 3);
    EXPECT_EQ(cmd.GetVal("log_level"), "3");
    EXPECT_EQ(cmd.KeyIndex("flag"), 1);
    EXPECT_EQ(cmd.GetVal("dir"), "with blank");
    EXPECT_EQ(cmd.KeyIndex("/usr/bin/prog"), -1);
}
