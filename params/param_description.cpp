#include "param_description.h"

#include "LuStrings.h"
#include "LuUtils.h"

#include <QFileInfo>
#include <QRegularExpression>

const QString DescriptionName = QStringLiteral("veltra_params.conf");

bool IgnoredEntry(const QString &entry) {
    return entry.isEmpty() || entry.startsWith(u';') || entry.startsWith(u'#');
}

QStringList ListEntries(const QString &list) {
    const QString lines = ReplaceAny(list, {QStringLiteral(" "), QStringLiteral(","), QStringLiteral(";"),
                                            QStringLiteral("|")},
                                     QStringLiteral("\r"));
    QStringList entries;
    for (const QString &line : lines.split(u'\r'))
        if (const QString entry = TrimText(line); !IgnoredEntry(entry))
            entries << entry;
    return entries;
}

TLuHash AttributesOf(const QString &block) {
    TLuHash attrs;
    attrs.Assign(block, true, StdKeySeparators, QStringLiteral("\r"));
    return attrs;
}

void LoadParamsDescription(TLuHash &description, const QStringList &folders) {
    description.Clear();
    for (const QString &folder : folders)
        if (QFileInfo(folder + DescriptionName).isFile())
            description.Load(folder + DescriptionName, true, StdKeySeparators);
}

QList<TParamsLayoutEntry> ParamsTreeLayout(const TLuHash &description) {
    QList<TParamsLayoutEntry> layout;
    // Keys are unique in the store, so a key placed by a group is simply skipped at the end.
    QSet<QString> placed{QStringLiteral("__GROUPS")};
    for (const QString &group : ListEntries(description.GetVal(QStringLiteral("__GROUPS")))) {
        const QStringList params = ListEntries(AttributesOf(description.GetVal(group)).GetVal(QStringLiteral("params")));
        layout.append({group, true, params});
        placed.insert(group);
        for (const QString &param : params)
            placed.insert(param);
    }
    for (int i = 0; i < description.Count(); ++i) {
        const QString key = description.GetKey(i);
        if (!placed.contains(key))
            if (const QString entry = TrimText(key); !IgnoredEntry(entry))
                layout.append({entry, false, {}});
    }
    return layout;
}

QSet<QString> DescribedParams(const TLuHash &description) {
    QSet<QString> params;
    for (const TParamsLayoutEntry &entry : ParamsTreeLayout(description)) {
        if (!entry.isGroup)
            params.insert(entry.key);
        for (const QString &param : entry.params)
            params.insert(param);
    }
    return params;
}

QStringList DescriptionProblems(const TLuHash &description) {
    QStringList problems;
    QStringList keys = DescribedParams(description).values();
    keys.sort();
    for (const QString &key : keys) {
        const TVirtualEditData data = ParamEditData(AttributesOf(description.GetVal(key)), QString());
        if (data.typ == vtNumber && data.min > data.max)
            problems << QStringLiteral("%1: min %2 is above max %3, so no range is checked").arg(key).arg(data.min).arg(data.max);
        const qsizetype items = EditListItems(data.list).size();
        if (data.typ == vtCheckMap && data.max > items)
            problems << QStringLiteral("%1: count %2 is above its %3 items").arg(key).arg(data.max).arg(items);
    }
    return problems;
}

namespace {

bool IsDurationText(const QString &value) {
    static const QRegularExpression pattern(QStringLiteral("^\\d+\\s*[smhSMH]?$"));
    return pattern.match(value).hasMatch();
}

bool IsFlagsText(const QString &value, qint64 count) {
    if (value.size() < count)
        return false;
    for (qsizetype i = 0; i < count; ++i)
        if (value[i] != u'0' && value[i] != u'1')
            return false;
    return true;
}

} // namespace

TValueCheck CheckParamValue(const TLuHash &attrs, const QString &value) {
    if (value == u"NOT USE")
        return vcOk;
    const TVirtualEditData data = ParamEditData(attrs, value);
    switch (data.typ) {
    case vtStringList:
        return EditListItems(data.list).contains(value) ? vcOk : vcNotAnItem;
    case vtNumber: {
        if (!IsNumberText(TrimText(value), 10))
            return vcNotANumber;
        const qint64 number = DecToInt(value, 0);
        return data.min < data.max && (number < data.min || number > data.max) ? vcOutOfRange : vcOk;
    }
    case vtIpAddress:
        return IsIpAddressText(value) ? vcOk : vcNotAnIpAddress;
    case vtDuration:
        return IsDurationText(value) ? vcOk : vcNotADuration;
    case vtCheckMap:
        return IsFlagsText(value, data.max) ? vcOk : vcNotFlags;
    default:
        return data.max > 0 && value.size() > data.max ? vcTooLong : vcOk;
    }
}

QString ValueCheckText(TValueCheck check, const TLuHash &attrs, bool russian) {
    const TVirtualEditData data = ParamEditData(attrs, QString());
    // The command line speaks English, the window Russian.
    const auto say = [russian](const char *english, const char *inRussian) {
        return russian ? QString::fromUtf8(inRussian) : QString::fromUtf8(english);
    };
    switch (check) {
    case vcOk:
        return {};
    case vcNotAnItem:
        return say("not one of: ", "не из списка: ") + EditListItems(data.list).join(QStringLiteral(", "));
    case vcNotANumber:
        return say("not a decimal integer", "не целое десятичное число");
    case vcOutOfRange:
        return say("outside %1..%2", "вне пределов %1..%2").arg(data.min).arg(data.max);
    case vcNotAnIpAddress:
        return say("not an IP address (four numbers 0..255 with dots)",
                   "не IP-адрес (четыре числа 0..255 через точку)");
    case vcNotADuration:
        return say("not a duration (a number with s, m or h)", "не длительность (число с s, m или h)");
    case vcNotFlags:
        return say("needs %1 flags of 0 or 1", "нужно %1 флагов 0 или 1").arg(data.max);
    case vcTooLong:
        return say("longer than %1 characters", "длиннее %1 символов").arg(data.max);
    }
    return {};
}

QList<TConfigEntry> ConfigEntries(const QString &text) {
    QList<TConfigEntry> entries;
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    int number = 0;
    for (const QString &line : lines.split(u'\n')) {
        ++number;
        TLuHash one; // the store's own rules for comments, blanks and separators
        one.Assign(line, true);
        for (int i = 0; i < one.Count(); ++i)
            entries.append({number, one.GetKey(i), one.GetValByIndex(i)});
    }
    return entries;
}

bool WrittenByLoad(const QString &key, const QString &value) {
    return !key.startsWith(u'_') && value != u"NOT USE";
}

QList<TConfigProblem> CheckConfigEntries(const QList<TConfigEntry> &entries, const TLuHash &description) {
    const QSet<QString> known = DescribedParams(description);
    QList<TConfigProblem> problems;
    for (const TConfigEntry &entry : entries) {
        if (!WrittenByLoad(entry.key, entry.value))
            continue;
        if (!known.contains(entry.key)) {
            problems.append({entry, QStringLiteral("not in the parameter description")});
            continue;
        }
        const TLuHash attrs = AttributesOf(description.GetVal(entry.key));
        if (const TValueCheck check = CheckParamValue(attrs, entry.value); check != vcOk)
            problems.append({entry, ValueCheckText(check, attrs)});
    }
    return problems;
}

QList<TConfigDifference> CompareConfigs(const TLuHash &device, const TLuHash &file) {
    QList<TConfigDifference> differences;
    for (int i = 0; i < device.Count(); ++i) {
        const QString key = device.GetKey(i);
        if (key.startsWith(u'_'))
            continue;
        const QString value = device.GetValByIndex(i);
        const int at = file.KeyIndex(key);
        if (at < 0)
            differences.append({key, value, QString(), true, false});
        else if (const QString fileValue = file.GetValByIndex(at); WrittenByLoad(key, fileValue) && fileValue != value)
            differences.append({key, value, fileValue, true, true});
    }
    for (int i = 0; i < file.Count(); ++i) {
        const QString key = file.GetKey(i);
        const QString value = file.GetValByIndex(i);
        if (WrittenByLoad(key, value) && device.KeyIndex(key) < 0)
            differences.append({key, QString(), value, false, true});
    }
    return differences;
}
