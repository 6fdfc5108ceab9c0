// The Windows programs over a real serial line: veltra_devsim runs here, natively, on a pseudo-terminal
// that the Wine prefix of the Windows build sees as a COM port (a link in dosdevices/), and the
// Windows programs, run under Wine, find and work the tracker through their Win32 serial layer. The
// Windows build's CTest runs this program (VELTRA_WINDOWS_BUILD names that build, VELTRA_WINE its
// runner of Windows programs).
#include "devsim_process.h"
#include "watched_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString DefaultConfig = QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg");
// A Linux path: the programs run with drive Z: (the Linux root) current.
const QString Description = QStringLiteral("params=" VELTRA_DATA_DIR "/veltra_params.conf");
// The window reads the description from conf_dir.
const QString DescriptionFolder = QStringLiteral("conf_dir=" VELTRA_DATA_DIR "/");
// Above COM9, so that the \\.\ form of the name is what opens it.
constexpr int Port = 12;

QString WindowsBuild() {
    return qEnvironmentVariable("VELTRA_WINDOWS_BUILD");
}

// A Windows program of the build started under Wine, in `workDir`, with `arguments`.
class TWineProcess : public TWatchedProcess {
public:
    TWineProcess(const QString &program, const QStringList &arguments, const QString &workDir,
                 const QString &prefix, const QStringList &environment = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), prefix);
        for (const QString &entry : environment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        fprocess.setProcessEnvironment(env);
        fprocess.setWorkingDirectory(workDir);
        fprocess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        Start(qEnvironmentVariable("VELTRA_WINE"), QStringList{program} + arguments);
    }
    // Windows programs end their lines with CR LF.
    TCliResult Finish(int limitMs) {
        TCliResult run = TWatchedProcess::Finish(limitMs);
        run.out.remove(u'\r');
        run.err.remove(u'\r');
        return run;
    }
};

class WineSerial : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString prefix = WindowsBuild() + QStringLiteral("/wine-prefix");

    void SetUp() override {
        ASSERT_FALSE(WindowsBuild().isEmpty()) << "VELTRA_WINDOWS_BUILD names the Windows build";
        ASSERT_TRUE(QFileInfo(qEnvironmentVariable("VELTRA_WINE")).isExecutable()) << "VELTRA_WINE";
    }
    void TearDown() override { QFile::remove(Link(Port)); }

    QString Link(int port) const { return prefix + QStringLiteral("/dosdevices/com%1").arg(port); }
    // COM `port` of the prefix leads to `device`; Wine looks the link up at every open.
    void MapPort(int port, const QString &device) {
        QDir().mkpath(prefix + QStringLiteral("/dosdevices"));
        const QString fresh = Link(port) + QStringLiteral(".new");
        QFile::remove(fresh);
        ASSERT_TRUE(QFile::link(device, fresh));
        ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(Link(port)).constData()), 0);
    }
    QString Program(const char *relative) const { return WindowsBuild() + u'/' + QLatin1String(relative); }
    QStringList Settings(const QStringList &more = {}) const {
        return QStringList{QStringLiteral("com_ports=%1").arg(Port), QStringLiteral("log_dir=") + dir.filePath("logs"),
                           QStringLiteral("cli_timeout=10")} +
               more;
    }
    TCliResult Cli(const QStringList &words, const QStringList &settings = {}, int limitMs = 60000) {
        return TWineProcess(Program("tools/cli/veltra_cli.exe"), Settings(settings) + words, dir.path(), prefix)
            .Finish(limitMs);
    }
    void WriteFile(const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray Image(int size) {
        QByteArray image(size, '\0');
        for (int i = 0; i < size; ++i)
            image[i] = char((i * 7 + i / 256) & 0xFF);
        return image;
    }
};

} // namespace

// The Windows engine finds the tracker on COM12, identifies it, reads its configuration and writes a
// file of which the tracker refuses one entry.
TEST_F(WineSerial, IdentifiesReadsAndWritesWithOneRefusal) {
    TDevSimProcess sim({"--config", DefaultConfig, "--reject", "GSM_SIGNAL"});
    ASSERT_FALSE(sim.SlavePath().isEmpty());
    MapPort(Port, sim.SlavePath());

    const TCliResult info = Cli({"info"});
    EXPECT_EQ(info.exitCode, 0) << info.err.toStdString();
    EXPECT_EQ(info.out, "type: VT-300\nimei: 356938035643809\nhw: 12\nsw: 345\n");

    const TCliResult read = Cli({"read"});
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_EQ(read.out, ConfigLines(DefaultConfig));

    WriteFile("new.cfg", "SRV_PORT=60\nGSM_SIGNAL=31\nDEV_LABEL=B 456 CD 99\n");
    const TCliResult write = Cli({"write", "new.cfg"});
    EXPECT_EQ(write.exitCode, 4) << write.err.toStdString();
    EXPECT_EQ(write.out, "SRV_PORT=60: confirmed\n"
                         "GSM_SIGNAL=31: FAILED [ERROR=GSM_SIGNAL is read-only]\n"
                         "DEV_LABEL=B 456 CD 99: confirmed\n"
                         "2 written, 1 refused\n");
    const TCliResult again = Cli({"read"});
    EXPECT_TRUE(again.out.contains("\nSRV_PORT=60\n")) << again.out.toStdString();
    EXPECT_TRUE(again.out.contains("\nGSM_SIGNAL=18\n"));
    // The log of the traffic names the port the Windows way.
    EXPECT_TRUE(QFile::exists(dir.filePath("logs/veltra_cli.log")));
}

// An image of 1 1/2 XModem-1K blocks reaches the loader byte for byte.
TEST_F(WineSerial, FirmwareArrivesIntactByXModem) {
    const QString stored = dir.filePath("stored.bin");
    TDevSimProcess sim({"--firmware-out", stored});
    MapPort(Port, sim.SlavePath());
    const QByteArray image = Image(5000);
    WriteFile("image.bin", image);
    const TCliResult r = Cli({"firmware", "image.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    QFile got(stored);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    const QByteArray bytes = got.readAll();
    ASSERT_GE(bytes.size(), image.size());
    EXPECT_EQ(bytes.left(image.size()), image);
    EXPECT_EQ(bytes.mid(image.size()), QByteArray(bytes.size() - image.size(), bytes.at(image.size())));
}

// The tracker is pulled out in the middle of an upload: the program fails, says so, and does not hang.
TEST_F(WineSerial, APortThatVanishesMidUploadFailsTheUpload) {
    auto sim = std::make_unique<TDevSimProcess>(QStringList{});
    MapPort(Port, sim->SlavePath());
    WriteFile("image.bin", Image(1024 * 1024));
    TWineProcess cli(Program("tools/cli/veltra_cli.exe"), Settings() + QStringList{"firmware", "image.bin"},
                     dir.path(), prefix);
    ASSERT_TRUE(cli.WaitForOutput(QStringLiteral(" 10 "), 60000));
    sim.reset();
    const TCliResult r = cli.Finish(60000);
    EXPECT_EQ(r.exitCode, 4) << r.out.toStdString();
    EXPECT_TRUE(r.err.endsWith("The serial port failed during the upload; the link to the device was dropped (see "
                               "the main log).\n"))
        << r.err.toStdString();
}

// A COM port the computer does not have, and one another program holds, each say so at once.
TEST_F(WineSerial, AMissingPortAndATakenPortAreToldApart) {
    const TCliResult missing = Cli({"info"}, {"com_ports=7"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "COM7 does not exist on this computer\n");

    TDevSimProcess sim({"--config", DefaultConfig});
    MapPort(Port, sim.SlavePath());
    // A second configurator keeps the port while it waits for an XModem sender.
    TWineProcess holder(Program("tools/cli/veltra_cli.exe"), Settings() + QStringList{"xrecv", "in.bin"},
                        dir.path(), prefix);
    QThread::msleep(3000);
    const TCliResult taken = Cli({"info"});
    EXPECT_EQ(taken.exitCode, 2);
    EXPECT_EQ(taken.err, QStringLiteral("COM%1 is in use by another program (access denied)\n").arg(Port));
}

// The station on Windows: a tracker is done, pulled out (the line hangs up), and the next one plugged
// into the same socket is found and done too.
TEST_F(WineSerial, TheStationFindsTheNextTrackerAfterAHangUp) {
    WriteFile("order.cfg", "SRV_PORT=61\n");
    WriteFile("table.csv", "IMEI;DEV_LABEL\n356938035643801;bus 101\n356938035643802;bus 102\n");
    WriteFile("order.job", "name=Wine order\nconfig=order.cfg\ntable=table.csv\nverify=1\n");
    auto first = std::make_unique<TDevSimProcess>(
        QStringList{"--config", DefaultConfig, "--ident", "VT-300 HW:12 SW:345 IMEI:356938035643801"});
    MapPort(Port, first->SlavePath());
    TWineProcess station(Program("tools/cli/veltra_cli.exe"),
                         Settings({QStringLiteral("audit=") + dir.filePath("audit.jsonl"), "station=wine-bench", Description}) +
                             QStringList{"station", "order.job", "--trackers", "2"},
                         dir.path(), prefix);
    ASSERT_TRUE(station.WaitForOutput(QStringLiteral("356938035643801"), 60000));
    ASSERT_TRUE(station.WaitForOutput(QStringLiteral("done"), 60000));
    first.reset();
    TDevSimProcess second({"--config", DefaultConfig, "--ident", "VT-300 HW:12 SW:345 IMEI:356938035643802"});
    MapPort(Port, second.SlavePath());
    const TCliResult r = station.Finish(90000);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    QFile audit(dir.filePath("audit.jsonl"));
    ASSERT_TRUE(audit.open(QIODevice::ReadOnly));
    const QList<QByteArray> records = audit.readAll().trimmed().split('\n');
    ASSERT_EQ(records.size(), 2);
    EXPECT_TRUE(records[0].contains("\"356938035643801\"") && records[0].contains("\"done\"")) << records[0].toStdString();
    EXPECT_TRUE(records[1].contains("\"356938035643802\"") && records[1].contains("\"done\"")) << records[1].toStdString();
}

// The version comes from the program's resource.
TEST_F(WineSerial, VersionIsReadFromTheResource) {
    const TCliResult r = Cli({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "veltra_cli " VELTRA_VERSION "\n");
}

// The window on Windows' own platform plugin finds the tracker and shows its tree: the picture it
// saves once the configuration is read (VELTRA_SCREENSHOT keeps it where asked).
TEST_F(WineSerial, TheWindowShowsTheTrackersTree) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "the window needs a display (scripts/windows runs Xvfb)";
    TDevSimProcess sim({"--config", DefaultConfig});
    MapPort(Port, sim.SlavePath());
    const QString picture = qEnvironmentVariableIsEmpty("VELTRA_SCREENSHOT") ? dir.filePath("window.png")
                                                                             : qEnvironmentVariable("VELTRA_SCREENSHOT");
    QFile::remove(picture);
    TWineProcess window(Program("ui/veltra_configure.exe"),
                        Settings({QStringLiteral("screenshot=") + picture, "lang=ru", DescriptionFolder}), dir.path(), prefix,
                        {"QT_QPA_PLATFORM=windows"});
    // The program names the picture once it is saved, then ends. Under Wine 8 the process of a
    // windowed program may linger after its teardown (Wine waits inside its own exit), so the
    // picture is what is waited for; the process is ended with the test.
    ASSERT_TRUE(window.WaitForOutput(QFileInfo(picture).fileName(), 120000));
    QImage image(picture);
    ASSERT_FALSE(image.isNull()) << picture.toStdString();
    EXPECT_GE(image.width(), 400);
    EXPECT_GE(image.height(), 300);
}

// The installer on a Windows of its own (a new Wine prefix): silently installed, the installed
// program runs with nothing but what was installed, and the silent uninstaller takes it all away.
TEST_F(WineSerial, TheInstallerInstallsWhatRunsAndTakesItAllAway) {
    const QString setup = qEnvironmentVariable("VELTRA_INSTALLER");
    ASSERT_TRUE(QFileInfo::exists(setup)) << "scripts/windows makes " << setup.toStdString() << " first";
    const QString machine = dir.filePath("machine");
    // Wine itself, without the build's runner: no DLL folder of the build is on the search path.
    const auto wine = [&](const QStringList &arguments, int limitMs) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WINEPREFIX", machine);
        env.insert("WINEDEBUG", "-all");
        env.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
        env.remove("WINEPATH");
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("/usr/lib/wine/wine64"), arguments);
        EXPECT_TRUE(process.waitForFinished(limitMs)) << arguments.join(u' ').toStdString();
        TCliResult run;
        run.exitCode = process.exitCode();
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput()).remove(u'\r');
        // The uninstaller hands over to a copy of itself: wait until every program of the prefix ended.
        QProcess server;
        server.setProcessEnvironment(env);
        server.start(QStringLiteral("/usr/lib/wine/wineserver"), {"-w"});
        server.waitForFinished(limitMs);
        return run;
    };
    EXPECT_EQ(wine({setup, "/S"}, 180000).exitCode, 0);
    const QString installed = machine + QStringLiteral("/drive_c/Program Files/Veltra Configure");
    for (const char *file : {"veltra_configure.exe", "veltra_cli.exe", "veltra_station.exe", "Qt6Core.dll",
                             "Qt6Widgets.dll", "libstdc++-6.dll", "platforms/qwindows.dll", "styles/qwindowsvistastyle.dll",
                             "veltra_params.conf", "uninstall.exe"})
        EXPECT_TRUE(QFileInfo::exists(installed + u'/' + QLatin1String(file))) << file;
    const QString menu =
        machine + QStringLiteral("/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Veltra Configure");
    EXPECT_TRUE(QFileInfo::exists(menu + QStringLiteral("/Veltra Configure.lnk")));

    const TCliResult version = wine({installed + QStringLiteral("/veltra_cli.exe"), "--version"}, 60000);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "veltra_cli " VELTRA_VERSION "\n");

    wine({installed + QStringLiteral("/uninstall.exe"), "/S"}, 60000);
    EXPECT_FALSE(QFileInfo::exists(installed)) << QDir(installed).entryList().join(u' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(menu));
}
