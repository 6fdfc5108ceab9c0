#include "LuUtils.h"

#include <cmath>

#include "LuPlatform.h"

namespace {

bool IsBlank(QChar ch) {
    return ch.unicode() <= 32;
}

QString TrimSides(const QString &s, bool left, bool right) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (left && b < e && IsBlank(s[b]))
        ++b;
    while (right && e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool InRange(QChar ch, char16_t lo, char16_t hi) {
    return ch.unicode() >= lo && ch.unicode() <= hi;
}

// The value of a character that passed IsRadixDigit; a leading sign counts 0.
int DigitValue(QChar ch) {
    if (InRange(ch, u'0', u'9'))
        return ch.unicode() - u'0';
    if (InRange(ch, u'A', u'F'))
        return ch.unicode() - u'A' + 10;
    if (InRange(ch, u'a', u'f'))
        return ch.unicode() - u'a' + 10;
    return 0;
}

// Picks the base from the prefix ("#", "x", "0x" hexadecimal, "0" octal) and removes the prefix. A
// single character is always decimal, so "0" stays zero rather than an empty octal number.
int AutoBase(QString &s) {
    if (s.size() < 2)
        return 10;
    const QChar first = LowerChar(s[0]);
    if (first == u'#' || first == u'x') {
        s.remove(0, 1);
        return 16;
    }
    if (first != u'0')
        return 10;
    if (LowerChar(s[1]) == u'x') {
        s.remove(0, 2);
        return 16;
    }
    s.remove(0, 1);
    return 8;
}

// Unsigned arithmetic: the callers rely on wrap-around modulo 2^64 rather than on overflow checks.
qint64 DigitsValue(const QString &s, int base) {
    quint64 value = 0;
    quint64 weight = 1;
    for (qsizetype i = s.size() - 1; i >= 0; --i) {
        value += quint64(DigitValue(s[i])) * weight;
        weight *= quint64(base);
    }
    if (base == 10 && s.startsWith(u'-'))
        value = 0 - value;
    return qint64(value);
}

// Letters after a backslash that stand for one character each, and those characters, in the same order.
const QString EscapeLetters = QStringLiteral("!\"\\nrst");
const QString EscapedChars = QStringLiteral("!\"\\\n\r \t");

// Resolves the escape whose letter is at text[i] (just after the backslash) into out; returns the
// number of characters consumed from i on.
qsizetype UnescapeSequence(const QString &text, qsizetype i, QString &out) {
    const QChar c = text[i];
    const qsizetype simple = EscapeLetters.indexOf(c);
    if (simple >= 0) {
        out += EscapedChars[simple];
        return 1;
    }
    if (c == u'x') {
        const QString code = text.mid(i + 1, 2);
        out += QChar(char16_t(TextToInt(code, 16, 0)));
        return 1 + code.size();
    }
    if (!InRange(c, u'0', u'9')) {
        out += u'\\';
        out += c;
        return 1;
    }
    // The decimal form has a fixed width of three, digits or not, so "\7ab" also swallows "ab".
    const QString code = text.mid(i, 3);
    out += QChar(char16_t(DecToInt(code, 0)));
    return code.size();
}

struct TEscape {
    char16_t ch;
    const char *form;
};
constexpr TEscape Escapes[] = {{u',', "\\x2C"}, {u';', "\\x3B"}, {u'\\', "\\\\"}, {u'\t', "\\t"},
                               {u'\n', "\\n"},  {u'\r', "\\r"},  {u' ', "\\s"}};

QString EscapeForm(QChar ch) {
    for (const TEscape &escape : Escapes)
        if (escape.ch == ch.unicode())
            return QLatin1String(escape.form);
    // Three digits, as the reader takes them: a shorter code would swallow the characters after it.
    return ch.unicode() < 32 ? u'\\' + QStringLiteral("%1").arg(ch.unicode(), 3, 10, QChar(u'0')) : QString(ch);
}

qsizetype FindAnyOf(const QString &text, const QString &chars, qsizetype from) {
    for (qsizetype i = from; i < text.size(); ++i)
        if (chars.contains(text[i]))
            return i;
    return -1;
}

// Where a last field without a separator after it ends (exclusive, 0-based): the field is cut there. The
// texts passing through here are device lines, far shorter.
constexpr qsizetype UnboundedFieldEnd = 999998;

} // namespace

QString TrimText(const QString &s) {
    return TrimSides(s, true, true);
}
QString TrimLeftText(const QString &s) {
    return TrimSides(s, true, false);
}
QString TrimRightText(const QString &s) {
    return TrimSides(s, false, true);
}

bool IsRadixDigit(QChar ch, int base, int pos) {
    switch (base) {
    case 2:
        return InRange(ch, u'0', u'1');
    case 8:
        return InRange(ch, u'0', u'7');
    case 10:
        return InRange(ch, u'0', u'9') || (pos == 0 && (ch == u'+' || ch == u'-'));
    case 16:
        return InRange(ch, u'0', u'9') || InRange(ch, u'A', u'F') || InRange(ch, u'a', u'f');
    default:
        return false;
    }
}

bool IsNumberText(const QString &text, int base) {
    if (text.isEmpty())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!IsRadixDigit(text[i], base, int(i)))
            return false;
    return true;
}

QString IntToBase(int minDigits, int base, qint64 value) {
    if (base != 2 && base != 8 && base != 10 && base != 16)
        return {};
    const bool negative = base == 10 && value < 0;
    // Outside base 10 the value is its 64-bit pattern, so -1 in base 16 is sixteen "F"s.
    quint64 rest = negative ? 0 - quint64(value) : quint64(value);
    QString digits;
    do {
        digits.prepend(QLatin1Char("0123456789ABCDEF"[rest % quint64(base)]));
        rest /= quint64(base);
    } while (rest != 0);
    if (digits.size() < minDigits)
        digits.prepend(QString(minDigits - digits.size(), u'0'));
    return negative ? u'-' + digits : digits;
}

QString IntToDec(int minDigits, qint64 value) {
    return IntToBase(minDigits, 10, value);
}

// Always "." and never grouped: these texts go to the device and into files, not only to the user.
QString FloatToDec(double value, int decimals) {
    const QString text = QString::number(value, 'f', decimals > 0 ? decimals : 2);
    // A negative value that rounds to zero shows no sign.
    return text.startsWith(u'-') && text.toDouble() == 0.0 ? text.mid(1) : text;
}

qint64 TextToInt(const QString &text, int base, qint64 def) {
    QString s = TrimText(text);
    if (base < 0)
        base = AutoBase(s);
    return IsNumberText(s, base) ? DigitsValue(s, base) : def;
}

qint64 DecToInt(const QString &text, qint64 def) {
    return TextToInt(text, 10, def);
}

// Either separator is read as the decimal point whatever the user's locale, so that values typed on one
// machine read the same on another.
double TextToFloat(const QString &text) {
    QString s = TrimText(text);
    qsizetype point = s.indexOf(u'.');
    if (point < 0)
        point = s.indexOf(u',');
    if (point >= 0)
        s[point] = u'.';
    bool ok = false;
    const double value = s.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QChar LowerChar(QChar ch) {
    if (InRange(ch, u'A', u'Z') || InRange(ch, u'\u0410', u'\u042F'))
        return QChar(char16_t(ch.unicode() + 32));
    return ch;
}

QChar UpperChar(QChar ch) {
    return ch.toUpper();
}

bool HasBits(qint64 a, qint64 b) {
    return (a & b) != 0;
}
int HiByteOf(int v) {
    return (v >> 8) & 0xFF;
}
int LoByteOf(int v) {
    return v & 0xFF;
}
quint16 HiWordOf(quint32 v) {
    return quint16(v >> 16);
}
quint16 LoWordOf(quint32 v) {
    return quint16(v & 0xFFFF);
}
qint64 IfInt64(bool cond, qint64 a, qint64 b) {
    return cond ? a : b;
}
QString IfStr(bool cond, const QString &a, const QString &b) {
    return cond ? a : b;
}
QChar IfChar(bool cond, QChar a, QChar b) {
    return cond ? a : b;
}
int MinOf(int a, int b) {
    return a < b ? a : b;
}
int MaxOf(int a, int b) {
    return a > b ? a : b;
}

// The result has no character of code 32 or less, nor "," or ";", so it survives as one field of a
// line-oriented, comma- or semicolon-separated text.
QString EscapeText(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (QChar ch : text)
        out += EscapeForm(ch);
    return out;
}

QString UnescapeText(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\')
            out += text[i];
        else if (i + 1 < text.size())
            i += UnescapeSequence(text, i + 1, out);
    }
    return out;
}

QString ReplaceAll(const QString &text, const QString &from, const QString &to) {
    if (from.isEmpty())
        return text;
    QString out = text;
    return out.replace(from, to, Qt::CaseInsensitive);
}

QString ReplaceAny(const QString &text, const QStringList &patterns, const QString &to) {
    QString out = text;
    for (const QString &pattern : patterns)
        out = ReplaceAll(out, pattern, to);
    return out;
}

QString RepeatChar(QChar ch, int n) {
    return n > 0 ? QString(n, ch) : QString();
}
QString RepeatText(const QString &text, int n) {
    return n > 0 ? text.repeated(n) : QString();
}
int CountChar(const QString &text, QChar ch) {
    return int(text.count(ch));
}

int FindSeparator(const QString &separators, const QString &line) {
    for (QChar sep : separators) {
        const qsizetype pos = line.indexOf(sep);
        if (pos >= 0)
            return int(pos + 1);
    }
    return -1;
}

// With several separator characters (blank and TAB, say) a run of them is one gap between fields; with
// a single one every separator counts, so "a,,b" has an empty second field.
QString ExtractField(int n, const QString &text, const QString &separators, int *start) {
    qsizetype p = 0;
    for (int field = 1; field < n; ++field) {
        const qsizetype sep = FindAnyOf(text, separators, p);
        if (sep < 0)
            return {};
        p = sep + 1;
        while (separators.size() > 1 && p < text.size() && separators.contains(text[p]))
            ++p;
    }
    const qsizetype end = FindAnyOf(text, separators, p);
    if (start)
        *start = int(p + 1);
    return text.mid(p, qMax<qsizetype>(0, (end < 0 ? UnboundedFieldEnd : end) - p));
}

QString LeftPart(const QString &text, int n) {
    return text.left(n >= 0 ? n : qMax<qsizetype>(0, text.size() + n));
}

QString RightPart(const QString &text, int n) {
    return n > 0 ? text.right(n) : text.mid(1);
}

// The checks look at the untrimmed text while the cuts apply to the trimmed one, so a blank in front of
// the opening character leaves it in place.
QString StripEnclosing(const QString &text, const QString &open, const QString &close) {
    QString out = TrimText(text);
    if (text.startsWith(open))
        out = out.mid(open.size(), 99999);
    if (text.endsWith(close))
        out.chop(close.size());
    return out;
}

QString SystemErrorText(int code) {
    if (code == -1)
        code = LastSystemError();
    const QString message = TrimText(SystemMessage(code));
    const QString number = u'[' + QString::number(code) + u']';
    return message.isEmpty() ? number : message + u' ' + number;
}
