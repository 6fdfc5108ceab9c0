#include "LuStrings.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <climits>

namespace {

// CR LF, LF and CR all end a line; every piece between two line ends is a line, empty ones included.
QStringList SplitLines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    text.replace(QChar(u'\n'), QChar(u'\r'));
    return text.split(QChar(u'\r'));
}

bool IsTrashLine(const QString &trimmed) {
    return trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#');
}

} // namespace

TLuStringList::TLuStringList(const QString &txt) {
    SetText(txt);
}

void TLuStringList::Clear() {
    list = QStringList();
    iterator = 0;
    fTag = 0;
}

qint64 TLuStringList::Size() const {
    qint64 total = 0;
    for (const QString &s : list)
        total += s.size();
    return total;
}

int TLuStringList::Add(const QString &s) {
    list.append(TrimRightText(s));
    return Count();
}

int TLuStringList::AddText(const QString &txt) {
    if (txt.isEmpty())
        return 0;
    const QStringList lines = SplitLines(TrimRightText(txt));
    for (const QString &line : lines)
        Add(line);
    return int(lines.size());
}

void TLuStringList::Insert(int idx, const QString &s) {
    list.insert(std::clamp(idx, 0, Count()), TrimRightText(s));
}

void TLuStringList::Delete(int idx) {
    if (idx >= 0 && idx < Count())
        list.removeAt(idx);
}

void TLuStringList::Delete(const QString &val) {
    Delete(IndexOf(val));
}

void TLuStringList::DeleteEmpty() {
    list.removeIf([](const QString &s) { return TrimText(s).isEmpty(); });
}

void TLuStringList::DeleteTrash() {
    TrimAll();
    list.removeIf(IsTrashLine);
}

void TLuStringList::TrimAll() {
    for (QString &s : list)
        s = TrimText(s);
}

void TLuStringList::Assign(const TLuStringList &List) {
    const QStringList items = List.list; // List may be this list, which Clear empties
    Clear();
    for (const QString &s : items)
        Add(s);
}

void TLuStringList::Assign(const QString &AText, const QString &Separator) {
    SetText(ReplaceAll(AText, Separator, QStringLiteral("\r")));
}

QString TLuStringList::ChooseFileName(const QString &fn) {
    if (!fn.isEmpty())
        fFileName = fn;
    return fFileName;
}

int TLuStringList::LoadFromFile(const QString &fn) {
    QFile file(ChooseFileName(fn));
    if (!file.exists())
        return -1;
    Clear();
    if (!file.open(QIODevice::ReadOnly))
        return Count();
    QStringList lines = SplitLines(FromAnsiText(file.readAll()));
    // The line end of the last line does not start another one.
    if (lines.last().isEmpty())
        lines.removeLast();
    for (const QString &line : lines)
        Add(line);
    return Count();
}

int TLuStringList::SaveToFile(const QString &fn, bool overwrite) {
    QFile file(ChooseFileName(fn));
    const auto mode = QIODevice::WriteOnly | (overwrite ? QIODevice::Truncate : QIODevice::Append);
    if (!file.open(mode))
        return -1;
    int written = 0;
    for (const QString &s : list) {
        const QByteArray line = ToAnsiText(s + QStringLiteral("\r\n"));
        if (file.write(line) != line.size())
            break;
        ++written;
    }
    return written;
}

QString TLuStringList::Pop() {
    return list.isEmpty() ? QString() : list.takeLast();
}

QString TLuStringList::Shift() {
    return list.isEmpty() ? QString() : list.takeFirst();
}

QString TLuStringList::First(int cnt) const {
    return Join(QStringLiteral("\r"), 0, cnt - 1);
}

QString TLuStringList::Last(int cnt) const {
    return Join(QStringLiteral("\r"), Count() - cnt, 999999999);
}

int TLuStringList::CompareDefault(const QString &a, const QString &b) {
    if (a == b)
        return 0;
    if (IsNumberText(a, 10) && IsNumberText(b, 10))
        return TextToInt(a, 10, 0) > TextToInt(b, 10, 0) ? 1 : -1;
    // Code units rather than locale order, so that a sort gives the same order on every machine.
    const bool less =
        std::lexicographical_compare(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
                                     [](QChar x, QChar y) { return x.unicode() < y.unicode(); });
    return less ? -1 : 1;
}

int TLuStringList::CompareItems(const QString &a, const QString &b) const {
    return foncompare ? foncompare(a, b) : CompareDefault(a, b);
}

// Three-way partitioning around a random pivot: runs of equal items (a queue full of the same command)
// cost linear time, and the pivot always lands in the middle part, so even a comparison function that
// contradicts itself cannot stall the loop. Recursing only into the smaller part bounds the depth.
void TLuStringList::QuickSortRange(int lo, int hi) {
    while (lo < hi) {
        list.swapItemsAt(lo, lo + int(QRandomGenerator::global()->bounded(hi - lo + 1)));
        const QString pivot = list.at(lo);
        int lt = lo;
        int gt = hi;
        for (int i = lo + 1; i <= gt;) {
            const int c = CompareItems(list.at(i), pivot);
            if (c < 0)
                list.swapItemsAt(lt++, i++);
            else if (c > 0)
                list.swapItemsAt(i, gt--);
            else
                ++i;
        }
        if (lt - lo < hi - gt) {
            QuickSortRange(lo, lt - 1);
            lo = gt + 1;
        } else {
            QuickSortRange(gt + 1, hi);
            hi = lt - 1;
        }
    }
}

void TLuStringList::Sort(bool descend) {
    QuickSortRange(0, Count() - 1);
    if (descend)
        std::reverse(list.begin(), list.end());
}

QString TLuStringList::Join(const QString &sep, int idx1, int idx2) const {
    const int lo = std::max(0, idx1);
    const int hi = std::min(Count() - 1, idx2);
    QString result;
    for (int i = lo; i <= hi; ++i) {
        if (!result.isEmpty())
            result += sep;
        result += list.at(i);
    }
    if (lo <= hi && list.at(hi).isEmpty())
        result += sep;
    return result;
}

int TLuStringList::IndexOf(const QString &val) const {
    return int(list.indexOf(val));
}

int TLuStringList::Find(const QString &substr) const {
    if (substr.isEmpty())
        return -1;
    for (int i = 0; i < Count(); ++i)
        if (list.at(i).contains(substr))
            return i;
    return -1;
}

QString TLuStringList::GetStrings(int idx) const {
    return idx >= 0 && idx < Count() ? list.at(idx) : QString();
}

void TLuStringList::SetStrings(int idx, const QString &s) {
    if (idx >= 0 && idx < Count())
        list[idx] = TrimRightText(s);
}

QString TLuStringList::GetText() const {
    return Join(QStringLiteral("\r\n"), 0, INT_MAX);
}

void TLuStringList::SetText(const QString &txt) {
    Clear();
    AddText(txt);
}
