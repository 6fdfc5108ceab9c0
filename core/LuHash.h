// TLuHash: ordered store of text keys and text values with typed access and a line-oriented text form.
// It is the format of the settings files, the command line, the parameter description, saved
// configurations and parsed device answers. Keys are trimmed and compared ignoring the case of A-Z
// only; values are right-trimmed. Lookups go through an index on the folded key, so parsing n lines
// is linear.
#pragma once

#include "LuDates.h"
#include "LuUtils.h"

#include <QHash>
#include <QString>
#include <QVector>

class TLuHash {
public:
    explicit TLuHash(const QString &fName = QString());
    TLuHash(const TLuHash &other) = default;
    TLuHash &operator=(const TLuHash &other) = default;
    virtual ~TLuHash() = default;

    void Clear();
    int Count() const { return int(entries.size()); }
    int KeyIndex(const QString &sign) const;
    QString GetKey(int idx) const;
    QString GetVal(const QString &sign) const;
    void SetVal(const QString &sign, const QString &value);
    QString GetValByIndex(int idx) const;
    void SetValByIndex(int idx, const QString &value);
    QString operator[](const QString &sign) const { return GetVal(sign); }
    QString Keys(const QString &Separator) const;
    QString KeysByVal(const QString &val, const QString &sep) const;

    QString AsText(const QString &KeySeparator, const QString &LineSeparator) const;
    QString Text(const QString &KeySeparator, const QString &LineSeparator) const
    {
        return AsText(KeySeparator, LineSeparator);
    }
    int Assign(const QString &Data, bool Overwrite, const QString &KeySeparators = StdKeySeparators,
               const QString &LineSeparators = QStringLiteral("\r"));
    int CleanAssign(const QString &Data, bool Overwrite, const QString &KeySeparators = StdKeySeparators,
                    const QString &LineSeparators = QStringLiteral("\r"));
    int Assign(const TLuHash *LuHash);
    int AssignCommandLine(const QStringList &arguments);
    int Load(const QString &fName, bool Overwrite, const QString &Separators = StdKeySeparators);
    int Save(const QString &fName, const QString &Separator) const;
    QString Append(const QString &sign, const QString &value, const QString &sep);
    qint64 Inc(const QString &sign, qint64 value);
    double Inc(const QString &sign, double value);
    void Remove(const QString &sign);
    void Remove(int idx);

    qint64 GetAsInteger(const QString &sign) const;
    void SetAsInteger(const QString &sign, qint64 value);
    qint64 GetAsHex(const QString &sign) const;
    void SetAsHex(const QString &sign, qint64 value);
    double GetAsDouble(const QString &sign) const;
    void SetAsDouble(const QString &sign, double value);
    TDateTime GetAsDateTime(const QString &sign) const;
    void SetAsDateTime(const QString &sign, TDateTime value);
    bool GetAsBool(const QString &sign) const;
    void SetAsBool(const QString &sign, bool value);
    quintptr GetAsPointer(const QString &sign) const;
    void SetAsPointer(const QString &sign, quintptr value);

    QString AsJson() const;
    int AssignJson(const QString &Json, bool Clean);
    void ExpandValues(const TLuHash *ref = nullptr);
    void Sort();

    bool Sorted() const { return fsorted; }
    TOnCompareStrings OnCompare() const { return foncompare; }
    void SetOnCompare(TOnCompareStrings f) { foncompare = f; }
    int Tag() const { return ftag; }
    void SetTag(int t) { ftag = t; }

private:
    struct TEntry {
        QString key;
        QString value;
    };

    static QString FoldKey(const QString &key);
    void AppendEntry(const QString &key, const QString &value);
    void RebuildIndex();

    QVector<TEntry> entries;
    QHash<QString, int> index; // folded key -> position in entries
    bool fsorted = false;
    TOnCompareStrings foncompare = nullptr;
    int ftag = 0;
};
