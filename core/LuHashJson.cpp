// JSON form, reference expansion and sorting of TLuHash. The JSON here carries plain configuration
// values: nothing is escaped or unescaped, nested objects are block values "{...}" of key=value lines
// and arrays are block values "[...]" of comma-separated items.
#include "LuHash.h"

#include "LuHashParse.h"
#include "LuStrings.h"

#include <QRegularExpression>
#include <QSet>
#include <functional>

using namespace LuHashParse;

namespace {

// Hostile input can nest brackets thousands deep; below this depth a block is kept as plain text.
constexpr int MaxJsonDepth = 64;
// Safety nets for ExpandValues: no sane configuration needs this many substitutions in one value, nor
// references nested this deep.
constexpr int MaxExpansions = 10000;
constexpr int MaxExpansionDepth = 64;

QString Indent(int level) {
    return QString(2 * level, u' ');
}

QString JsonScalar(const QString &v) {
    const QString lower = v.toLower();
    if (IsNumberText(v, 10) || lower == u"true" || lower == u"false")
        return v;
    return u'"' + v + u'"';
}

QString WriteJsonValue(const QString &keyIn, const QString &valueIn, int level);

QString WriteJsonObject(const TLuHash &store, int level) {
    QString r = QStringLiteral("{\r\n");
    for (int i = 0; i < store.Count(); ++i)
        r += WriteJsonValue(store.GetKey(i), store.GetValByIndex(i), level + 1);
    r = TrimRightText(r);
    if (r.endsWith(u','))
        r.chop(1);
    return r + QStringLiteral("\r\n") + Indent(level) + QStringLiteral("},\r\n");
}

QString WriteJsonArray(const QString &value, int level) {
    QString items = StripEnclosing(value, QStringLiteral("["), QStringLiteral("]"));
    items.replace(u',', u'\r');
    TLuStringList list(items);
    list.DeleteEmpty();
    list.TrimAll();
    QString r = QStringLiteral("[\r\n");
    for (int i = 0; i < list.Count(); ++i) {
        r += Indent(level + 1) + JsonScalar(list[i]);
        if (i < list.Count() - 1)
            r += u',';
        r += QStringLiteral("\r\n");
    }
    return r + Indent(level) + QStringLiteral("],\r\n");
}

QString WriteJsonValue(const QString &keyIn, const QString &valueIn, int level) {
    const QString key = TrimText(keyIn);
    const QString value = TrimText(valueIn);
    if (key.isEmpty() && value.isEmpty())
        return QString();
    QString r;
    if (!key.isEmpty())
        r = Indent(level) + u'"' + key + QStringLiteral("\": ");
    if (level < MaxJsonDepth && value.startsWith(u'{')) {
        TLuHash inner;
        inner.Assign(value, true, StdKeySeparators, QStringLiteral("\r"));
        return r + WriteJsonObject(inner, level);
    }
    if (level < MaxJsonDepth && value.startsWith(u'['))
        return r + WriteJsonArray(value, level);
    return r + JsonScalar(value) + QStringLiteral(",\r\n");
}

// Commas outside double quotes end a JSON member, so they become line breaks for the line reader.
QString SplitMembers(QString text) {
    bool inQuotes = false;
    for (QChar &c : text) {
        if (c == u'"')
            inQuotes = !inQuotes;
        else if (c == u',' && !inQuotes)
            c = u'\r';
    }
    return text;
}

QString FlattenJsonArray(QString value) {
    value.remove(u'\n');
    value.remove(u'[');
    value.remove(u']');
    value = TrimText(value);
    value.replace(u'\r', u',');
    return u'[' + value + u']';
}

int AssignJsonAt(TLuHash &store, const QString &json, bool clean, int depth);

QString ReadJsonValue(const QString &value, int depth) {
    if (depth < MaxJsonDepth && value.startsWith(u'{')) {
        TLuHash inner;
        AssignJsonAt(inner, value, true, depth + 1);
        return u'{' + inner.AsText(QStringLiteral("="), QStringLiteral("\r\n")) + u'}';
    }
    if (value.startsWith(u'['))
        return FlattenJsonArray(value);
    return value;
}

int AssignJsonAt(TLuHash &store, const QString &json, bool clean, int depth) {
    if (clean)
        store.Clear();
    const QString trimmed = TrimText(json);
    if (trimmed.isEmpty())
        return 0;
    const QString quote = QStringLiteral("\"");
    const TLuStringList lines(
        SplitMembers(StripEnclosing(trimmed, QStringLiteral("{"), QStringLiteral("}"))));
    int count = 0;
    for (int i = 0; i < lines.Count(); ++i) {
        const QString line = TrimText(lines[i]);
        if (line.isEmpty() || IsCommentStart(line[0]))
            continue;
        QString key, value;
        if (!SplitKeyValue(line, QStringLiteral(":"), key, value))
            continue;
        if (StartsBlock(value))
            value = CollectBlockValue(value, lines, i);
        value = StripEnclosing(ReadJsonValue(value, depth), quote, quote);
        store.SetVal(StripEnclosing(key, quote, quote), value);
        ++count;
    }
    return count;
}

// Expands the references found by `pattern` (group 1 is the name) with what `resolve` gives for them,
// expanded in turn. `chain` holds the folded names being expanded around this text: a name already on
// it refers back to itself, a cycle, and that reference stays in the text as it stands. A name may
// still come back through another key without a cycle (c = "$a$-$b$", b = "$a$").
QString ExpandReferences(const QString &value, const QRegularExpression &pattern,
                         const std::function<QString(const QString &)> &resolve, QStringList &chain,
                         int &budget) {
    QString result;
    qsizetype copied = 0;
    for (QRegularExpressionMatchIterator it = pattern.globalMatch(value); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString folded = m.captured(1).toLower();
        if (budget <= 0 || chain.size() >= MaxExpansionDepth || chain.contains(folded))
            continue;
        --budget;
        result += QStringView(value).mid(copied, m.capturedStart(0) - copied);
        chain.append(folded);
        result += ExpandReferences(resolve(m.captured(1)), pattern, resolve, chain, budget);
        chain.removeLast();
        copied = m.capturedEnd(0);
    }
    return result.append(QStringView(value).mid(copied));
}

QString ExpandReferences(const QString &value, const QRegularExpression &pattern,
                         const std::function<QString(const QString &)> &resolve) {
    QStringList chain;
    int budget = MaxExpansions;
    return ExpandReferences(value, pattern, resolve, chain, budget);
}

} // namespace

QString TLuHash::AsJson() const {
    // The top level is written entry by entry rather than through its own text form, so that a large
    // store is not cut at the length limit of an enclosed text.
    QString r = TrimText(WriteJsonObject(*this, 0));
    if (r.endsWith(u','))
        r.chop(1);
    return r;
}

int TLuHash::AssignJson(const QString &Json, bool Clean) {
    return AssignJsonAt(*this, Json, Clean, 0);
}

void TLuHash::ExpandValues(const TLuHash *ref) {
    static const QRegularExpression keyRef(QStringLiteral("\\$(.+?)\\$"));
    static const QRegularExpression envRef(QStringLiteral("%([A-Za-z0-9_]+?)%"));
    const TLuHash &source = ref ? *ref : *this;
    const auto lookUpKey = [&source](const QString &name) { return source.GetVal(name); };
    const auto lookUpEnv = [](const QString &name) {
        const QString v = qEnvironmentVariable(name.toLocal8Bit().constData());
        return v.isEmpty() ? u'#' + name + u'#' : v;
    };
    for (int i = 0; i < Count(); ++i)
        SetValByIndex(i, ExpandReferences(entries[i].value, keyRef, lookUpKey));
    for (int i = 0; i < Count(); ++i)
        SetValByIndex(i, ExpandReferences(entries[i].value, envRef, lookUpEnv));
}

void TLuHash::Sort() {
    TLuStringList keys;
    for (const TEntry &e : entries)
        keys.Add(e.key);
    keys.SetOnCompare(foncompare);
    keys.Sort(false);
    QVector<TEntry> sorted;
    sorted.reserve(entries.size());
    for (int i = 0; i < keys.Count(); ++i)
        sorted.append(entries[KeyIndex(keys[i])]);
    entries = sorted;
    RebuildIndex();
    fsorted = true;
}
