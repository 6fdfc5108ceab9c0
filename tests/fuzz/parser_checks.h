// What must hold for any input of the parsers that read outside text (files, device answers): each
// check returns an empty text when it holds, or what went wrong. The fuzz targets abort on a failed
// check; the core tests run the same checks over random and hostile texts.
#pragma once

#include "LuDates.h"
#include "LuHash.h"
#include "LuUtils.h"

#include <QString>
#include <cmath>

namespace ParserChecks {

// The folded-key index agrees with the entries: every key is found at its own position.
inline QString IndexAgrees(const TLuHash &h) {
    for (int i = 0; i < h.Count(); ++i)
        if (h.KeyIndex(h.GetKey(i)) != i)
            return QStringLiteral("key %1 [%2] is indexed at %3").arg(i).arg(h.GetKey(i)).arg(h.KeyIndex(h.GetKey(i)));
    return {};
}

inline bool HasControlOrBlank(const QString &text) {
    for (QChar c : text)
        if (c.unicode() <= 32)
            return true;
    return false;
}

// An entry whose text form is one ordinary "key=value" line.
inline bool IsPlainEntry(const QString &key, const QString &value) {
    static const QString separators = QStringLiteral("=\t ");
    if (key.isEmpty() || HasControlOrBlank(key) || key.contains(u'=') || QStringLiteral("#/;{[").contains(key[0]))
        return false;
    for (QChar c : value)
        if (c.unicode() < 32)
            return false;
    return value.isEmpty() ||
           (value[0].unicode() > 32 && value.back().unicode() > 32 && value[0] != u'{' && value[0] != u'[');
}

// Reading text into a store keeps its index whole, and the plain entries come back from their own
// text form unchanged.
inline QString CheckHashText(const QString &text) {
    TLuHash h;
    h.Assign(text, true);
    if (QString e = IndexAgrees(h); !e.isEmpty())
        return e;
    TLuHash plain;
    for (int i = 0; i < h.Count(); ++i)
        if (IsPlainEntry(h.GetKey(i), h.GetValByIndex(i)))
            plain.SetVal(h.GetKey(i), h.GetValByIndex(i));
    TLuHash back;
    back.Assign(plain.AsText(QStringLiteral("="), QStringLiteral("\r")), true);
    if (back.Count() != plain.Count())
        return QStringLiteral("%1 plain entries came back as %2").arg(plain.Count()).arg(back.Count());
    for (int i = 0; i < plain.Count(); ++i)
        if (back.GetKey(i) != plain.GetKey(i) || back.GetValByIndex(i) != plain.GetValByIndex(i))
            return QStringLiteral("entry [%1=%2] came back as [%3=%4]")
                .arg(plain.GetKey(i), plain.GetValByIndex(i), back.GetKey(i), back.GetValByIndex(i));
    return {};
}

// JSON reading keeps the index whole and its result can be written as JSON again.
inline QString CheckHashJson(const QString &text) {
    TLuHash h;
    h.AssignJson(text, true);
    if (QString e = IndexAgrees(h); !e.isEmpty())
        return e;
    TLuHash again;
    again.AssignJson(h.AsJson(), true);
    return IndexAgrees(again);
}

// Escaping makes any text one line, and unescaping gives it back.
inline QString CheckEscapes(const QString &text) {
    const QString escaped = EscapeText(text);
    if (escaped.contains(u'\r') || escaped.contains(u'\n'))
        return QStringLiteral("escaped text holds a line end");
    if (UnescapeText(escaped) != text)
        return QStringLiteral("escaped text did not come back");
    (void)UnescapeText(text);
    return {};
}

// No date, or one within the calendar's years (a two- or three-digit year is taken as 19xx or 2xxx).
inline QString CheckDateTime(const QString &text) {
    const TDateTime t = ParseDateTime(text);
    static const TDateTime first = EncodeDateTime(1000, 1, 1, 0, 0, 0, 0);
    static const TDateTime last = EncodeDateTime(9999, 12, 31, 23, 59, 59, 999);
    if (t != 0 && (!std::isfinite(t) || t < first || t > last))
        return QStringLiteral("date %1 out of range").arg(t);
    return {};
}

// A date written in the usual notation reads back as itself.
inline QString CheckDateRoundTrip(int year, int month, int day, int hour, int minute, int second) {
    const QString text = QStringLiteral("%1.%2.%3 %4:%5:%6")
                             .arg(day, 2, 10, QChar(u'0'))
                             .arg(month, 2, 10, QChar(u'0'))
                             .arg(year, 4, 10, QChar(u'0'))
                             .arg(hour, 2, 10, QChar(u'0'))
                             .arg(minute, 2, 10, QChar(u'0'))
                             .arg(second, 2, 10, QChar(u'0'));
    if (std::abs(ParseDateTime(text) - EncodeDateTime(year, month, day, hour, minute, second, 0)) > 1e-9)
        return text + QStringLiteral(" did not read back");
    return {};
}

} // namespace ParserChecks
