#include "LuHash.h"

#include <gtest/gtest.h>

TEST(LuHashJson, WritesIndentedJson)
{
    TLuHash h;
    h.SetVal("a", "1");
    h.SetVal("b", "x");
    h.SetVal("c", "{\rd = 2\r}");
    h.SetVal("e", "[1, 2]");
    h.SetVal("t", "True");
    h.SetVal("f", "1.5");
    h.SetVal("q", "say \"hi\"");
    h.SetVal("z", "007");
    h.SetVal("empty", "");
    EXPECT_EQ(h.AsJson(), "{\r\n"
                          "  \"a\": 1,\r\n"
                          "  \"b\": \"x\",\r\n"
                          "  \"c\": {\r\n"
                          "    \"d\": 2\r\n"
                          "  },\r\n"
                          "  \"e\": [\r\n"
                          "    1,\r\n"
                          "    2\r\n"
                          "  ],\r\n"
                          "  \"t\": True,\r\n"
                          "  \"f\": \"1.5\",\r\n"
                          "  \"q\": \"say \"hi\"\",\r\n"
                          "  \"z\": 007,\r\n"
                          "  \"empty\": \"\"\r\n"
                          "}");
    EXPECT_EQ(TLuHash().AsJson(), "{\r\n}");
}

TEST(LuHashJson, ReadsObjectsArraysAndQuotedCommas)
{
    TLuHash h;
    EXPECT_EQ(h.AssignJson(R"({"name": "abc", "n": 5, "list": [1, 2, 3], "sub": {"x": "y"}, "c": "x, y"})", true), 5);
    EXPECT_EQ(h.GetVal("name"), "abc");
    EXPECT_EQ(h.GetVal("n"), "5");
    EXPECT_EQ(h.GetVal("list"), "[1,2,3]");
    EXPECT_EQ(h.GetVal("sub"), "{x=y}");
    EXPECT_EQ(h.GetVal("c"), "x, y");

    EXPECT_EQ(h.AssignJson(R"({"n": 6, "new": 1})", false), 2);
    EXPECT_EQ(h.GetVal("n"), "6");
    EXPECT_EQ(h.GetVal("name"), "abc");
    EXPECT_EQ(h.AssignJson("  ", true), 0);
    EXPECT_EQ(h.Count(), 0);
}

TEST(LuHashJson, WrittenJsonReadsBack)
{
    TLuHash h;
    h.SetVal("server", "gps.example.net");
    h.SetVal("port", "5027");
    h.SetVal("link", "{\rapn=internet\rretries=3\r}");
    h.SetVal("outs", "[1,0,1]");
    TLuHash back;
    back.AssignJson(h.AsJson(), true);
    EXPECT_EQ(back.GetVal("server"), "gps.example.net");
    EXPECT_EQ(back.GetVal("port"), "5027");
    EXPECT_EQ(back.GetVal("outs"), "[1,0,1]");
    TLuHash link;
    link.Assign(back.GetVal("link"), true);
    EXPECT_EQ(link.AsText("=", ","), "apn=internet,retries=3");
}

TEST(LuHashExpand, KeysAndEnvironment)
{
    qputenv("VELTRA_TEST_HOME", "/home/t");
    qunsetenv("VELTRA_NO_SUCH_VARIABLE");
    TLuHash h;
    h.SetVal("home", "/h");
    h.SetVal("path", "$home$/bin:$HOME$/sbin");
    h.SetVal("miss", "$missing$x");
    h.SetVal("env", "%VELTRA_TEST_HOME%/a %VELTRA_NO_SUCH_VARIABLE%");
    h.ExpandValues();
    EXPECT_EQ(h.GetVal("path"), "/h/bin:/h/sbin");
    EXPECT_EQ(h.GetVal("miss"), "x");
    EXPECT_EQ(h.GetVal("env"), "/home/t/a #VELTRA_NO_SUCH_VARIABLE#");

    TLuHash ref;
    ref.SetVal("home", "/r");
    TLuHash other;
    other.SetVal("p", "$home$");
    other.ExpandValues(&ref);
    EXPECT_EQ(other.GetVal("p"), "/r");
}

TEST(LuHashExpand, CyclesStopAndLeaveTheReference)
{
    qputenv("VELTRA_SELF", "%VELTRA_SELF%!");
    TLuHash h;
    h.SetVal("self", "a$self$");
    h.SetVal("x", "$y$");
    h.SetVal("y", "$x$");
    h.SetVal("e", "%VELTRA_SELF%");
    h.ExpandValues();
    EXPECT_EQ(h.GetVal("self"), "aa$self$");
    EXPECT_EQ(h.GetVal("x"), "$y$");
    EXPECT_EQ(h.GetVal("y"), "$x$");
    EXPECT_EQ(h.GetVal("e"), "%VELTRA_SELF%!");
}

TEST(LuHashExpand, ANameThatComesBackWithoutACycleIsExpandedEachTime)
{
    TLuHash h;
    h.SetVal("a", "A");
    h.SetVal("b", "$a$");
    h.SetVal("c", "$a$-$b$-$B$");
    h.SetVal("d", "$c$|$c$");
    h.ExpandValues();
    EXPECT_EQ(h.GetVal("c"), "A-A-A");
    EXPECT_EQ(h.GetVal("d"), "A-A-A|A-A-A");

    // A chain deeper than any configuration has ends with the reference left in place, not a crash.
    TLuHash deep;
    for (int i = 0; i < 5000; ++i)
        deep.SetVal(QStringLiteral("k%1").arg(i), QStringLiteral("$k%1$").arg(i + 1));
    deep.SetVal("k5000", "end");
    deep.ExpandValues();
    EXPECT_EQ(deep.GetVal("k4990"), "end");
    EXPECT_TRUE(deep.GetVal("k0").startsWith("$k"));
}

int CompareByLength(const QString &a, const QString &b) { return int(a.size() - b.size()); }

TEST(LuHashSort, NumericAwareAndCustom)
{
    TLuHash h;
    for (const char *k : {"b", "10", "A", "9"})
        h.SetVal(k, QString("v") + k);
    h.Sort();
    EXPECT_TRUE(h.Sorted());
    EXPECT_EQ(h.Keys(","), "9,10,A,b");
    EXPECT_EQ(h.GetVal("10"), "v10");
    EXPECT_EQ(h.KeyIndex("a"), 2);

    TLuHash byLen;
    byLen.SetVal("ccc", "3");
    byLen.SetVal("a", "1");
    byLen.SetVal("bb", "2");
    byLen.SetOnCompare(CompareByLength);
    byLen.Sort();
    EXPECT_EQ(byLen.Keys(","), "a,bb,ccc");
    byLen.SetVal("d", "new");
    EXPECT_FALSE(byLen.Sorted());
}
