// Random and hostile texts through the parsers of outside input, with the same checks the fuzz targets
// make (tests/fuzz/parser_checks.h): no crash, no hang, and what must hold does.
#include "LuDates.h"
#include "LuHash.h"
#include "LuUtils.h"
#include "fuzz/parser_checks.h"

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
    EXPECT_EQ(ParserChecks::CheckHashText(text).toStdString(), "") << text.left(200).toStdString();
    EXPECT_EQ(ParserChecks::CheckHashJson(text).toStdString(), "") << text.left(200).toStdString();
    EXPECT_EQ(ParserChecks::CheckEscapes(text).toStdString(), "") << text.left(200).toStdString();
    EXPECT_EQ(ParserChecks::CheckDateTime(text).toStdString(), "") << text.left(200).toStdString();
    TLuHash h;
    h.Assign(text, false, QStringLiteral(":"), QStringLiteral(";"));
    h.ExpandValues();
    EXPECT_EQ(ParserChecks::IndexAgrees(h).toStdString(), "");
    for (int n = -1; n < 5; ++n)
        (void)ExtractField(n, text, QStringLiteral(",; \t"));
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
}

TEST(Fuzz, DatesReadBackAndPlainEntriesAreRecognised)
{
    QRandomGenerator rng(9);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(ParserChecks::CheckDateRoundTrip(1000 + rng.bounded(9000), 1 + rng.bounded(12), 1 + rng.bounded(28),
                                                   rng.bounded(24), rng.bounded(60), rng.bounded(60)),
                  "");
    // Only entries that are one ordinary line take part in the text round trip.
    EXPECT_TRUE(ParserChecks::IsPlainEntry("key", "value"));
    EXPECT_FALSE(ParserChecks::IsPlainEntry("key", "{block"));
    EXPECT_FALSE(ParserChecks::IsPlainEntry("#key", "v"));
}
