#include "LuStrings.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

QStringList Items(const TLuStringList &l) {
    QStringList out;
    for (int i = 0; i < l.Count(); ++i)
        out << l[i];
    return out;
}

int ByLength(const QString &a, const QString &b) {
    return int(a.size() - b.size());
}

} // namespace

TEST(LuStringList, TextSplitsOnEveryLineEndAndItemsAreRightTrimmed) {
    TLuStringList l;
    EXPECT_EQ(l.AddText("a\r\n\r\n  b \r\n"), 3);
    EXPECT_EQ(Items(l), QStringList({"a", "", "  b"}));
    l.SetText("a\nb\rc \r\n \r\n");
    EXPECT_EQ(Items(l), QStringList({"a", "b", "c"}));
    l.SetText("   ");
    EXPECT_EQ(Items(l), QStringList({""}));
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
}

TEST(LuStringList, InsertClampsAndQueueOperationsTakeFromBothEnds) {
    TLuStringList l("b\rc");
    l.Insert(99, "d\t");
    l.Insert(-5, "a");
    EXPECT_EQ(Items(l), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(l.Pop(), "d");
    EXPECT_EQ(l.Shift(), "a");
    EXPECT_EQ(Items(l), QStringList({"b", "c"}));
    TLuStringList empty;
    EXPECT_EQ(empty.Pop() + empty.Shift() + empty[0], "");
}

TEST(LuStringList, JoinLeavesTracesOfEmptyItemsOnlyInsideAndAtTheEnd) {
    const TLuStringList abc("a\rb\rc");
    EXPECT_EQ(abc.First(2), "a\rb");
    EXPECT_EQ(abc.Last(5), "a\rb\rc");
    EXPECT_EQ(abc.First(0), "");
    TLuStringList l("a\r");
    l.Add("");
    EXPECT_EQ(l.GetText(), "a\r\n\r\n");
    l.SetText("\ra\r\rb");
    EXPECT_EQ(l.Join(",", -3, 99), "a,,b");
    EXPECT_EQ(l.Join(",", 0, 0), ",");
}

TEST(LuStringList, DeleteTrashDropsBlankAndCommentLinesAndTrimsTheRest) {
    TLuStringList l("  ; x\r# y\r   \r z \r/w");
    l.DeleteEmpty();
    EXPECT_EQ(Items(l), QStringList({"  ; x", "# y", " z", "/w"}));
    l.DeleteTrash();
    EXPECT_EQ(Items(l), QStringList({"z", "/w"}));
}

TEST(LuStringList, SortComparesIntegersByValueAndTextsByCodeUnit) {
    TLuStringList l("10\r9\rb\rA\r100");
    l.Sort(false);
    EXPECT_EQ(Items(l), QStringList({"9", "10", "100", "A", "b"}));
    l.Sort(true);
    EXPECT_EQ(Items(l), QStringList({"b", "A", "100", "10", "9"}));
    l.SetText("5\r-3\r+4\rab\ra\r\u00e9\rZ");
    l.Sort(false);
    EXPECT_EQ(Items(l), QStringList({"-3", "+4", "5", "Z", "a", "ab", "\u00e9"}));
    l.SetOnCompare(ByLength);
    l.Sort(false);
    EXPECT_EQ(l[3].size() + l[4].size(), 3);
}

TEST(LuStringList, SortHandlesLargeListsFullOfDuplicates) {
    TLuStringList l;
    for (int i = 0; i < 20000; ++i)
        l.Add(i % 3 ? QString::number((i * 7919) % 50) : QStringLiteral("cmd"));
    QStringList expected = Items(l);
    std::sort(expected.begin(), expected.end(),
              [](const QString &a, const QString &b) { return TLuStringList::CompareDefault(a, b) < 0; });
    l.Sort(false);
    EXPECT_EQ(Items(l), expected);
}

TEST(LuStringList, SearchIsCaseSensitiveAndClearResetsTheTag) {
    TLuStringList l("abc\rxABCx");
    EXPECT_EQ(l.IndexOf("ABC"), -1);
    EXPECT_EQ(l.Find("ABC"), 1);
    EXPECT_EQ(l.Find(""), -1);
    l.SetTag(7);
    l.Assign("one<BR>two<br>three", "<br>");
    EXPECT_EQ(Items(l), QStringList({"one", "two", "three"}));
    EXPECT_EQ(l.Tag(), 0);
}

TEST(LuStringList, FilesAreWrittenAndReadInTheAnsiCodePage) {
    QTemporaryDir dir;
    const QString fn = dir.filePath("list.txt");
    TLuStringList l("Привет\r\rb");
    EXPECT_EQ(l.SaveToFile(fn, true), 3);
    EXPECT_EQ(l.SaveToFile("", false), 3);
    QFile f(fn);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2\r\n\r\nb\r\n").repeated(2));
    f.close();
    EXPECT_EQ(l.SaveToFile(dir.filePath("no/such/file.txt"), true), -1);

    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xCF\xF0\xE8\xE2\xE5\xF2\nb\rc  \r\n\r\n");
    f.close();
    TLuStringList r;
    EXPECT_EQ(r.LoadFromFile(fn), 4);
    EXPECT_EQ(Items(r), QStringList({"Привет", "b", "c", ""}));
    EXPECT_EQ(r.LoadFromFile(dir.filePath("missing.txt")), -1);
    EXPECT_EQ(r.Count(), 4);
}
