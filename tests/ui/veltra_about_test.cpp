#include "veltra_about.h"

#include "LuVerInfo.h"
#include "ui_test_util.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

namespace {

QString ShownText(const TVeltraAbout &window) {
    return Control<QTextEdit>(window, "ReInfo")->toPlainText();
}

} // namespace

TEST(AboutText, IsTheFourStringsEachFollowedByTwoLineBreaks) {
    TLuHash version;
    version.SetVal("Comments", "Конфигуратор трекеров");
    version.SetVal("ProductName", "Veltra Configure");
    version.SetVal("CompanyName", "Veltra");
    version.SetVal("FileVersion", "2.4.0.17");
    version.SetVal("LegalCopyright", "(c) 2026");
    EXPECT_EQ(AboutText(version), "Veltra Configure\r\n\r\nВерсия 2.4.0.17\r\n\r\n(c) 2026\r\n\r\n"
                                  "Конфигуратор трекеров\r\n\r\n");
    EXPECT_EQ(AboutText(TLuHash()), "\r\n\r\nВерсия \r\n\r\n\r\n\r\n\r\n\r\n");
}

TEST(AboutWindow, ShowsTheVersionStringsOfTheBuiltProgram) {
    TLuHash version;
    ASSERT_TRUE(ReadVersionInfo(QStringLiteral(VELTRA_CONFIGURE_PATH), version));
    ASSERT_FALSE(version.GetVal("ProductName").isEmpty());
    const TVeltraAbout window(nullptr, QStringLiteral(VELTRA_CONFIGURE_PATH));
    const QStringList lines = ShownText(window).split(u'\n');
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines[0], version.GetVal("ProductName"));
    EXPECT_EQ(lines[2], "Версия " + version.GetVal("FileVersion"));
    EXPECT_EQ(lines[4], version.GetVal("LegalCopyright"));
    EXPECT_EQ(lines[6], version.GetVal("Comments"));
}

TEST(AboutWindow, WithoutVersionStringsShowsOnlyTheVersionWordAndBlankLines) {
    // The test program itself carries no version block.
    const TVeltraAbout window(nullptr, QCoreApplication::applicationFilePath());
    const QString shown = ShownText(window);
    EXPECT_EQ(shown.trimmed(), "Версия");
    EXPECT_EQ(shown.count(u'\n'), 8);
}

TEST(AboutWindow, ShowsTheIconAt72AndClosesByItsButtonEnterOrEscape) {
    TVeltraAbout window(nullptr, QCoreApplication::applicationFilePath());
    EXPECT_EQ(Control<QLabel>(window, "ImgIcon")->pixmap().deviceIndependentSize(), QSizeF(72, 72));
    const QTextEdit *info = Control<QTextEdit>(window, "ReInfo");
    EXPECT_TRUE(info->isReadOnly());
    EXPECT_FALSE(info->isEnabled()) << "the text takes no focus";
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        ShowWindow(window);
        QTest::keyClick(&window, key);
        EXPECT_FALSE(window.isVisible()) << "key " << key;
    }
    ShowWindow(window);
    QTest::mouseClick(Control<QPushButton>(window, "Button1"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}
