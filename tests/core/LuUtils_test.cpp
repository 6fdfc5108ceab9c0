#include "LuPlatform.h"
#include "LuUtils.h"

#include <QLocale>
#include <QRegularExpression>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

TEST(LuUtilsNumbers, IntToText) {
    EXPECT_EQ(IntToBase(4, 16, 255), "00FF");
    EXPECT_EQ(IntToBase(0, 2, 5), "101");
    EXPECT_EQ(IntToBase(3, 10, -7), "-007");
    EXPECT_EQ(IntToBase(0, 7, 5), "");
    EXPECT_EQ(IntToBase(0, 16, -1), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(IntToDec(0, 0), "0");
    EXPECT_EQ(IntToDec(0, std::numeric_limits<qint64>::min()), "-9223372036854775808");
}

TEST(LuUtilsNumbers, TextToIntAutomaticBase) {
    for (const char *text : {"0x1f", "0X1F", "#1F", "x1F", "X1f", "31"})
        EXPECT_EQ(TextToInt(text, -1, -99), 31) << text;
    EXPECT_EQ(TextToInt("017", -1, -99), 15);
    EXPECT_EQ(TextToInt("0", -1, -99), 0);
    EXPECT_EQ(TextToInt("-12", -1, -99), -12);
    for (const char *text : {"09", "-0x10", "0x", "h1F", "1Fh"})
        EXPECT_EQ(TextToInt(text, -1, -99), -99) << text;
}

TEST(LuUtilsNumbers, TextToIntExplicitBase) {
    EXPECT_TRUE(IsNumberText("-", 10));
    EXPECT_FALSE(IsNumberText("", 10));
    EXPECT_FALSE(IsNumberText("1-2", 10));
    EXPECT_FALSE(IsNumberText("8", 8));
    EXPECT_EQ(TextToInt("1F", 16, -99), 31);
    EXPECT_EQ(TextToInt(" 42 ", 10, -99), 42);
    EXPECT_EQ(TextToInt("-", 10, -99), 0);
    EXPECT_EQ(TextToInt("0x1F", 16, -99), -99);
    EXPECT_EQ(TextToInt("12a", 10, -99), -99);
    EXPECT_EQ(TextToInt("12", 7, -99), -99);
    EXPECT_EQ(DecToInt("18446744073709551615", 0), -1); // wraps modulo 2^64
}

TEST(LuUtilsNumbers, FloatsIgnoreTheUserLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FloatToDec(3.14159, 2), "3.14");
    EXPECT_EQ(FloatToDec(-2.5, 0), "-2.50");
    EXPECT_EQ(FloatToDec(1234567.5, 1), "1234567.5");
    EXPECT_EQ(FloatToDec(-0.001, 2), "0.00");
    EXPECT_DOUBLE_EQ(TextToFloat("3.5"), 3.5);
    EXPECT_DOUBLE_EQ(TextToFloat(" 3,5 "), 3.5);
    EXPECT_DOUBLE_EQ(TextToFloat("-1e3"), -1000.0);
    QLocale::setDefault(QLocale::c());
    for (const char *bad : {"", "1.234,5", "1,234.5", "abc", "inf", "nan", "1e999"})
        EXPECT_EQ(TextToFloat(bad), 0.0) << bad;
}

TEST(LuUtilsText, TrimAndCase) {
    EXPECT_EQ(TrimText(QString("\x01\t a b \r\n") + QChar(0xA0)), QString("a b \r\n") + QChar(0xA0));
    EXPECT_EQ(TrimLeftText(" \x1F x "), "x ");
    EXPECT_EQ(TrimRightText(" x \x1F"), " x");
    EXPECT_EQ(LowerChar(QChar(0x042F)), QChar(0x044F)); // Я -> я
    EXPECT_EQ(LowerChar(QChar(0x0401)), QChar(0x0401)); // Ё is outside the moved range
    EXPECT_EQ(UpperChar(QChar(0x0451)), QChar(0x0401));
}

TEST(LuUtilsText, EscapedTextIsOneFieldAndComesBack) {
    EXPECT_EQ(EscapeText("a,b;c d\r\n"), R"(a\x2Cb\x3Bc\sd\r\n)");
    // Control codes take three digits, so that the characters after them stay what they were.
    EXPECT_EQ(EscapeText(QString("\x07|\x1B|") + QChar(0)), R"(\007|\027|\000)");
    for (const QString &s : {QString("a,b;c d\r\n"), QString("C:\\dir\\ end\\"), QString("\t\"!\"\x1B"),
                             QString("Привет, мир"), QString("\x07" "ab\x01" "23\x1F" "9")}) {
        const QString escaped = EscapeText(s);
        EXPECT_FALSE(escaped.contains(QRegularExpression("[\\x00-\\x20,;]"))) << escaped.toStdString();
        EXPECT_EQ(UnescapeText(escaped), s);
    }
}

TEST(LuUtilsText, UnescapeSequences) {
    EXPECT_EQ(UnescapeText(R"(C:\temp)"), "C:\temp");
    EXPECT_EQ(UnescapeText(R"(a\qb)"), R"(a\qb)");
    EXPECT_EQ(UnescapeText(R"(\!\"\\end\)"), R"(!"\end)");
    EXPECT_EQ(UnescapeText(R"(\013x)"), "\rx");
    EXPECT_EQ(UnescapeText(R"(\65)"), "A");
    EXPECT_EQ(UnescapeText(R"(\7abc)"), QString(QChar(0)) + "c");
    EXPECT_EQ(UnescapeText(R"(\x41\x3b\x4)"), "A;\x04");
    EXPECT_EQ(UnescapeText(R"(\xZZ!)"), QString(QChar(0)) + "!");
}

TEST(LuUtilsText, ReplaceIgnoresCaseWithoutRescanning) {
    EXPECT_EQ(ReplaceAll("Abc abc", "ABC", "x"), "x x");
    EXPECT_EQ(ReplaceAll("aAa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("Привет ПРИВЕТ", "привет", "hi"), "hi hi");
    EXPECT_EQ(ReplaceAny("ab", {"a", "xB"}, "x"), "x");
}

TEST(LuUtilsText, Parts) {
    EXPECT_EQ(RepeatText("ab", 2) + RepeatChar('x', -1), "abab");
    EXPECT_EQ(LeftPart("abcdef", -2), "abcd");
    EXPECT_EQ(LeftPart("abcdef", -9), "");
    EXPECT_EQ(RightPart("abcdef", 2), "ef");
    EXPECT_EQ(RightPart("abcdef", 0), "bcdef");
    EXPECT_EQ(StripEnclosing("\"text\"", "\"", "\""), "text");
    EXPECT_EQ(StripEnclosing("{a}", "{", "}"), "a");
    EXPECT_EQ(StripEnclosing("[[a] ", "[[", "]"), "a]");
    EXPECT_EQ(StripEnclosing(" \"x\"", "\"", "\""), "\"x");
    EXPECT_EQ(StripEnclosing("(" + QString(100005, 'z'), "(", ")").size(), 99999);
}

TEST(LuUtilsText, SeparatorsAndFields) {
    EXPECT_EQ(FindSeparator(StdKeySeparators, "a b=c"), 4);
    EXPECT_EQ(FindSeparator(StdKeySeparators, "abc"), -1);
    int start = -7;
    EXPECT_EQ(ExtractField(3, "x,y", ",", &start), "");
    EXPECT_EQ(start, -7);
    EXPECT_EQ(ExtractField(2, "a,,b", ",", &start), "");
    EXPECT_EQ(start, 3);
    EXPECT_EQ(ExtractField(3, "a,,b", ",", &start), "b");
    EXPECT_EQ(ExtractField(2, "R_INFO \t 1", "\t ", &start), "1");
    EXPECT_EQ(start, 10);
    EXPECT_EQ(ExtractField(0, "x,y", ","), "x");
}

TEST(LuUtilsSystem, ErrorTexts) {
    EXPECT_EQ(SystemErrorText(99999), "[99999]");
    const QString denied = SystemErrorText(EACCES);
    EXPECT_TRUE(denied.endsWith(QString(" [%1]").arg(EACCES)) && denied.size() > 5) << denied.toStdString();
    // -1 stands for the thread's last system error (errno, or GetLastError on Windows).
    errno = EACCES;
    EXPECT_EQ(SystemErrorText(-1), SystemErrorText(LastSystemError()));
}

namespace {

// Restores the process-wide code page whatever a test switched it to.
class LuUtilsAnsi : public ::testing::Test {
protected:
    void TearDown() override { ASSERT_TRUE(SetAnsiCodePage("windows-1251")); }
};

} // namespace

TEST_F(LuUtilsAnsi, Windows1251ByDefault) {
    EXPECT_EQ(AnsiCodePage(), "windows-1251");
    const QString word = QString::fromUtf8("Жук Ёж №5");
    const QByteArray bytes("\xC6\xF3\xEA \xA8\xE6 \xB9\x35");
    EXPECT_EQ(ToAnsiText(word), bytes);
    EXPECT_EQ(FromAnsiText(bytes), word);
    EXPECT_EQ(FromAnsiBuffer("\xCF\xF0\0ignored"), QString::fromUtf8("Пр"));
    EXPECT_EQ(ToAnsiText(QString::fromUtf8("ä中😀")), QByteArray("????"));
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        all[b] = char(b);
    EXPECT_EQ(ToAnsiText(FromAnsiText(all)), all);
}

TEST_F(LuUtilsAnsi, SwitchingCodePages) {
    for (const char *bad : {"no-such-page", "UTF-8", "UTF-16", "Shift_JIS", ""})
        EXPECT_FALSE(SetAnsiCodePage(bad)) << bad;
    EXPECT_EQ(AnsiCodePage(), "windows-1251");
    ASSERT_TRUE(SetAnsiCodePage("KOI8-R"));
    EXPECT_EQ(ToAnsiChar(QChar(0x0416)), '\xF6');
    EXPECT_EQ(FromAnsiChar('\xE1'), QChar(0x0410));
    ASSERT_TRUE(SetAnsiCodePage("ISO-8859-1"));
    EXPECT_EQ(ToAnsiText(QString::fromUtf8("Жä")), QByteArray("?\xE4"));
}

TEST_F(LuUtilsAnsi, ConvertsWhileAnotherThreadSwitches) {
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int i = 0; i < 200; ++i)
            SetAnsiCodePage(i % 2 ? "KOI8-R" : "windows-1251");
        done = true;
    });
    for (int n = 0; !done || n == 0; ++n) {
        const char b = ToAnsiChar(QChar(0x0416));
        ASSERT_TRUE(b == '\xC6' || b == '\xF6') << int(b);
    }
    switcher.join();
}
