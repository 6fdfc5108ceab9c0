// What a parameter's value is and how its editor reads and writes it, without widgets: the editor kind
// a description's "type" selects, the edit data an editor is prepared from, and the conversions of
// durations, check maps, numbers and IP addresses. The window's editors use them; so can any other
// front end or a check of a configuration file.
#pragma once

#include "LuHash.h"

#include <QList>
#include <QString>
#include <QStringList>

enum TVirtualDataType : quint8 {
    vtNone,
    vtString,
    vtPickString,
    vtStringList,
    vtNumber,
    vtPickNumber,
    vtMemo,
    vtDate,
    vtTime,
    vtDuration,
    vtIpAddress,
    vtCheckMap
};

// What travels between the window and an editor: in, the value and its limits; out, the edited value.
struct TVirtualEditData {
    TVirtualDataType typ = vtNone;
    QString val;
    qint32 min = 0;
    qint32 max = 0; // vtNumber: upper bound; vtString: longest text; vtCheckMap: flags read
    QString list;   // items, one per line
    bool modified = false;
};

// The editor kind of a description's "type" attribute (its first three letters decide).
TVirtualDataType ParamEditKind(const QString &type);
// The edit data of a parameter with these description attributes and this value.
TVirtualEditData ParamEditData(const TLuHash &attrs, const QString &value);
// A "values" attribute as an item list: every "," and "|" starts a new item; items are not trimmed.
QString EditListOf(const QString &values);
QStringList EditListItems(const QString &list);

// The longest text an editor gives back.
constexpr int MaxEditText = 1023;

// A duration text such as "30s", "5m", "2h" or "15" (seconds) in seconds; 0 when it holds no number.
qint64 ParseDuration(const QString &text);
// Seconds as a duration text in the largest unit that holds them exactly ("150m", "121s", "3h"), so
// that writing a duration back never rounds it.
QString FormatDuration(qint64 seconds);

// The check boxes of a check-map value: one per item, the first `count` taken from the value's
// characters ("1" checked), the rest unchecked.
QList<bool> CheckMapFlags(const QString &value, int count, int items);
QString CheckMapText(const QList<bool> &flags);

// The numeric edit's rules: what it accepts and how it reads its text.
struct TNumberFormat {
    bool intNumber = true;
    int radix = 10;
    qint64 min = 0;
    qint64 max = 999999999; // no range check unless min < max
    QChar decimalPoint = u'.';

    bool Checked() const { return min < max; }
    bool InRange(double value) const { return !Checked() || (value >= double(min) && value <= double(max)); }
    // The text read as a number: in the radix for integers, 0 when it is not a number.
    double ValueOf(const QString &text) const;
};

// Whether typing `ch` into `text` (caret at `caret`, `selLength` characters selected from `selStart`)
// is accepted. A "." stands for the decimal point; the caller inserts the character it accepts.
bool NumberKeyAccepted(const TNumberFormat &format, const QString &text, int caret, int selStart, int selLength,
                       QChar ch);

// Four decimal numbers 0..255 separated by dots. With `partial`, also a text that can still become one
// by typing on ("192.168.", "10").
bool IsIpAddressText(const QString &text, bool partial = false);
