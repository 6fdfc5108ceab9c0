#include "LuHash.h"

#include "LuFiles.h"
#include "LuHashParse.h"
#include "LuStrings.h"

using namespace LuHashParse;

bool LuHashParse::IsCommentStart(QChar c) {
    return c == u'#' || c == u'/' || c == u';';
}

QChar LuHashParse::CloserOf(QChar opener) {
    return opener == u'{' ? u'}' : u']';
}

bool LuHashParse::StartsBlock(const QString &value) {
    return !value.isEmpty() && (value[0] == u'{' || value[0] == u'[');
}

bool LuHashParse::SplitKeyValue(const QString &line, const QString &separators, QString &key,
                                QString &value) {
    const int pos = FindSeparator(separators, line);
    if (pos < 0) {
        key = line;
        value.clear();
        return true;
    }
    key = TrimText(line.left(pos - 1));
    value = TrimText(line.mid(pos, MaxLineValue));
    return !key.isEmpty();
}

namespace {

// Lines are joined with single CRs, each trimmed, empty ones dropped, so that a block reads the same
// however it was indented.
QString NormalizeBlock(const QString &value) {
    const TLuStringList lines(value);
    QString result;
    for (int i = 0; i < lines.Count(); ++i) {
        const QString line = TrimText(lines[i]);
        if (line.isEmpty())
            continue;
        if (!result.isEmpty())
            result += u'\r';
        result += line;
    }
    return result;
}

} // namespace

QString LuHashParse::CollectBlockValue(const QString &first, const TLuStringList &lines, int &i) {
    QString value = first;
    const QChar opener = value[0];
    const QChar closer = CloserOf(opener);
    if (value.endsWith(closer))
        return value;
    int depth = 0;
    while (i + 1 < lines.Count()) {
        const QString next = TrimText(lines[++i]);
        if (next.isEmpty())
            continue;
        depth += CountChar(next, opener) - CountChar(next, closer);
        value += u'\r';
        value += next;
        if (depth < 0 && value.endsWith(closer))
            break;
    }
    return TrimText(value);
}

TLuHash::TLuHash(const QString &fName) {
    if (!fName.isEmpty())
        Load(fName, true, StdKeySeparators);
}

QString TLuHash::FoldKey(const QString &key) {
    QString folded = TrimText(key);
    for (QChar &c : folded)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return folded;
}

void TLuHash::Clear() {
    entries.clear();
    index.clear();
}

int TLuHash::KeyIndex(const QString &sign) const {
    return index.value(FoldKey(sign), -1);
}

QString TLuHash::GetKey(int idx) const {
    return idx >= 0 && idx < Count() ? entries[idx].key : QString();
}

QString TLuHash::GetVal(const QString &sign) const {
    const int idx = KeyIndex(sign);
    return idx >= 0 ? entries[idx].value : QString();
}

void TLuHash::AppendEntry(const QString &key, const QString &value) {
    index.insert(FoldKey(key), int(entries.size()));
    entries.append({key, value});
    fsorted = false;
}

void TLuHash::SetVal(const QString &sign, const QString &value) {
    const QString key = TrimText(sign);
    if (key.isEmpty())
        return;
    const int idx = KeyIndex(key);
    if (idx >= 0)
        entries[idx].value = TrimRightText(value);
    else
        AppendEntry(key, TrimRightText(value));
}

QString TLuHash::GetValByIndex(int idx) const {
    return idx >= 0 && idx < Count() ? entries[idx].value : QString();
}

void TLuHash::SetValByIndex(int idx, const QString &value) {
    if (idx >= 0 && idx < Count())
        entries[idx].value = TrimRightText(value);
}

QString TLuHash::Keys(const QString &Separator) const {
    QString result;
    for (int i = 0; i < Count(); ++i) {
        if (i > 0)
            result += Separator;
        result += entries[i].key;
    }
    return result;
}

QString TLuHash::KeysByVal(const QString &val, const QString &sep) const {
    QString result;
    bool first = true;
    for (const TEntry &e : entries) {
        if (e.value != val)
            continue;
        if (!first)
            result += sep;
        result += e.key;
        first = false;
    }
    return result;
}

QString TLuHash::AsText(const QString &KeySeparator, const QString &LineSeparator) const {
    QString result;
    for (const TEntry &e : entries) {
        if (!result.isEmpty())
            result += LineSeparator;
        result += e.key;
        result += KeySeparator;
        result += e.value;
    }
    return result;
}

int TLuHash::Assign(const QString &Data, bool Overwrite, const QString &KeySeparators,
                    const QString &LineSeparators) {
    QString data = Data;
    if (StartsBlock(data)) {
        const QChar closer = CloserOf(data[0]);
        data = TrimText(data.mid(1, MaxEnclosedText));
        if (data.endsWith(closer))
            data = TrimText(data.chopped(1));
    }
    if (LineSeparators != u"\r" && LineSeparators != u"\r\n")
        data = ReplaceAll(data, LineSeparators, QStringLiteral("\r"));

    const TLuStringList lines(data);
    int count = 0;
    for (int i = 0; i < lines.Count(); ++i) {
        const QString line = TrimText(lines[i]);
        if (line.isEmpty() || IsCommentStart(line[0]))
            continue;
        QString key, value;
        if (!SplitKeyValue(line, KeySeparators, key, value))
            continue;
        if (StartsBlock(value))
            value = NormalizeBlock(CollectBlockValue(value, lines, i));
        if (Overwrite || GetVal(key).isEmpty())
            SetVal(key, value);
        ++count;
    }
    fsorted = false;
    return count;
}

int TLuHash::CleanAssign(const QString &Data, bool Overwrite, const QString &KeySeparators,
                         const QString &LineSeparators) {
    Clear();
    return Assign(Data, Overwrite, KeySeparators, LineSeparators);
}

int TLuHash::Assign(const TLuHash *LuHash) {
    if (!LuHash || LuHash == this)
        return 0;
    int changed = 0;
    for (const TEntry &e : LuHash->entries) {
        if (GetVal(e.key) == e.value)
            continue;
        SetVal(e.key, e.value);
        fsorted = false;
        ++changed;
    }
    return changed;
}

int TLuHash::AssignCommandLine(const QStringList &arguments) {
    QString text;
    for (int i = 1; i < arguments.size(); ++i) {
        text += arguments[i];
        text += u'\r';
    }
    return Assign(text, true, StdKeySeparators, QStringLiteral("\r"));
}

int TLuHash::Load(const QString &fName, bool Overwrite, const QString &Separators) {
    return Assign(LoadTextWithIncludes(fName, true), Overwrite, Separators, QStringLiteral("\r"));
}

int TLuHash::Save(const QString &fName, const QString &Separator) const {
    WriteTextFile(fName, AsText(Separator, QStringLiteral("\r\n")), true);
    return Count();
}

QString TLuHash::Append(const QString &sign, const QString &value, const QString &sep) {
    QString v = GetVal(sign);
    if (!v.isEmpty())
        v += sep;
    v += value;
    SetVal(sign, v);
    return v;
}

qint64 TLuHash::Inc(const QString &sign, qint64 value) {
    const qint64 sum = qint64(quint64(GetAsInteger(sign)) + quint64(value));
    SetAsInteger(sign, sum);
    return sum;
}

double TLuHash::Inc(const QString &sign, double value) {
    const double sum = GetAsDouble(sign) + value;
    SetAsDouble(sign, sum);
    return sum;
}

void TLuHash::Remove(const QString &sign) {
    Remove(KeyIndex(sign));
}

void TLuHash::Remove(int idx) {
    if (idx < 0 || idx >= Count())
        return;
    entries.remove(idx);
    RebuildIndex();
}

void TLuHash::RebuildIndex() {
    index.clear();
    index.reserve(entries.size());
    for (int i = 0; i < Count(); ++i)
        index.insert(FoldKey(entries[i].key), i);
}

qint64 TLuHash::GetAsInteger(const QString &sign) const {
    return TextToInt(GetVal(sign), -1, 0);
}

void TLuHash::SetAsInteger(const QString &sign, qint64 value) {
    SetVal(sign, IntToDec(0, value));
}

qint64 TLuHash::GetAsHex(const QString &sign) const {
    return TextToInt(GetVal(sign), 16, 0);
}

void TLuHash::SetAsHex(const QString &sign, qint64 value) {
    SetVal(sign, IntToBase(0, 16, value));
}

double TLuHash::GetAsDouble(const QString &sign) const {
    return TextToFloat(GetVal(sign));
}

void TLuHash::SetAsDouble(const QString &sign, double value) {
    SetVal(sign, FloatToDec(value, 2));
}

TDateTime TLuHash::GetAsDateTime(const QString &sign) const {
    return ParseDateTime(GetVal(sign));
}

void TLuHash::SetAsDateTime(const QString &sign, TDateTime value) {
    SetVal(sign, DateTimeToText(value));
}

bool TLuHash::GetAsBool(const QString &sign) const {
    const QString v = GetVal(sign);
    return !v.isEmpty() && QStringLiteral("1TtYy").contains(v[0]);
}

void TLuHash::SetAsBool(const QString &sign, bool value) {
    SetVal(sign, value ? QStringLiteral("true") : QStringLiteral("false"));
}

quintptr TLuHash::GetAsPointer(const QString &sign) const {
    return quintptr(TextToInt(GetVal(sign), 16, 0));
}

void TLuHash::SetAsPointer(const QString &sign, quintptr value) {
    SetVal(sign, IntToBase(8, 16, qint64(value)));
}
