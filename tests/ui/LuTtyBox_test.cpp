#include "LuTtyBox.h"

#include "common.h"
#include "ui_test_util.h"

#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>

namespace {

QByteArray FileBytes(const QString &name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString NumberedLines(int from, int to) {
    QString text;
    for (int i = from; i < to; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    return text;
}

class LuTtyBox : public ::testing::Test {
protected:
    void SetUp() override {
        LogTailNotifyMessage = RegisterMessageName(QStringLiteral("TLuLogTailNotifyMessage"));
    }

    QString Path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString FirstLine() const { return box.document()->firstBlock().text(); }

    QTemporaryDir dir;
    TLuTtyBox box;
};

} // namespace

TEST_F(LuTtyBox, BackspaceTakesBackACharacterCarriageReturnStartsALineAndLineFeedIsIgnored) {
    box.PutChar(u'a');
    box.PutChar(u'b');
    box.PutChar(u'\b');
    box.PutChar(u'c');
    EXPECT_EQ(box.toPlainText(), "ac");
    box.PutString(QStringLiteral("\r\nb\n"));
    EXPECT_EQ(box.toPlainText(), "ac\nb");
    // A backspace reaches back into what was fed before, and a line break is one character.
    box.PutString(QStringLiteral("\b\b\bx\by"));
    EXPECT_EQ(box.toPlainText(), "ay");
    box.clear();
    box.PutString(QStringLiteral("\b\b"));
    EXPECT_EQ(box.toPlainText(), "");
    box.PutLine(QStringLiteral("  \tx \x01"));
    box.PutLine(QStringLiteral("y"));
    EXPECT_EQ(box.toPlainText(), "x\ny\n");
    EXPECT_EQ(box.textCursor().position(), box.document()->characterCount() - 1)
        << "the caret follows the end";
}

TEST_F(LuTtyBox, TheViewFollowsTheEndAndScrollToMovesIt) {
    box.resize(300, 120);
    ShowWindow(box);
    box.PutString(NumberedLines(0, 200));
    EXPECT_TRUE(ShowsTheEnd(box));
    box.ScrollTo(0);
    EXPECT_EQ(box.verticalScrollBar()->value(), 0);
    box.ScrollTo(9999999);
    EXPECT_TRUE(ShowsTheEnd(box));
    box.ScrollTo(0);
    box.ScrollTo(-1);
    EXPECT_TRUE(ShowsTheEnd(box));
}

TEST_F(LuTtyBox, OnlyTheLastLinesStoredAreKeptHoweverTheyAreFed) {
    EXPECT_EQ(box.LinesStored(), 1000);
    box.SetLinesStored(100);
    box.PutString(NumberedLines(0, 250));
    EXPECT_EQ(box.document()->blockCount(), 101); // and the line being written
    EXPECT_EQ(FirstLine(), "line 150");
    for (int i = 250; i < 300; ++i)
        box.PutLine(QStringLiteral("line %1").arg(i));
    box.PutString(QStringLiteral("partial"));
    EXPECT_EQ(box.document()->blockCount(), 101);
    EXPECT_EQ(FirstLine(), "line 200");
    EXPECT_EQ(box.document()->lastBlock().text(), "partial");

    box.SetLinesStored(0);
    EXPECT_EQ(box.LinesStored(), 1);
    box.PutString(QStringLiteral("\rlast\r"));
    EXPECT_EQ(box.toPlainText(), "last\n");
}

TEST_F(LuTtyBox, TheOwnLogGetsPrintableCharactersLineByLineEachEndedByCrLf) {
    EXPECT_EQ(box.LogFileName(), "TtyLog.txt");
    box.SetLogFileName(QString());
    EXPECT_EQ(box.LogFileName(), "TtyLog.txt");
    box.SetLogFileName(Path("tty.log"));
    box.PutString(QStringLiteral("not logged\r"));
    EXPECT_FALSE(QFile::exists(Path("tty.log")));

    box.SetLogMode(lmWriteLog);
    box.PutString(QStringLiteral("a\tb\x01\x7f\r\n"));
    box.PutString(QStringLiteral("c\bd\r"));
    box.PutString(QStringLiteral("never ended"));
    box.SetLogMode(lmDisabled);
    box.PutString(QStringLiteral("\r"));
    box.SetLogMode(lmWriteLog);
    box.PutString(QStringLiteral("e\r"));
    EXPECT_EQ(FileBytes(Path("tty.log")), "ab\x7f\r\ncd\r\ne\r\n");

    box.ClearLog();
    EXPECT_FALSE(QFile::exists(Path("tty.log")));
    box.ClearLog(); // a missing file is no error
}

TEST_F(LuTtyBox, TheOwnLogIsCutBackToWholeLinesNearMaxLogSize) {
    box.SetLogFileName(Path("tty.log"));
    box.SetMaxLogSize(2000);
    box.SetLogMode(lmWriteLog);
    box.PutString(NumberedLines(0, 5000));
    const QByteArray bytes = FileBytes(Path("tty.log"));
    // The cut waits for a sizeable excess (10 KB) so that a busy log is not rewritten for every line.
    EXPECT_LT(bytes.size(), 2000 + 10240 + 200);
    EXPECT_TRUE(bytes.startsWith("line ")) << bytes.left(20).constData();
    EXPECT_TRUE(bytes.endsWith("line 4999\r\n"));
}

TEST_F(LuTtyBox, InLogTailModeTheBoxShowsWhatIsAppendedToItsFile) {
    QFile file(Path("followed.log"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("first\r\n");
    file.flush();
    box.SetLogFileName(Path("followed.log"));
    box.SetLogMode(lmLogTail);
    ASSERT_TRUE(WaitUntil([&] { return box.toPlainText() == "first\n"; }, 3000))
        << box.toPlainText().toStdString();
    file.write("second\r\n");
    file.flush();
    ASSERT_TRUE(WaitUntil([&] { return box.toPlainText() == "first\nsecond\n"; }, 3000));

    QFile other(Path("other.log"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("other\r\n");
    other.flush();
    box.SetLogFileName(Path("other.log"));
    ASSERT_TRUE(WaitUntil([&] { return box.toPlainText().endsWith("second\nother\n"); }, 3000));
}

TEST_F(LuTtyBox, ABoxFollowingABusyFileIsDestroyedSoon) {
    QFile file(Path("busy.log"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    auto following = std::make_unique<TLuTtyBox>();
    following->SetLogFileName(Path("busy.log"));
    following->SetLogMode(lmLogTail);
    file.write(NumberedLines(0, 20000).toLatin1());
    file.flush();
    ASSERT_TRUE(WaitUntil([&] { return !following->toPlainText().isEmpty(); }, 3000));
    QElapsedTimer clock;
    clock.start();
    following.reset();
    EXPECT_LT(clock.elapsed(), 3000);
}
