#include "param_values.h"

#include <gtest/gtest.h>

namespace {

TLuHash Attrs(const QString &text) {
    TLuHash attrs;
    attrs.Assign(text, true, StdKeySeparators, QStringLiteral("\n"));
    return attrs;
}

} // namespace

TEST(ParamEditKind, TheFirstThreeLettersDecideAndTwoLetterIpOnly) {
    EXPECT_EQ(ParamEditKind("lookup"), vtStringList);
    EXPECT_EQ(ParamEditKind("  Integer "), vtNumber);
    EXPECT_EQ(ParamEditKind("numeric"), vtNumber);
    EXPECT_EQ(ParamEditKind("IP"), vtIpAddress);
    EXPECT_EQ(ParamEditKind("ipaddr"), vtString);
    EXPECT_EQ(ParamEditKind("duration"), vtDuration);
    EXPECT_EQ(ParamEditKind("checks"), vtCheckMap);
    EXPECT_EQ(ParamEditKind(""), vtString);
    EXPECT_EQ(ParamEditKind("string"), vtString);
}

TEST(ParamEditData, TakesEachKindsAttributes) {
    TVirtualEditData list = ParamEditData(Attrs("type=lookup\nvalues=TCP,UDP| both"), "UDP");
    EXPECT_EQ(list.typ, vtStringList);
    EXPECT_EQ(EditListItems(list.list), QStringList({"TCP", "UDP", " both"}));
    EXPECT_EQ(list.val, "UDP");
    EXPECT_FALSE(list.modified);

    TVirtualEditData number = ParamEditData(Attrs("type=int\nmin=0x10\nmax=0x1FFFFFFFF"), "20");
    EXPECT_EQ(number.min, 16);
    EXPECT_EQ(number.max, -1); // cut to 32 bits
    TVirtualEditData checks = ParamEditData(Attrs("type=check\ncount=3\nvalues=a,b,c,d"), "101");
    EXPECT_EQ(checks.max, 3);
    EXPECT_EQ(EditListItems(checks.list).size(), 4);
    EXPECT_EQ(ParamEditData(Attrs("max_len=12"), "x").max, 12);
    EXPECT_TRUE(EditListItems("").isEmpty());
    EXPECT_EQ(EditListItems("a\r\nb\rc"), QStringList({"a", "b", "c"}));
}

TEST(Duration, ParsesTheNumberAndTheFirstLetterOfTheLastUnitCharacter) {
    EXPECT_EQ(ParseDuration("30s"), 30);
    EXPECT_EQ(ParseDuration("5m"), 300);
    EXPECT_EQ(ParseDuration("2H"), 7200);
    EXPECT_EQ(ParseDuration("15"), 15);
    EXPECT_EQ(ParseDuration("5 min"), 5); // the unit read is "n"
    EXPECT_EQ(ParseDuration("abc"), 0);
    EXPECT_EQ(ParseDuration("x10m"), 600);
}

TEST(Duration, IsWrittenInTheLargestExactUnitSoNothingIsRounded) {
    EXPECT_EQ(FormatDuration(0), "0s");
    EXPECT_EQ(FormatDuration(45), "45s");
    EXPECT_EQ(FormatDuration(120), "2m");
    EXPECT_EQ(FormatDuration(121), "121s");
    EXPECT_EQ(FormatDuration(9000), "150m");
    EXPECT_EQ(FormatDuration(10800), "3h");
    EXPECT_EQ(FormatDuration(5400), "90m");
    for (const QString text : {"150m", "121s", "3h", "90m", "45s", "2m", "36h"})
        EXPECT_EQ(FormatDuration(ParseDuration(text)), text);
}

TEST(CheckMap, ReadsCountFlagsAndWritesOneCharacterPerItem) {
    EXPECT_EQ(CheckMapFlags("101", 3, 3), QList<bool>({true, false, true}));
    EXPECT_EQ(CheckMapText(CheckMapFlags("101", 3, 5)), "10100");
    EXPECT_EQ(CheckMapText(CheckMapFlags("1111", 2, 4)), "1100"); // only count flags are read
    EXPECT_EQ(CheckMapText(CheckMapFlags("1", 3, 3)), "100");     // a short value
    EXPECT_EQ(CheckMapText(CheckMapFlags("x1", 5, 2)), "01");     // count beyond the items
    EXPECT_TRUE(CheckMapFlags("1", 1, 0).isEmpty());
}

TEST(NumberKeys, RangeIsCheckedOnTheTextAsItWouldBe) {
    TNumberFormat f;
    f.min = 100;
    f.max = 999;
    EXPECT_FALSE(NumberKeyAccepted(f, "250", 0, 0, 3, u'5')); // whole text selected: 5 < 100
    f.min = 0;
    f.max = 255;
    EXPECT_TRUE(NumberKeyAccepted(f, "25", 2, 2, 0, u'5'));
    EXPECT_FALSE(NumberKeyAccepted(f, "255", 3, 3, 0, u'5'));
    EXPECT_FALSE(NumberKeyAccepted(f, "1", 1, 1, 0, u'x'));
    // Without min < max nothing is checked.
    f.max = 0;
    EXPECT_TRUE(NumberKeyAccepted(f, "99999", 5, 5, 0, u'9'));
}

TEST(NumberKeys, MinusOnlyOnceAndAtTheStartAndNotInHex) {
    TNumberFormat f;
    f.min = -100;
    f.max = 100;
    EXPECT_TRUE(NumberKeyAccepted(f, "", 0, 0, 0, u'-'));
    EXPECT_FALSE(NumberKeyAccepted(f, "-5", 0, 0, 0, u'-'));
    EXPECT_FALSE(NumberKeyAccepted(f, "5", 1, 1, 0, u'-'));
    f.radix = 16;
    f.min = f.max = 0;
    EXPECT_FALSE(NumberKeyAccepted(f, "", 0, 0, 0, u'-'));
    EXPECT_TRUE(NumberKeyAccepted(f, "1", 1, 1, 0, u'f'));
    f.radix = 2;
    EXPECT_FALSE(NumberKeyAccepted(f, "1", 1, 1, 0, u'2'));
}

TEST(NumberKeys, FloatingPointTakesOneSeparatorTypedAsADot) {
    TNumberFormat f;
    f.intNumber = false;
    f.decimalPoint = u',';
    f.min = 0;
    f.max = 10;
    EXPECT_TRUE(NumberKeyAccepted(f, "1", 1, 1, 0, u'.'));
    EXPECT_FALSE(NumberKeyAccepted(f, "1,5", 3, 3, 0, u','));
    EXPECT_TRUE(NumberKeyAccepted(f, "9,", 2, 2, 0, u'9'));
    EXPECT_FALSE(NumberKeyAccepted(f, "10", 2, 2, 0, u'1'));
    EXPECT_DOUBLE_EQ(f.ValueOf("2,5"), 2.5);
    EXPECT_DOUBLE_EQ(f.ValueOf("x"), 0.0);
}

TEST(IpAddress, FourNumbersUpTo255AndPartialTextsWhileTyping) {
    EXPECT_TRUE(IsIpAddressText("192.168.0.1"));
    EXPECT_TRUE(IsIpAddressText("0.0.0.0"));
    EXPECT_FALSE(IsIpAddressText("256.1.1.1"));
    EXPECT_FALSE(IsIpAddressText("1.1.1"));
    EXPECT_FALSE(IsIpAddressText("1.1.1.1.1"));
    EXPECT_FALSE(IsIpAddressText("1..1.1"));
    EXPECT_FALSE(IsIpAddressText("+1.1.1.1"));
    EXPECT_TRUE(IsIpAddressText("192.168.", true));
    EXPECT_TRUE(IsIpAddressText("", true));
    EXPECT_FALSE(IsIpAddressText("192..", true));
    EXPECT_FALSE(IsIpAddressText("1234", true));
}
