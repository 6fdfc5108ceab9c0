#include "LuVerInfo.h"

#include "app_test_util.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class LuVerInfo : public ::testing::Test {
protected:
    // A program-like file holding `payload` as its version block. The markers are put together at run
    // time so that this test program does not carry a block itself.
    QString FileWith(const QByteArray &payload) const {
        const auto marker = [](const char *which) {
            return QByteArray("\x7F"
                              "VELTRA-VERINFO-") +
                   which + '\x7F';
        };
        const QString path = dir.filePath(QStringLiteral("program"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(QByteArray(300, '\0') + marker("BEGIN") + payload + marker("END") +
                       QByteArray(300, '\xFF'));
        return path;
    }

    QTemporaryDir dir;
    TLuHash store;
};

} // namespace

TEST_F(LuVerInfo, ReadsTheBlockOfTheBuiltProgramInTheOrderOfTheFields) {
    ASSERT_TRUE(ReadVersionInfo(QStringLiteral(VELTRA_CONFIGURE_PATH), store));
    EXPECT_EQ(store.GetVal("ProductName"), "Veltra Configure");
    // The about window shows FileVersion: it is the version the package carries, as is ProductVersion.
    EXPECT_EQ(store.GetVal("FileVersion"), VELTRA_VERSION);
    EXPECT_EQ(store.GetVal("ProductVersion"), VELTRA_VERSION);
    EXPECT_EQ(store.KeyIndex("SpecialBuild"), -1);
    EXPECT_EQ(store.Keys(","), "Comments,CompanyName,FileDescription,FileVersion,InternalName,LegalCopyright,"
                               "OriginalFilename,ProductName,ProductVersion");
}

TEST_F(LuVerInfo, WithoutABlockOrTranslationTheResultIsFalseAndTheStoreEmpty) {
    const QString files[] = {QCoreApplication::applicationFilePath(), dir.filePath(QStringLiteral("missing")),
                             FileWith("041904E3.ProductName=no translation\n")};
    for (const QString &file : files) {
        store.SetVal("ProductName", "stale");
        EXPECT_FALSE(ReadVersionInfo(file, store)) << file.toStdString();
        EXPECT_EQ(store.Count(), 0) << file.toStdString();
    }
}

TEST_F(LuVerInfo, OnlyTheFirstLanguageOfTheTranslationListCounts) {
    ASSERT_TRUE(ReadVersionInfo(FileWith("Translation=041904E3 040904B0\n"
                                         "040904B0.ProductName=Configurator\n"
                                         "040904B0.SpecialBuild=en\n"
                                         "041904E3.ProductName=Конфигуратор\n"),
                                store));
    EXPECT_EQ(store.AsText("=", ";"), "ProductName=Конфигуратор");
}

TEST_F(LuVerInfo, ABlockOver4096BytesIsNotRead) {
    const QByteArray head = "Translation=041904E3\n041904E3.Comments=";
    const QByteArray full = head + QByteArray(4096 - head.size(), 'c');
    ASSERT_TRUE(ReadVersionInfo(FileWith(full), store));
    EXPECT_EQ(store.GetVal("Comments").size(), 4096 - head.size());
    EXPECT_FALSE(ReadVersionInfo(FileWith(full + 'c'), store));
    EXPECT_EQ(store.Count(), 0);
}
