#include "param_values.h"

#include "LuUtils.h"

#include <QRegularExpression>

TVirtualDataType ParamEditKind(const QString &type) {
    const QString head = TrimText(type).left(3).toLower();
    if (head == u"loo")
        return vtStringList;
    if (head == u"int" || head == u"num")
        return vtNumber;
    if (head == u"ip")
        return vtIpAddress;
    if (head == u"dur")
        return vtDuration;
    if (head == u"che")
        return vtCheckMap;
    return vtString;
}

namespace {

qint32 Int32Of(qint64 value) {
    return static_cast<qint32>(static_cast<quint32>(value)); // cut to 32 bits, as the bounds are stored
}

} // namespace

QString EditListOf(const QString &values) {
    QString list = values;
    list.replace(u',', u'\n').replace(u'|', u'\n');
    return list;
}

QStringList EditListItems(const QString &list) {
    if (list.isEmpty())
        return {};
    QString lines = list;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return lines.split(u'\n');
}

TVirtualEditData ParamEditData(const TLuHash &attrs, const QString &value) {
    TVirtualEditData data;
    data.typ = ParamEditKind(attrs.GetVal(QStringLiteral("type")));
    switch (data.typ) {
    case vtStringList:
        data.list = EditListOf(attrs.GetVal(QStringLiteral("values")));
        break;
    case vtNumber:
        data.min = Int32Of(attrs.GetAsInteger(QStringLiteral("min")));
        data.max = Int32Of(attrs.GetAsInteger(QStringLiteral("max")));
        break;
    case vtCheckMap:
        data.max = Int32Of(attrs.GetAsInteger(QStringLiteral("count")));
        data.list = EditListOf(attrs.GetVal(QStringLiteral("values")));
        break;
    case vtString:
        data.max = Int32Of(attrs.GetAsInteger(QStringLiteral("max_len")));
        break;
    default:
        break;
    }
    data.val = value;
    return data;
}

qint64 ParseDuration(const QString &text) {
    static const QRegularExpression pattern(QStringLiteral("(\\d+)(\\D)*"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return 0;
    const qint64 number = DecToInt(match.captured(1), 0);
    // A repeated group keeps its last repetition: "5 min" has the unit "n".
    const QString unit = match.captured(2).left(1).toLower();
    if (unit == u"h")
        return number * 3600;
    if (unit == u"m")
        return number * 60;
    return number;
}

QString FormatDuration(qint64 seconds) {
    if (seconds != 0 && seconds % 3600 == 0)
        return QString::number(seconds / 3600) + u'h';
    if (seconds != 0 && seconds % 60 == 0)
        return QString::number(seconds / 60) + u'm';
    return QString::number(seconds) + u's';
}

QList<bool> CheckMapFlags(const QString &value, int count, int items) {
    QList<bool> flags(qMax(items, 0), false);
    for (int i = 0; i < count && i < flags.size() && i < value.size(); ++i)
        flags[i] = value[i] == u'1';
    return flags;
}

QString CheckMapText(const QList<bool> &flags) {
    QString text;
    text.reserve(flags.size());
    for (bool checked : flags)
        text += checked ? u'1' : u'0';
    return text;
}

double TNumberFormat::ValueOf(const QString &text) const {
    if (intNumber)
        return double(TextToInt(text, radix, 0));
    QString number = text;
    number.replace(decimalPoint, u'.');
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0.0;
}

bool NumberKeyAccepted(const TNumberFormat &format, const QString &text, int caret, int selStart, int selLength,
                       QChar ch) {
    if (ch == u'.')
        ch = format.decimalPoint;
    if (format.intNumber) {
        if (!IsRadixDigit(ch, format.radix, 0))
            return false;
    } else if (ch == format.decimalPoint) {
        if (text.contains(format.decimalPoint))
            return false;
    } else if (!IsRadixDigit(ch, 10, 0)) {
        return false;
    }
    if (ch == u'-' && (text.contains(u'-') || caret != 0))
        return false;
    // The range is checked on the text as it would be with the character typed at its end (or over the
    // selection), so a value can never be typed past its bounds.
    const QString candidate =
        selLength > 0 ? QString(text).replace(selStart, selLength, QString(ch)) : text + ch;
    return format.InRange(format.ValueOf(candidate));
}

bool IsIpAddressText(const QString &text, bool partial) {
    const QStringList parts = text.split(u'.');
    if (parts.size() > 4 || (!partial && parts.size() != 4))
        return false;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &part = parts[i];
        if (part.isEmpty()) {
            if (partial && i == parts.size() - 1)
                continue; // the number being typed
            return false;
        }
        if (part.size() > 3 || !IsNumberText(part, 10) || part[0] == u'+' || part[0] == u'-' || part.toInt() > 255)
            return false;
    }
    return true;
}
