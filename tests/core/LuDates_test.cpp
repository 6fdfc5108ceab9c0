#include "LuDates.h"

#include <gtest/gtest.h>

namespace {

// Day, month, year as one number (ddmmyyyy) and hour, minute, second, millisecond as hhmmsszzz, so a
// whole parse compares in one expectation.
qint64 DateOf(const QString &text) {
    quint16 d, m, y;
    ParseDate(text, d, m, y);
    return d * 1000000LL + m * 10000 + y;
}

qint64 TimeOf(const QString &text) {
    quint16 h, n, z, s;
    ParseTime(text, h, n, z, s);
    return h * 10000000LL + n * 100000 + s * 1000 + z;
}

constexpr double March5th2013 = 41338;
constexpr double At140709 = (14 * 3600 + 7 * 60 + 9) / 86400.0;

} // namespace

TEST(LuDates, DatePatternsInTheirOrderAndShortYears) {
    EXPECT_EQ(DateOf("05.03.2013 14:07:09"), 5032013);
    EXPECT_EQ(DateOf("on 03/05/2013"), 5032013);
    EXPECT_EQ(DateOf("2013-03-05"), 5032013);
    EXPECT_EQ(DateOf("20130305"), 5032013);
    EXPECT_EQ(DateOf("2013-03-05 or 01.02.2003"), 1022003);
    EXPECT_EQ(DateOf("no date 12:30"), 0);
    EXPECT_EQ(DateOf("05.03.13"), 5031913);
    EXPECT_EQ(DateOf("05.03.113"), 5032013);
    EXPECT_EQ(DateOf("1.2.3"), 1021903);
}

TEST(LuDates, TimeWithColonsOrAsTrailingSixDigits) {
    EXPECT_EQ(TimeOf("at 14:07"), 140700000);
    EXPECT_EQ(TimeOf("14:07:09:250"), 140709250);
    EXPECT_EQ(TimeOf("14:07:09.250"), 140709000);
    EXPECT_EQ(TimeOf("20130305140709"), 140709000);
    EXPECT_EQ(TimeOf("140709 later"), 0);
}

TEST(LuDates, DateTimeValueCountsDaysWithTheTimeAsFraction) {
    EXPECT_DOUBLE_EQ(ParseDateTime("05.03.2013 14:07:09"), March5th2013 + At140709);
    EXPECT_DOUBLE_EQ(ParseDateTime("20130305140709"), March5th2013 + At140709);
    EXPECT_DOUBLE_EQ(ParseDateTime("20130305"), March5th2013 + (13 * 3600 + 3 * 60 + 5) / 86400.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 31, 12, 0, 0, 0), 1.5);
}

TEST(LuDates, ImpossibleDatesAndTimesGiveZero) {
    for (const char *text :
         {"14:07", "31.02.2013", "29.02.2013", "05.03.2013 25:00", "05.13.2013", "1.1.12013"})
        EXPECT_EQ(ParseDateTime(text), 0) << text;
    EXPECT_NE(ParseDateTime("29.02.2012"), 0);
    EXPECT_EQ(EncodeDateTime(2013, 3, 5, 12, 60, 0, 0), 0);
    EXPECT_EQ(EncodeDateTime(2013, 3, 5, 12, 0, 0, 1000), 0);
    EXPECT_EQ(EncodeDateTime(0, 3, 5, 0, 0, 0, 0), 0);
}

TEST(LuDates, TextFormOfAValue) {
    EXPECT_EQ(DateTimeToText(March5th2013 + At140709), "05.03.2013 14:07:09");
    EXPECT_EQ(DateTimeToText(March5th2013 + At140709 - 1e-10), "05.03.2013 14:07:09");
    EXPECT_EQ(DateTimeToText(EncodeDateTime(9, 1, 2, 3, 4, 5, 999)), "02.01.0009 03:04:05");
    EXPECT_EQ(DateTimeToText(0), "");
    EXPECT_EQ(DateTimeToText(1e9), "");
}
