#include "LuFiles.h"
#include "LuHash.h"
#include "LuUtils.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class LuFiles : public ::testing::Test {
protected:
    QString Path(const QString &name) const { return dir.filePath(name); }

    void Write(const QString &name, const QByteArray &bytes) const {
        QDir().mkpath(QFileInfo(Path(name)).path());
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray Read(const QString &name) const {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

// Lines of `width` bytes with the line end included, each starting with its 0-based number.
QByteArray Lines(int count, int width, const QByteArray &end) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray::number(i).leftJustified(width - end.size(), '.') + end;
    return out;
}

const QByteArray Bom = "\xEF\xBB\xBF";

} // namespace

TEST(LuFilesPaths, ChangeFileExtensionAndNormalizeDir) {
    EXPECT_EQ(ChangeFileExtension("cfgtool.exe", "conf"), "cfgtool.conf");
    // Folders come back with the system's own separator.
    EXPECT_EQ(NormalizeDir("d:/logs//old"), QDir::toNativeSeparators("d:/logs/old/"));
    EXPECT_EQ(NormalizeDir("  d:\\logs\\\\old\\  "), QDir::toNativeSeparators("d:/logs/old/"));
    EXPECT_EQ(NormalizeDir("\\\\server\\share"), QDir::toNativeSeparators("//server/share/"));
    EXPECT_EQ(NormalizeDir("x"), "");
}

TEST_F(LuFiles, ForceDirsKeepsAbsolutePathsAbsoluteAndLeavesTheCurrentDirectory) {
    const QString cwd = QDir::currentPath();
    const QString root = QDir(dir.path()).absolutePath();
    EXPECT_TRUE(ForceDirs(root + "/a\\\\ b //c/"));
    EXPECT_TRUE(DirExists(root + "/a/b/c"));
    EXPECT_EQ(QDir::currentPath(), cwd);
    EXPECT_FALSE(QDir(cwd).exists(root.mid(1)));
    Write("file", "x");
    EXPECT_FALSE(DirExists(Path("file")));
    EXPECT_FALSE(ForceDirs(Path("file/sub")));
}

TEST_F(LuFiles, ReadTextFileDecodesUtf8WithMarkOrAnsiFromAnOffset) {
    Write("utf8.txt", Bom + "Привет");
    Write("ansi.txt", "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(ReadTextFile(Path("utf8.txt"), 0), "Привет");
    EXPECT_EQ(ReadTextFile(Path("ansi.txt"), 0), "Привет");
    EXPECT_EQ(ReadTextFile(Path("missing.txt"), 0), "");
    Write("ten.txt", "0123456789");
    EXPECT_EQ(ReadTextFile(Path("ten.txt"), -1024), "0123456789");
    EXPECT_EQ(ReadTextFile(Path("ten.txt"), -3), "789");
    EXPECT_EQ(ReadTextFile(Path("ten.txt"), 4), "456789");
    Write("marked.txt", Bom + "abc");
    EXPECT_EQ(ReadTextFile(Path("marked.txt"), -1024), "abc");
}

TEST_F(LuFiles, UnmarkedUtf8IsReadAsUtf8AndEverythingElseAsBefore) {
    const QString config = QStringLiteral("name_ru=Автобус 12\r\nSRV_PORT=20500\r\nnote=«ёлка» №5\r\n");
    Write("utf8.cfg", config.toUtf8());
    Write("marked.cfg", Bom + config.toUtf8());
    Write("cp1251.cfg", ToAnsiText(config));
    TLuHash utf8(Path("utf8.cfg")), marked(Path("marked.cfg")), ansi(Path("cp1251.cfg"));
    EXPECT_EQ(utf8.GetVal("name_ru"), "Автобус 12");
    EXPECT_EQ(utf8.GetVal("note"), "«ёлка» №5");
    for (const TLuHash *h : {&marked, &ansi})
        EXPECT_EQ(h->AsText("=", "\n"), utf8.AsText("=", "\n"));

    Write("ascii.cfg", "a=1\r\nb=two\r\n");
    EXPECT_EQ(ReadTextFile(Path("ascii.cfg"), 0), "a=1\r\nb=two\r\n");
    // One byte that is no UTF-8 among valid sequences: the whole file is in the code page.
    Write("mixed.cfg", QByteArray("a=\xD0\x90\r\nb=\xC0\r\n"));
    EXPECT_EQ(ReadTextFile(Path("mixed.cfg"), 0), QStringLiteral("a=Рђ\r\nb=А\r\n"));
}

// Why the code page is safe from being taken for UTF-8: two Cyrillic letters side by side in it are
// never a valid UTF-8 sequence (its letters are never continuation bytes).
TEST(LuFilesDecoding, AdjacentCyrillicLettersInTheCodePageAreNeverUtf8) {
    int misread = 0;
    for (int a = 0xC0; a <= 0xFF; ++a)
        for (int b = 0xC0; b <= 0xFF; ++b) {
            const QByteArray pair{char(a), char(b)};
            misread += DecodeTextFile(pair, false) != FromAnsiText(pair);
        }
    EXPECT_EQ(misread, 0);
    // A lone letter before Ё, ё or a typographic sign can form one (Р + ё reads as и): such files
    // would need every letter to stand alone like that.
    EXPECT_EQ(DecodeTextFile(QByteArray("\xD0\xB8"), false), "и");
}

TEST_F(LuFiles, ReadTextFileDecodesCharactersAcrossBlockBoundariesAndDropsNul) {
    // A two-byte and a three-byte character each straddle a 1024-byte boundary.
    Write("blocks.txt", Bom + QByteArray(1020, 'a') + "\xD0\xB9" + QByteArray(1021, 'b') + "\xE2\x82\xAC");
    EXPECT_EQ(ReadTextFile(Path("blocks.txt"), 0), QString(1020, 'a') + "й" + QString(1021, 'b') + "€");
    // Not "nul.log": Windows reserves the name for its null device.
    Write("zeros.log", QByteArray("one\r\n") + QByteArray(4, '\0') + "two\r\n");
    EXPECT_EQ(ReadTextFile(Path("zeros.log"), 0), "one\r\ntwo\r\n");
}

TEST_F(LuFiles, WriteTextFileWholeReplacesTheFileOrSaysWhyNot) {
    Write("config.cfg", "old=1\r\nlonger=old content\r\n");
    QString error;
    ASSERT_TRUE(WriteTextFileWhole(Path("config.cfg"), QStringLiteral("name=Автобус"), error)) << error.toStdString();
    EXPECT_EQ(Read("config.cfg"), QByteArray("name=\xC0\xE2\xF2\xEE\xE1\xF3\xF1"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"config.cfg"}); // no temporary left

    // A folder that cannot exist: nothing is written and the reason comes back.
    EXPECT_FALSE(WriteTextFileWhole(Path("config.cfg/inside.cfg"), QStringLiteral("a=1"), error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Read("config.cfg"), QByteArray("name=\xC0\xE2\xF2\xEE\xE1\xF3\xF1"));
}

TEST_F(LuFiles, WriteTextFileAppendsOrOverwritesInAnsi) {
    EXPECT_EQ(WriteTextFile("", "x", true), -1);
    EXPECT_EQ(WriteTextFile(Path("no/such/folder.txt"), "x", false), -2);
    EXPECT_EQ(WriteTextFile(Path("w.txt"), "ab", false), 2);
    EXPECT_EQ(WriteTextFile(Path("w.txt"), "Привет", false), 6);
    EXPECT_EQ(Read("w.txt"), "ab\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(WriteTextFile(Path("w.txt"), "new", true), 3);
    EXPECT_EQ(Read("w.txt"), "new");
}

TEST_F(LuFiles, IncludesResolveBesideTheIncludingFileOrFromTheCurrentDirectory) {
    Write("conf/main.conf", "  a=1  \r\n\r\n# c\n// c\n; c\n#include other.conf\n#INCLUDE\t= sub/x.conf\n"
                            "#include   \n#include missing.conf\nz=9");
    Write("conf/other.conf", "b=2\r");
    Write("conf/sub/x.conf", "wrong=1");
    Write("sub/x.conf", Bom + "c=я");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    EXPECT_EQ(LoadTextWithIncludes(Path("conf/main.conf"), true), "a=1\rb=2\rc=я\rz=9\r");
    QDir::setCurrent(cwd);
    EXPECT_EQ(LoadTextWithIncludes(Path("conf/main.conf"), false), "a=1\rz=9\r");
}

TEST_F(LuFiles, IncludeCyclesAreCutButRepeatedIncludesAreNot) {
    // Another spelling of the same path still closes the cycle.
    Write("self.conf", "s=1\n#include " + (dir.path() + "/./self.conf").toUtf8() + "\ns=2");
    EXPECT_EQ(LoadTextWithIncludes(Path("self.conf"), true), "s=1\rs=2\r");
    Write("a.conf", "a=1\n#include b.conf\na=2");
    Write("b.conf", "b=1\n#include a.conf\n#include c.conf");
    Write("c.conf", "c=1\n#include a.conf");
    EXPECT_EQ(LoadTextWithIncludes(Path("b.conf"), true), "b=1\ra=1\ra=2\rc=1\ra=1\ra=2\r");
}

TEST_F(LuFiles, TrimFileHeadKeepsWholeLinesPastTheExcessEvenWhileFollowed) {
    const QByteArray content = Lines(1050, 100, "\r\n");
    Write("small.log", content);
    QFile follower(Path("small.log"));
    ASSERT_TRUE(follower.open(QIODevice::ReadOnly));
    EXPECT_EQ(FileSizeOf(Path("small.log")), 105000);
    EXPECT_FALSE(TrimFileHead(Path("small.log"), 100000));
    EXPECT_EQ(Read("small.log"), content);
    EXPECT_TRUE(TrimFileHead(Path("small.log"), 90000));
    EXPECT_EQ(Read("small.log"), content.right(90000));
    EXPECT_FALSE(QFile::exists(Path("small.$$$")));
    EXPECT_EQ(FileSizeOf(Path("missing.log")), -1);
    EXPECT_FALSE(TrimFileHead(Path("missing.log"), 0));

    // Each LF line counts 101, so line 199 (ending at 20099) is the first to reach past 20000.
    Write("lf.log", Lines(1200, 100, "\n"));
    EXPECT_TRUE(TrimFileHead(Path("lf.log"), 100000));
    const QByteArray kept = Read("lf.log");
    EXPECT_TRUE(kept.startsWith("198.") && kept.endsWith("1199" + QByteArray(95, '.') + "\r\n"));
    EXPECT_EQ(kept.size(), (1200 - 198) * 101);
}

TEST_F(LuFiles, FindFilesMatchesNamesIgnoringCaseAndSkipsDotFolders) {
    for (const char *name :
         {"a.PDF", "b.txt", ".h.pdf", "sub/c.pdf", "sub/deeper/e.pdf", ".git/d.pdf", "sub/.x/f.pdf"})
        Write(name, "x");
    const QString root = NormalizeDir(dir.path());
    const auto found = [&](const QString &pattern, bool recursive) {
        const QString text = FindFiles(dir.path(), pattern, recursive);
        const QStringList files = text.isEmpty() ? QStringList() : text.split("\r\n");
        return QSet<QString>(files.begin(), files.end());
    };
    EXPECT_EQ(found("\\.pdf$", false), QSet<QString>({root + "a.PDF", root + ".h.pdf"}));
    EXPECT_EQ(found("\\.pdf$", true), QSet<QString>({root + "a.PDF", root + ".h.pdf", root + QDir::toNativeSeparators("sub/c.pdf"),
                                                     root + QDir::toNativeSeparators("sub/deeper/e.pdf")}));
    EXPECT_EQ(found("\\.xls$", true), QSet<QString>());
    EXPECT_EQ(FindFiles(dir.path(), "(", true), "");
}
