// Line-level pieces of the store's text reader that its JSON reader shares. Internal to core.
#pragma once

#include <QString>

class TLuStringList;

namespace LuHashParse {

inline constexpr int MaxEnclosedText = 99999;
inline constexpr int MaxLineValue = 999999;

bool IsCommentStart(QChar c);
QChar CloserOf(QChar opener);
bool StartsBlock(const QString &value);
// Splits a line at its first separator; false when there is a separator but no key before it.
bool SplitKeyValue(const QString &line, const QString &separators, QString &key, QString &value);
// A block value opened on one line goes on over the following lines until its brackets balance;
// `i` is left on the last line consumed.
QString CollectBlockValue(const QString &first, const TLuStringList &lines, int &i);

} // namespace LuHashParse
