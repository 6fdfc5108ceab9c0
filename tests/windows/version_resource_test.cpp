// The version strings of a Windows program come from its VERSIONINFO resource, compiled in from the
// project's version.
#include "LuVerInfo.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

TEST(VersionResource, IsReadFromTheProgramFileInTheOrderOfTheFields) {
    TLuHash store;
    ASSERT_TRUE(ReadVersionInfo(QStringLiteral(VELTRA_CLI_PATH), store));
    EXPECT_EQ(store.GetVal("ProductName"), "Veltra Configure");
    EXPECT_EQ(store.GetVal("FileVersion"), VELTRA_VERSION);
    EXPECT_EQ(store.GetVal("ProductVersion"), VELTRA_VERSION);
    EXPECT_EQ(store.GetVal("OriginalFilename"), "veltra_cli.exe");
    EXPECT_EQ(store.Keys(","), "Comments,CompanyName,FileDescription,FileVersion,InternalName,LegalCopyright,"
                               "OriginalFilename,ProductName,ProductVersion");
    EXPECT_EQ(VersionLine(QStringLiteral(VELTRA_CLI_PATH)), QStringLiteral("veltra_cli " VELTRA_VERSION));
}

TEST(VersionResource, AFileWithoutOneGivesFalseAndAnEmptyStore) {
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("VS_VERSION_INFO FileVersion 9.9.9\n");
    file.close();
    for (const QString &name : {text, dir.filePath(QStringLiteral("missing.exe"))}) {
        TLuHash store;
        store.SetVal("ProductName", "stale");
        EXPECT_FALSE(ReadVersionInfo(name, store)) << name.toStdString();
        EXPECT_EQ(store.Count(), 0) << name.toStdString();
    }
}
