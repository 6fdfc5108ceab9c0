#include "LuDates.h"

#include "LuUtils.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// 30 December 1899, day 0 of the date-time values.
constexpr QDate DayZero = QDate::fromJulianDay(2415019);
constexpr double MsecsPerDay = 86400000.0;

quint16 GroupValue(const QRegularExpressionMatch &m, int group) {
    return quint16(DecToInt(m.captured(group), 0));
}

struct TDatePattern {
    QRegularExpression re;
    int dayGroup;
    int monthGroup;
    int yearGroup;
};

} // namespace

void ParseDate(const QString &text, quint16 &day, quint16 &month, quint16 &year) {
    // European first, then American, then ISO with and without dashes: the order decides ambiguous texts.
    static const std::array<TDatePattern, 4> patterns = {{
        {QRegularExpression(QStringLiteral("(\\d+)\\.(\\d+)\\.(\\d+)")), 1, 2, 3},
        {QRegularExpression(QStringLiteral("(\\d+)/(\\d+)/(\\d+)")), 2, 1, 3},
        {QRegularExpression(QStringLiteral("(\\d+)-(\\d+)-(\\d+)")), 3, 2, 1},
        {QRegularExpression(QStringLiteral("(\\d{4})(\\d{2})(\\d{2})")), 3, 2, 1},
    }};
    day = month = year = 0;
    for (const TDatePattern &p : patterns) {
        const QRegularExpressionMatch m = p.re.match(text);
        if (!m.hasMatch())
            continue;
        day = GroupValue(m, p.dayGroup);
        month = GroupValue(m, p.monthGroup);
        year = GroupValue(m, p.yearGroup);
        break;
    }
    // Short years are taken as offsets from 1900, so two-digit years land in the 20th century.
    if (year != 0 && year < 1000)
        year += 1900;
}

void ParseTime(const QString &text, quint16 &hour, quint16 &minute, quint16 &millisecond, quint16 &second) {
    static const QRegularExpression colons(QStringLiteral("(\\d+):(\\d+):*(\\d+)*:*(\\d+)*"));
    static const QRegularExpression packed(QStringLiteral("(\\d{2})(\\d{2})(\\d{2})$"));
    hour = minute = millisecond = second = 0;
    if (const QRegularExpressionMatch m = colons.match(text); m.hasMatch()) {
        hour = GroupValue(m, 1);
        minute = GroupValue(m, 2);
        second = GroupValue(m, 3);
        millisecond = GroupValue(m, 4);
    } else if (const QRegularExpressionMatch p = packed.match(text); p.hasMatch()) {
        hour = GroupValue(p, 1);
        minute = GroupValue(p, 2);
        second = GroupValue(p, 3);
    }
}

TDateTime ParseDateTime(const QString &text) {
    quint16 day, month, year, hour, minute, msec, second;
    ParseDate(text, day, month, year);
    ParseTime(text, hour, minute, msec, second);
    if (year == 0)
        return 0;
    return EncodeDateTime(year, month, day, hour, minute, second, msec);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day) ||
        !QTime::isValid(hour, minute, second, msec))
        return 0;
    const QTime time(hour, minute, second, msec);
    return double(DayZero.daysTo(QDate(year, month, day))) + time.msecsSinceStartOfDay() / MsecsPerDay;
}

QString DateTimeToText(TDateTime value) {
    static const double first = double(DayZero.daysTo(QDate(1, 1, 1)));
    static const double beyondLast = double(DayZero.daysTo(QDate(9999, 12, 31)) + 1);
    if (value == 0 || !(value >= first && value < beyondLast))
        return QString();
    const double days = std::floor(value);
    // Rounded to the millisecond so that 14:07:09 stored as 14:07:08.99999... still reads 14:07:09.
    const qint64 msecs = std::min(std::llround((value - days) * MsecsPerDay), qint64(MsecsPerDay) - 1);
    const QDate date = DayZero.addDays(qint64(days));
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(msecs));
    return date.toString(QStringLiteral("dd.MM.yyyy")) + QLatin1Char(' ') +
           time.toString(QStringLiteral("HH:mm:ss"));
}
