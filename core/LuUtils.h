// Text, number and code-page helpers shared by every layer of the configurator.
//
// Positions in texts count from 1, a "character" is one UTF-16 code unit and trimming removes every
// character with a code of 32 or less. Nothing here raises for bad input: conversions fall back to
// the stated default. The ANSI code page is one process-wide setting (windows-1251 unless changed
// through SetAnsiCodePage, which start-up calls from the settings).
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>

// Plain comparison used by the sorts of TLuHash and TLuStringList: negative, zero or positive.
using TOnCompareStrings = int (*)(const QString &s1, const QString &s2);

// The key separators used everywhere: "=", TAB and blank, tried in that order.
inline const QString StdKeySeparators = QStringLiteral("=\t ");

// Trimming by the system's rule (codes <= 32), not QString's Unicode white-space rule.
QString TrimText(const QString &s);
QString TrimLeftText(const QString &s);
QString TrimRightText(const QString &s);

// Numbers and text.
bool IsRadixDigit(QChar ch, int base, int pos);
bool IsNumberText(const QString &text, int base);
QString IntToBase(int minDigits, int base, qint64 value);
QString IntToDec(int minDigits, qint64 value);
QString FloatToDec(double value, int decimals);
qint64 TextToInt(const QString &text, int base, qint64 def);
qint64 DecToInt(const QString &text, qint64 def);
double TextToFloat(const QString &text);
QChar LowerChar(QChar ch);
QChar UpperChar(QChar ch);

// Small values.
bool HasBits(qint64 a, qint64 b);
int HiByteOf(int v);
int LoByteOf(int v);
quint16 HiWordOf(quint32 v);
quint16 LoWordOf(quint32 v);
qint64 IfInt64(bool cond, qint64 a, qint64 b);
QString IfStr(bool cond, const QString &a, const QString &b);
QChar IfChar(bool cond, QChar a, QChar b);
int MinOf(int a, int b);
int MaxOf(int a, int b);

// Texts.
QString EscapeText(const QString &text);
QString UnescapeText(const QString &text);
QString ReplaceAll(const QString &text, const QString &from, const QString &to);
QString ReplaceAny(const QString &text, const QStringList &patterns, const QString &to);
QString RepeatChar(QChar ch, int n);
QString RepeatText(const QString &text, int n);
int CountChar(const QString &text, QChar ch);
// 1-based position of the first separator found (separators tried in order), -1 when none.
int FindSeparator(const QString &separators, const QString &line);
// The n-th field (n counts from 1); *start receives its 1-based position when the field exists.
QString ExtractField(int n, const QString &text, const QString &separators, int *start = nullptr);
QString LeftPart(const QString &text, int n);
QString RightPart(const QString &text, int n);
QString StripEnclosing(const QString &text, const QString &open, const QString &close);

// ANSI code page. Unknown names leave the current code page in place and return false.
bool SetAnsiCodePage(const QString &name);
QString AnsiCodePage();
char ToAnsiChar(QChar ch);
QChar FromAnsiChar(char b);
QByteArray ToAnsiText(const QString &text);
QString FromAnsiText(const QByteArray &bytes);
QString FromAnsiBuffer(const char *buffer);

// "<system message> [code]" or "[code]" when the system has no text; -1 means the last error (errno).
QString SystemErrorText(int code);
