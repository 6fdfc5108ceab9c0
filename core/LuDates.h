// Dates and times read from free text, and the date-time value the stores use: a double counting days
// since 30 December 1899 with the time of day as fraction; 0 stands for "no date".
#pragma once

#include <QString>

using TDateTime = double;

void ParseDate(const QString &text, quint16 &day, quint16 &month, quint16 &year);
void ParseTime(const QString &text, quint16 &hour, quint16 &minute, quint16 &millisecond, quint16 &second);
TDateTime ParseDateTime(const QString &text);

// Calendar-checked composition; 0 when any part is out of range.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);
// "dd.mm.yyyy hh:nn:ss"; the empty text for 0 or an out-of-range value.
QString DateTimeToText(TDateTime value);
