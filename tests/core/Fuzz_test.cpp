// Random and hostile texts must come back from the parsers with some result: no crash, no hang.
#include "LuDates.h"
#include "LuHash.h"
#include "LuUtils.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QString RandomText(QRandomGenerator &rng, int maxLen)
{
    static const char16_t alphabet[] = u"{}[]=:\t ,;#/\\\"$%\r\nx0123456789.-+:aZ\u0416\xD800\xDC00\xFFFF";
    const int len = rng.bounded(maxLen);
    QString s;
    s.reserve(len);
    for (int i = 0; i < len; ++i) {
        if (rng.bounded(4) == 0)
            s += QChar(char16_t(rng.bounded(0x10000)));
        else
            s += QChar(alphabet[rng.bounded(int(std::size(alphabet) - 1))]);
    }
    return s;
}

void FeedAll(const QString &text)
{
    TLuHash h;
    h.Assign(text, true);
    h.Assign(text, false, QStringLiteral(":"), QStringLiteral(";"));
    h.AssignJson(text, false);
    h.ExpandValues();
    (void)h.AsJson();
    (void)h.AsText("=", "\r\n");
    (void)UnescapeText(text);
    for (int n = -1; n < 5; ++n)
        (void)ExtractField(n, text, QStringLiteral(",; \t"));
    (void)ParseDateTime(text);
}

} // namespace

TEST(Fuzz, RandomTextsReturn)
{
    QRandomGenerator rng(20261209);
    for (int round = 0; round < 3000; ++round)
        FeedAll(RandomText(rng, 200));
}

TEST(Fuzz, HostileShapesReturn)
{
    const QStringList hostile = {
        QString(200000, u'{'),
        QString(200000, u'['),
        "a=" + QString(100000, u'{') + QString(100000, u'}'),
        "{" + QString("\"k\": {").repeated(5000),
        "k=" + QString(2000000, u'x'),
        "a=x\rv=" + QString("$a$").repeated(10000),
        "a=$b$\rb=$c$$a$\rc=$a$$b$",
        QString(100000, u'\\'),
        QString("\\x").repeated(1000) + "\\",
        QString("1.2.3.").repeated(30000),
        QString("99999999999999999999.99999999999999999.9999999999999 99:99:99:99"),
        QString::fromUtf8("\xEF\xBF\xBD\xED\xA0\x80 invalid"),
    };
    for (const QString &text : hostile)
        FeedAll(text);
    SUCCEED();
}
