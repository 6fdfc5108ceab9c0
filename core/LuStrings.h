// TLuStringList: the configurator's list of texts. Items are stored right-trimmed. Besides indexed
// access it is a queue and a stack (the engine's command queue is one), splits and joins texts on any
// line break, drops blank and comment lines and sorts with a numeric-aware comparison.
#pragma once

#include "LuUtils.h"

#include <QString>
#include <QStringList>

class TLuStringList {
public:
    TLuStringList() = default;
    explicit TLuStringList(const QString &txt);

    void Clear();
    int Count() const { return int(list.size()); }
    qint64 Size() const;
    int Add(const QString &s);
    int AddText(const QString &txt);
    void Insert(int idx, const QString &s);
    void Delete(int idx);
    void Delete(const QString &val);
    void DeleteEmpty();
    void DeleteTrash();
    void TrimAll();
    void Assign(const TLuStringList &List);
    void Assign(const QString &AText, const QString &Separator);
    int LoadFromFile(const QString &fn);
    int SaveToFile(const QString &fn, bool overwrite);
    void Push(const QString &s) { Add(s); }
    QString Pop();
    QString Shift();
    void Unshift(const QString &s) { Insert(0, s); }
    QString First(int cnt) const;
    QString Last(int cnt) const;
    void Sort(bool descend);
    QString Join(const QString &sep, int idx1, int idx2) const;
    int IndexOf(const QString &val) const;
    int Find(const QString &substr) const;
    QString GetStrings(int idx) const;
    void SetStrings(int idx, const QString &s);
    QString operator[](int idx) const { return GetStrings(idx); }

    QString GetText() const;
    void SetText(const QString &txt);

    TOnCompareStrings OnCompare() const { return foncompare; }
    void SetOnCompare(TOnCompareStrings f) { foncompare = f; }
    int Tag() const { return fTag; }
    void SetTag(int t) { fTag = t; }
    QString FileName() const { return fFileName; }
    void SetFileName(const QString &fn) { fFileName = fn; }

    // The numeric-aware comparison Sort uses when no OnCompare is set; TLuHash::Sort shares it.
    static int CompareDefault(const QString &a, const QString &b);

private:
    int CompareItems(const QString &a, const QString &b) const;
    void QuickSortRange(int lo, int hi);
    QString ChooseFileName(const QString &fn);

    QStringList list;
    TOnCompareStrings foncompare = nullptr;
    int iterator = 0;
    int fTag = 0;
    QString fFileName;
};
