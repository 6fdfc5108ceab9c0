// Jobs as an office writes them, and as they go wrong: checked whole before any tracker is touched.
#include "station_job.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char *const Description = R"(SRV_ADDR = {
  type = ip
}
SRV_PORT = {
  type = int
  min = 1
  max = 65535
}
DEV_LABEL = {
  max_len = 16
}
SIM_PIN = {
}
)";

class StationJob : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TLuHash description;
    void SetUp() override {
        Write("params.conf", Description);
        description.Load(dir.filePath("params.conf"), true);
        Write("customer.cfg", "SRV_ADDR=203.0.113.25\r\nSRV_PORT=21000\r\n");
        Write("trackers.csv", "IMEI;DEV_LABEL;SIM_PIN\n356938035643809;bus 12;1111\n490154203237518;bus 14;2222\n");
        Write("fw.bin", QByteArray(300, 'x'));
    }
    void Write(const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    bool Load(const QByteArray &jobText, TStationJob &job, QStringList &problems) {
        Write("order.job", jobText);
        return LoadStationJob(dir.filePath("order.job"), description, job, problems);
    }
};

} // namespace

// A whole job: the configuration, each tracker's own values over it, the firmware, and a hash that
// follows every file the job names.
TEST_F(StationJob, AJobGivesEachTrackerItsEntriesAndAHashOfItsWholeContent) {
    TStationJob job;
    QStringList problems;
    ASSERT_TRUE(Load("name=order-17\nconfig=customer.cfg\ntable=trackers.csv\nfirmware=fw.bin\n"
                     "firmware_version=346\npassword=1234\n",
                     job, problems))
        << problems.join(u'\n').toStdString();
    EXPECT_EQ(job.name, "order-17");
    EXPECT_EQ(job.firmwareFile, dir.filePath("fw.bin"));
    EXPECT_TRUE(job.verify);
    EXPECT_EQ(job.tableKeys, (QStringList{"DEV_LABEL", "SIM_PIN"}));
    QList<std::pair<QString, QString>> entries;
    QString why;
    ASSERT_TRUE(job.EntriesFor("490154203237518", entries, why));
    EXPECT_EQ(entries, (QList<std::pair<QString, QString>>{
                           {"SRV_ADDR", "203.0.113.25"}, {"SRV_PORT", "21000"}, {"DEV_LABEL", "bus 14"}, {"SIM_PIN", "2222"}}));
    // A tracker missing from the table is refused, not half-written.
    EXPECT_FALSE(job.EntriesFor("111111111111111", entries, why));
    EXPECT_TRUE(why.contains("111111111111111")) << why.toStdString();

    const QString before = job.sha256;
    EXPECT_EQ(before.size(), 64);
    Write("fw.bin", QByteArray(300, 'y'));
    ASSERT_TRUE(LoadStationJob(dir.filePath("order.job"), description, job, problems));
    EXPECT_NE(job.sha256, before);
}

// Every reason a job may not start is said at once, with its file and line.
TEST_F(StationJob, HostileJobsAndTablesAreRefusedWithEveryReason) {
    Write("bad.csv", "IMEI,DEV_LABEL\n356938035643809,bus 12\n356938035643809,bus 13\n490154203237518\n"
                     "12345,bus 9\n490154203237519,a label much too long for it\n");
    Write("bad.cfg", "SRV_PORT=99999\r\nNO_SUCH_KEY=1\r\n");
    TStationJob job;
    QStringList problems;
    EXPECT_FALSE(Load("name=x\nconfig=bad.cfg\ntable=bad.csv\nfirmware=fw.bin\ncolour=red\nverify=maybe\n", job, problems));
    const QString all = problems.join(u'\n');
    for (const char *reason : {"line 5: unknown key colour", "verify is 0 or 1, not maybe", "firmware without firmware_version",
                               "bad.cfg line 1: SRV_PORT=99999", "bad.cfg line 2: NO_SUCH_KEY=1",
                               "bad.csv line 3: IMEI 356938035643809 is in the table twice",
                               "bad.csv line 4: 1 fields, the header has 2", "bad.csv line 5: 12345 is not an IMEI",
                               "bad.csv line 6: DEV_LABEL=a label much too long for it"})
        EXPECT_TRUE(all.contains(QString::fromLatin1(reason))) << reason << "\n" << all.toStdString();

    Write("binary.csv", "IMEI;DEV_LABEL\n356938035643809;\xff\xfe\n");
    EXPECT_FALSE(Load("name=x\nconfig=customer.cfg\ntable=binary.csv\n", job, problems));
    EXPECT_TRUE(problems.join(u'\n').contains("is not UTF-8 text")) << problems.join(u'\n').toStdString();
    Write("long.csv", "IMEI;DEV_LABEL\n356938035643809;" + QByteArray(5000, 'a') + "\n");
    EXPECT_FALSE(Load("name=x\nconfig=customer.cfg\ntable=long.csv\n", job, problems));
    EXPECT_TRUE(problems.join(u'\n').contains("line 2: longer than 4096 characters")) << problems.join(u'\n').toStdString();
    EXPECT_FALSE(Load("config=missing.cfg\n", job, problems));
    EXPECT_TRUE(problems.join(u'\n').contains("the job has no name"));
    EXPECT_TRUE(problems.join(u'\n').contains("the config file " + dir.filePath("missing.cfg") + " cannot be read"));
}
