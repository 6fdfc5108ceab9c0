#include "param_description.h"

#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const char *const Description = R"(__GROUPS = grp_a, ;grp_off
grp_a = {
  params = P_LIST P_NUM, P_ONLY_LISTED
}
P_LIST = {
  type = lookup
  values = TCP|UDP
}
P_NUM = {
  type = int
  min = 1
  max = 100
}
P_IP = {
  type = ip
}
P_DUR = {
  type = duration
}
P_FLAGS = {
  type = check
  count = 3
  values = a,b,c
}
P_TEXT = {
  max_len = 4
}
)";

TLuHash LoadDescription(const QTemporaryDir &dir) {
    QFile file(dir.filePath(DescriptionName));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Description);
    file.close();
    TLuHash description;
    LoadParamsDescription(description, {dir.path() + u'/', QStringLiteral("/nonexistent/")});
    return description;
}

TValueCheck Check(const TLuHash &description, const char *key, const QString &value) {
    return CheckParamValue(AttributesOf(description.GetVal(QString::fromLatin1(key))), value);
}

} // namespace

TEST(ParamDescription, KnowsListedAndUngroupedParametersButNotGroups) {
    QTemporaryDir dir;
    const TLuHash description = LoadDescription(dir);
    const QSet<QString> params = DescribedParams(description);
    for (const char *key : {"P_LIST", "P_NUM", "P_ONLY_LISTED", "P_IP", "P_DUR", "P_FLAGS", "P_TEXT"})
        EXPECT_TRUE(params.contains(QString::fromLatin1(key))) << key;
    EXPECT_FALSE(params.contains("grp_a"));
    EXPECT_FALSE(params.contains("__GROUPS"));
    EXPECT_EQ(ListEntries(" a,b;;c | #d"), QStringList({"a", "b", "c"}));
}

TEST(ParamDescription, EachKindChecksItsValueAndNotUseAlwaysPasses) {
    QTemporaryDir dir;
    const TLuHash d = LoadDescription(dir);
    EXPECT_EQ(Check(d, "P_LIST", "UDP"), vcOk);
    EXPECT_EQ(Check(d, "P_LIST", "udp"), vcNotAnItem);
    EXPECT_EQ(Check(d, "P_NUM", "100"), vcOk);
    EXPECT_EQ(Check(d, "P_NUM", "101"), vcOutOfRange);
    EXPECT_EQ(Check(d, "P_NUM", "1e3"), vcNotANumber);
    EXPECT_EQ(Check(d, "P_IP", "10.0.0.256"), vcNotAnIpAddress);
    EXPECT_EQ(Check(d, "P_DUR", "30s"), vcOk);
    EXPECT_EQ(Check(d, "P_DUR", "90"), vcOk);
    EXPECT_EQ(Check(d, "P_DUR", "5 min"), vcNotADuration); // the editor would read 5 seconds
    EXPECT_EQ(Check(d, "P_FLAGS", "1010"), vcOk);
    EXPECT_EQ(Check(d, "P_FLAGS", "12"), vcNotFlags);
    EXPECT_EQ(Check(d, "P_TEXT", "abcd"), vcOk);
    EXPECT_EQ(Check(d, "P_TEXT", "abcde"), vcTooLong);
    EXPECT_EQ(Check(d, "P_NUM", "NOT USE"), vcOk);
    EXPECT_EQ(ValueCheckText(vcOutOfRange, AttributesOf(d.GetVal("P_NUM"))), "outside 1..100");
    EXPECT_EQ(ValueCheckText(vcNotAnItem, AttributesOf(d.GetVal("P_LIST"))), "not one of: TCP, UDP");
}

TEST(ConfigCheck, ReportsUnknownAndRefusedEntriesWithTheirLines) {
    QTemporaryDir dir;
    const TLuHash d = LoadDescription(dir);
    const QList<TConfigEntry> entries =
        ConfigEntries("P_LIST=TCP\r\n# note\r\n\r\nP_NUM=0\nBOGUS=1\n_IMEI=123\nP_IP=NOT USE\rP_TEXT=toolong");
    ASSERT_EQ(entries.size(), 6);
    EXPECT_EQ(entries[1].line, 4);
    const QList<TConfigProblem> problems = CheckConfigEntries(entries, d);
    ASSERT_EQ(problems.size(), 3);
    EXPECT_EQ(problems[0].entry.line, 4);
    EXPECT_EQ(problems[0].entry.key, "P_NUM");
    EXPECT_EQ(problems[1].entry.key, "BOGUS");
    EXPECT_EQ(problems[1].reason, "not in the parameter description");
    EXPECT_EQ(problems[2].entry.line, 8);
    EXPECT_TRUE(CheckConfigEntries(ConfigEntries(""), d).isEmpty());
}

TEST(ConfigCompare, FindsOneSidedAndDifferentValuesAsALoadSeesThem) {
    TLuHash device, file;
    device.Assign("A=1\rB=2\r_IMEI=9\rC=3\rD=4", true);
    file.Assign("B=2\rA=10\rC=NOT USE\r_IMEI=8\rE=5", true);
    const QList<TConfigDifference> d = CompareConfigs(device, file);
    ASSERT_EQ(d.size(), 3);
    EXPECT_EQ(d[0].key, "A");
    EXPECT_EQ(d[0].deviceValue, "1");
    EXPECT_EQ(d[0].fileValue, "10");
    EXPECT_TRUE(d[0].onDevice && d[0].inFile);
    EXPECT_EQ(d[1].key, "D"); // C is "NOT USE" in the file: a load leaves it alone
    EXPECT_FALSE(d[1].inFile);
    EXPECT_EQ(d[2].key, "E");
    EXPECT_FALSE(d[2].onDevice);
    EXPECT_TRUE(CompareConfigs(device, device).isEmpty());
}

TEST(ParamDescription, ContradictionsAreNamedAndHostileTextIsReadWithoutHarm) {
    TLuHash d;
    d.Assign("P_RANGE = {\r  type = int\r  min = 10\r  max = 5\r}\rP_FLAGS = {\r  type = check\r  count = 5\r"
             "  values = a,b\r}\rP_OPEN = {\r  type = int\r",
             true);
    EXPECT_EQ(DescriptionProblems(d), QStringList({"P_FLAGS: count 5 is above its 2 items",
                                                   "P_RANGE: min 10 is above max 5, so no range is checked"}));
    // A block that never closes, a megabyte line, control characters and broken UTF-8 decoded as
    // replacement characters: each entry is still reported by its line, nothing more.
    const QString hostile = QStringLiteral("P_RANGE=") + QString(1 << 20, u'9') + QStringLiteral("\n\x01\x02=\x03\n") +
                            QString::fromUtf8("P_FLAGS=\xff\xfe\n") + QStringLiteral("P_OPEN=7\n");
    const QList<TConfigProblem> problems = CheckConfigEntries(ConfigEntries(hostile), d);
    ASSERT_FALSE(problems.isEmpty());
    for (const TConfigProblem &p : problems)
        EXPECT_GT(p.entry.line, 0);
    // The huge number passes (min above max: no range); the broken flags do not; 7 is a number.
    EXPECT_EQ(problems.first().entry.key, "P_FLAGS");
    EXPECT_EQ(problems.first().entry.line, 3);
    EXPECT_EQ(problems.size(), 1);
}
