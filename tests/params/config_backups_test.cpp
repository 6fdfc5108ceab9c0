#include "config_backups.h"

#include "LuFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ConfigBackups, AreWrittenInTheConfigurationFormatNewestFirstAndPruned) {
    QTemporaryDir dir;
    const QString data = dir.path() + u'/';
    TLuHash config;
    config.Assign("SRV_PORT=21000\rAPN_NAME=internet", true);
    QString error;
    QStringList written;
    for (int i = 0; i < 4; ++i) {
        config.SetVal("SRV_PORT", QString::number(i));
        written << WriteBackup(data, "356938035643809", config, i % 2 ? "write" : "firmware", 3, error);
        ASSERT_FALSE(written.last().isEmpty()) << error.toStdString();
    }
    EXPECT_TRUE(written[0].startsWith(data + "backups/356938035643809/"));
    EXPECT_TRUE(written[0].endsWith("-firmware.cfg")) << written[0].toStdString();
    const QStringList kept = ListBackups(data, "356938035643809");
    ASSERT_EQ(kept.size(), 3); // the oldest went
    EXPECT_EQ(kept.first(), written.last());
    EXPECT_FALSE(QFile::exists(written.first()));
    TLuHash back;
    back.Load(kept.first(), true);
    EXPECT_EQ(back.GetVal("SRV_PORT"), "3");
    EXPECT_EQ(back.GetVal("APN_NAME"), "internet");
    EXPECT_EQ(BackupDevices(data), QStringList({"356938035643809"}));
}

TEST(ConfigBackups, BackupsOfOneMillisecondListInTheOrderTheyWereWritten) {
    QTemporaryDir dir;
    const QString data = dir.path() + u'/';
    const QString folder = BackupFolder(data, "1");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QStringList newestFirst = {"20010101-120000-124-firmware.cfg", "20010101-120000-123-10-write.cfg",
                                     "20010101-120000-123-9-write.cfg", "20010101-120000-123-2-load.cfg",
                                     "20010101-120000-123-write.cfg", "20010101-115959-999-2-write.cfg"};
    for (const QString &name : newestFirst) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QStringList expected;
    for (const QString &name : newestFirst)
        expected << folder + name;
    EXPECT_EQ(ListBackups(data, "1"), expected);
    QString error;
    const QString newest = WriteBackup(data, "1", TLuHash(), "write", 3, error);
    const QStringList kept = ListBackups(data, "1");
    ASSERT_EQ(kept.size(), 3);
    EXPECT_EQ(kept.first(), newest);
    EXPECT_EQ(kept.mid(1), expected.mid(0, 2));
}

TEST(ConfigBackups, AnIdentityFromTheDeviceStaysOneFolderAndFailuresSayWhy) {
    QTemporaryDir dir;
    const QString data = dir.path() + u'/';
    EXPECT_EQ(BackupFolder(data, "../../etc"), data + "backups/______etc/");
    EXPECT_EQ(BackupFolder(data, ""), data + "backups/unknown/");
    QFile blocker(data + "backups");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    QString error;
    EXPECT_TRUE(WriteBackup(data, "1", TLuHash(), "write", 50, error).isEmpty());
    EXPECT_TRUE(error.contains("cannot create the folder")) << error.toStdString();
    EXPECT_TRUE(ListBackups(data, "1").isEmpty());
}
