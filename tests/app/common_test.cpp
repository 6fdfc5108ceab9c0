#include "common.h"

#include "LuFiles.h"
#include "app_test_util.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <latch>
#include <optional>
#include <thread>
#include <vector>

namespace {

QByteArray ReadFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The lines of a log file with each leading time stamp shown as "<time> ".
QStringList Entries(const QString &path) {
    static const QRegularExpression stamp(QStringLiteral(R"(^\d{8} \d{6} )"));
    QStringList lines = QString::fromLatin1(ReadFile(path)).split(QStringLiteral("\r\n"));
    for (QString &line : lines)
        line.replace(stamp, QStringLiteral("<time> "));
    return lines;
}

// StartUp sets process-wide values: every case starts a copy of the program in a fresh folder, with
// its own configuration home, and puts the current directory back afterwards.
std::optional<QByteArray> Environment(const char *name) {
    return qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
}

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = QDir(tmp.path()).canonicalPath();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/home"));
        qputenv("HOME", QFile::encodeName(root + "/user"));
        program = root + "/bin/cfgtool";
        QDir().mkpath(root + "/bin");
        ASSERT_TRUE(QFile::copy(QStringLiteral(VELTRA_CONFIGURE_PATH), program));
    }

    void TearDown() override {
        QDir::setCurrent(savedCurrentDir);
        for (const auto &[name, value] : savedEnvironment)
            value ? qputenv(name, *value) : qunsetenv(name);
    }

    void Start(const QStringList &arguments = {}) { StartUp(QStringList{program} + arguments, program); }
    QString Settings() const { return AppSettings->AsText(QStringLiteral("="), QStringLiteral("\n")); }
    QString AppData() const { return root + "/home/Veltra/"; }

    QTemporaryDir tmp;
    QString root;
    QString program;
    const QString savedCurrentDir = QDir::currentPath();
    const std::pair<const char *, std::optional<QByteArray>> savedEnvironment[2] = {
        {"XDG_CONFIG_HOME", Environment("XDG_CONFIG_HOME")}, {"HOME", Environment("HOME")}};
};

class LogWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLogFile = tmp.filePath(QStringLiteral("main.log"));
        LogLevel = 6;
    }

    QTemporaryDir tmp;
};

} // namespace

TEST_F(StartUpTest, WithoutSettingsTheDefaultsApplyAndTheProgramFolderBecomesCurrent) {
    Start();
    EXPECT_EQ(AppDataDir, AppData());
    EXPECT_EQ(Settings(), "log_level=6\nconf_dir=./\nlog_dir=" + AppData());
    EXPECT_EQ(LogLevel, 6);
    EXPECT_TRUE(DirExists(AppData()));
    EXPECT_EQ(MainLogFile, AppData() + "cfgtool.log");
    EXPECT_EQ(DbgLogFile, AppData() + "dbg.log");
    EXPECT_EQ(ExeDir, root + "/bin/");
    EXPECT_EQ(ParentDir, root + "/");
    EXPECT_EQ(QDir::currentPath(), root + "/bin");

    StartUp({QStringLiteral("/cfgtool")}, QStringLiteral("/cfgtool"));
    EXPECT_EQ(ExeDir, "/");
    EXPECT_EQ(ParentDir, "/");
}

TEST_F(StartUpTest, SettingsFileKeysComeFirstAndAnEmptyLogDirStillGetsTheDefault) {
    WriteFile(root + "/bin/cfgtool.conf", "# comment\nextra=1\nlog_dir=\n");
    Start();
    EXPECT_EQ(Settings(), "extra=1\nlog_dir=" + AppData() + "\nlog_level=6\nconf_dir=./");
}

TEST_F(StartUpTest, LogDirAndLogLevelFromTheCommandLineTakeEffect) {
    const std::pair<const char *, int> levels[] = {{"0x10", 16}, {"010", 8}, {"abc", 0}};
    for (const auto &[text, level] : levels) {
        Start({"log_dir=" + root + "/var/logs", QStringLiteral("log_level=") + text});
        EXPECT_EQ(LogLevel, level) << text;
    }
    EXPECT_EQ(AppSettings->GetVal("log_dir"), root + "/var/logs/");
    EXPECT_TRUE(QFile::exists(root + "/var/logs/cfgtool.log"));
}

namespace {

// Numbered lines of 40 bytes each, CR LF before every one, as the log writer leaves them.
QByteArray LogLines(int from, int count) {
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes += QStringLiteral("\r\n20261210 120000 line %1 .............").arg(i, 8, 10, QChar(u'0')).toLatin1();
    return bytes;
}

// A log that was cut keeps whole lines, its newest one last.
void ExpectCutAtWholeLines(const QString &path, qint64 ceiling, const QByteArray &last) {
    const QByteArray bytes = ReadFile(path);
    EXPECT_LE(bytes.size(), ceiling) << path.toStdString();
    EXPECT_GT(bytes.size(), ceiling / 4) << path.toStdString();
    EXPECT_TRUE(bytes.startsWith("20261210 120000 line ")) << bytes.left(60).toStdString();
    EXPECT_TRUE(bytes.trimmed().endsWith(last.trimmed())) << bytes.right(60).toStdString();
}

} // namespace

// A bench PC left logging over a weekend must not fill its disk: every log is held under the ceiling
// of log_max_size (in megabytes), at start-up and then by its writers, at most once a minute each.
TEST_F(StartUpTest, LogsAreCutBackToTheirNewestLinesWhenTheyPassTheirCeiling) {
    const QString logs = root + "/logs/";
    constexpr qint64 megabyte = 1 << 20;
    const int overCeiling = int(1.5 * megabyte / 40);
    WriteFile(logs + "cmd.log", LogLines(0, overCeiling));
    WriteFile(logs + "dbg.log", LogLines(0, 1000));
    Start({"log_dir=" + logs, "log_max_size=1"});
    EXPECT_EQ(LogMaxSize(), megabyte);
    ExpectCutAtWholeLines(CmdLogFile, megabyte, LogLines(overCeiling - 1, 1));
    EXPECT_EQ(ReadFile(DbgLogFile), LogLines(0, 1000)); // under its ceiling: untouched

    // A writer thread looks at its file at its first entry, then not again within the minute.
    WriteFile(DbgLogFile, LogLines(0, overCeiling));
    std::thread writer([&] {
        AppendLogLine(DbgLogFile, QStringLiteral("\rnewest"), QString());
        ExpectCutAtWholeLines(DbgLogFile, megabyte, "newest");
        QFile grown(DbgLogFile);
        ASSERT_TRUE(grown.open(QIODevice::Append));
        grown.write(LogLines(0, overCeiling));
        grown.close();
        AppendLogLine(DbgLogFile, QStringLiteral("\rlater"), QString());
        EXPECT_GT(QFileInfo(DbgLogFile).size(), megabyte);
    });
    writer.join();

    Start({"log_dir=" + logs, "log_max_size=0"});
    EXPECT_EQ(LogMaxSize(), 0);
    EXPECT_GT(QFileInfo(DbgLogFile).size(), megabyte); // 0: never cut
    Start({"log_dir=" + logs});
    EXPECT_EQ(LogMaxSize(), 20 * megabyte);
}

TEST_F(StartUpTest, ConfDirOfTheFirstFileChoosesTheSecondAndTheCommandLineWins) {
    WriteFile(root + "/bin/cfgtool.conf",
              ("conf_dir=" + root + "/cfg/\na=first\nb=first\nc=first\n").toUtf8());
    WriteFile(root + "/cfg/cfgtool.conf", "a=second\nb=second\n");
    WriteFile(root + "/other/cfgtool.conf", "a=other\n");
    Start({"conf_dir=" + root + "/other/", QStringLiteral("b=command")});
    EXPECT_EQ(AppSettings->GetVal("a"), "second");
    EXPECT_EQ(AppSettings->GetVal("b"), "command");
    EXPECT_EQ(AppSettings->GetVal("c"), "first");
    EXPECT_EQ(AppSettings->GetVal("conf_dir"), root + "/other/");
}

// An installed program's settings file sends each user to their own folder with "~/"; any other
// value stays a prefix as written, relative to the program's folder.
TEST_F(StartUpTest, ConfDirStartingWithTildeSlashIsInTheHomeFolder) {
    WriteFile(root + "/bin/cfgtool.conf", "conf_dir=~/cfg/\na=first\n");
    WriteFile(root + "/user/cfg/cfgtool.conf", "a=home\n");
    WriteFile(root + "/bin/~user/cfgtool.conf", "a=beside\n");
    Start();
    EXPECT_EQ(AppSettings->GetVal("a"), "home");
    EXPECT_EQ(AppSettings->GetVal("conf_dir"), "~/cfg/");
    EXPECT_EQ(ConfDirPrefix(), root + "/user/cfg/");

    WriteFile(root + "/bin/cfgtool.conf", "conf_dir=~user/\na=first\n");
    Start();
    EXPECT_EQ(AppSettings->GetVal("a"), "beside");
    EXPECT_EQ(ConfDirPrefix(), "~user/");
}

TEST_F(StartUpTest, MainLogGetsTheBannerAndOneEntryPerSetting) {
    Start({QStringLiteral("zeta=last")});
    EXPECT_EQ(Entries(MainLogFile),
              QStringList({"", "<time> [init] ",
                           "<time> [init] === Veltra Configure v" VELTRA_VERSION " (c) 2026 Veltra",
                           "<time> [init] log_level=6", "<time> [init] conf_dir=./",
                           "<time> [init] log_dir=" + AppData(), "<time> [init] zeta=last"}));
}

TEST_F(StartUpTest, OnlyAProgramFolderThatCannotBeEnteredStopsTheStart) {
    WriteFile(root + "/plain", "not a folder");
    EXPECT_NO_THROW(Start({"log_dir=" + root + "/plain/logs"}));
    EXPECT_EQ(MainLogFile, root + "/plain/logs/cfgtool.log");
    EXPECT_FALSE(DirExists(root + "/plain/logs"));

    const QString lost = root + "/missing/cfgtool";
    EXPECT_THROW(StartUp({lost}, lost), std::runtime_error);
}

TEST_F(LogWriterTest, EveryCarriageReturnStartsAPrefixedLine) {
    AppendLogLine(MainLogFile, "end of the last line", "ch");
    AppendLogLine(MainLogFile, "\rjoined\nwords\r\nsecond line", "ch");
    AppendLogLine(MainLogFile, "\rno channel", "");
    EXPECT_EQ(Entries(MainLogFile), QStringList({"end of the last line", "<time> [ch] joinedwords",
                                                 "<time> [ch] second line", "<time> no channel"}));

    const QByteArray log = ReadFile(MainLogFile);
    const auto stamp = QDateTime::fromString(QString::fromLatin1(log.mid(log.lastIndexOf("\r\n") + 2, 15)),
                                             QStringLiteral("yyyyMMdd HHmmss"));
    EXPECT_TRUE(stamp.isValid());
    EXPECT_LE(std::abs(stamp.secsTo(QDateTime::currentDateTime())), 2);

    const QString ansi = tmp.filePath(QStringLiteral("ansi.log"));
    AppendLogLine(ansi, QStringLiteral("Привет"), "");
    EXPECT_EQ(ReadFile(ansi), "\xCF\xF0\xE8\xE2\xE5\xF2");
}

TEST_F(LogWriterTest, AppLogTrimsItsTextAndSkipsLevelsAboveLogLevel) {
    AppLog("main", " \t level six\r\n", 6);
    AppLog("main", "level seven", 7);
    AppLog("init", "", -1);
    LogLevel = -2;
    AppLog("main", "muted", -1);
    EXPECT_EQ(Entries(MainLogFile), QStringList({"", "<time> [main] level six", "<time> [init] "}));
}

// Three writers: the holder of the log lock writes its entries back to back while the others sleep
// 100 ms between tries, so each gets its turn within the three tries before an entry is dropped.
TEST_F(LogWriterTest, ConcurrentEntriesStayWholeAndNoneIsLost) {
    const QString filler(300, u'x');
    std::latch go(3);
    std::vector<std::jthread> writers;
    QStringList expected{""};
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&, w] {
            go.arrive_and_wait();
            for (int i = 0; i < 20; ++i)
                AppLog(QStringLiteral("w%1").arg(w), QStringLiteral("%1 %2").arg(i).arg(filler), -1);
        });
        for (int i = 0; i < 20; ++i)
            expected << QStringLiteral("<time> [w%1] %2 %3").arg(w).arg(i).arg(filler);
    }
    writers.clear();
    QStringList written = Entries(MainLogFile);
    written.sort();
    expected.sort();
    EXPECT_EQ(written, expected);
}
