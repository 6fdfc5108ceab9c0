// Tests of veltra_cli as a user runs it: the real program, started with its settings on the command
// line, against veltra_devsim on a pseudo-terminal of its own. What is checked is what a provisioning
// script sees: standard output, standard error, the exit code and the time it took.
#include "cli_process.h"
#include "devsim_process.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <grp.h>
#include <QStandardPaths>
#include <QProcess>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr int Port = 7;
const QString DefaultConfig = QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg");

class VeltraCli : public ::testing::Test {
protected:
    QTemporaryDir dir;

    TCliResult Run(const QString &device, const QStringList &words, const QStringList &settings = {}) {
        return RunCli(dir.path(), Port, device, words, settings);
    }
    TCliResult Run(const TDevSimProcess &sim, const QStringList &words, const QStringList &settings = {}) {
        EXPECT_FALSE(sim.SlavePath().isEmpty());
        return Run(sim.SlavePath(), words, settings);
    }
    void WriteFile(const QString &name, const QByteArray &text) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
};

} // namespace

TEST_F(VeltraCli, UsageErrorsAndHelp) {
    for (const QStringList &words : {QStringList{}, QStringList{"frobnicate"}, QStringList{"write"},
                                     QStringList{"send"}, QStringList{"firmware"}, QStringList{"xsend"},
                                     QStringList{"xrecv", "--ymodem"}, QStringList{"yrecv"}}) {
        const TCliResult r = Run(QStringLiteral("/nonexistent/tty"), words);
        EXPECT_EQ(r.exitCode, 1) << words.join(u' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("Usage: veltra_cli")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    for (const char *word : {"help", "--help"}) {
        const TCliResult help = Run(QStringLiteral("/nonexistent/tty"), {word});
        EXPECT_EQ(help.exitCode, 0) << word;
        EXPECT_TRUE(help.out.startsWith("Usage: veltra_cli")) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains("Exit codes:"));
        EXPECT_TRUE(help.err.isEmpty());
    }
}

// The version the package carries, printed before start-up: no logs are written.
TEST_F(VeltraCli, VersionIsPrintedWithoutStartingUp) {
    const TCliResult r = Run(QStringLiteral("/nonexistent/tty"), {"--version"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "veltra_cli " VELTRA_VERSION "\n");
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    for (const char *folder : {"logs", "config"})
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QLatin1String(folder)))) << folder;
}

// A bench with one FTDI adapter, as udev and the kernel show it, in a tree of the test's own.
struct TFakeBench {
    QString root, byPath, byId;
    explicit TFakeBench(const QString &folder) : root(folder) {
        const QString usb = root + "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
        QDir().mkpath(usb + "/1-2:1.0/ttyUSB0");
        for (const auto &[name, value] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "FTDI"},
                                          {"product", "FT232R USB UART"}, {"serial", "A12345"}})
            Write(usb + "/" + QString::fromLatin1(name), QByteArray(value) + "\n");
        QDir().mkpath(root + "/sys/class/tty/ttyUSB0");
        QFile::link(usb + "/1-2:1.0/ttyUSB0", root + "/sys/class/tty/ttyUSB0/device");
        QDir().mkpath(root + "/sys/bus/usb/devices");
        QFile::link(usb, root + "/sys/bus/usb/devices/1-2");
        Write(root + "/dev/ttyUSB0", "");
        Write(root + "/dev/ttyS9", ""); // no sysfs entry: nothing more is known of it
        byPath = root + "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
        byId = root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0";
        for (const QString &link : {byPath, byId}) {
            QDir().mkpath(QFileInfo(link).path());
            QFile::link("../../ttyUSB0", link);
        }
    }
    static void Write(const QString &path, const QByteArray &text) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    QStringList Roots() const {
        return {"dev_root=" + root + "/dev", "sys_root=" + root + "/sys", "proc_root=" + root + "/proc",
                "etc_root=" + root + "/etc", "bin_root=" + root + "/bin", "udev_rules=" + root + "/rules"};
    }
};

TEST_F(VeltraCli, PortsShowTheirStableNamesAndTheUsbAdapterBehindThem) {
    const TFakeBench bench(dir.filePath("fake"));
    const QString root = bench.root, byPath = bench.byPath, byId = bench.byId;
    const QStringList settings =
        QStringList{"com_ports=7,102,103", "com102=" + byPath, "com103=" + root + "/dev/ttyS9"} + bench.Roots();
    const TCliResult r = Run(root + "/dev/ttyUSB0", {"ports"}, settings);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString adapter = "  by-path: " + byPath + "\n  by-id: " + byId + "\n  usb: 0403:6001 FTDI FT232R USB UART, serial A12345\n";
    EXPECT_EQ(r.out, "COM7\t" + root + "/dev/ttyUSB0\n" + adapter + "COM102\t" + byPath + "\n  device: " + root +
                         "/dev/ttyUSB0\n" + adapter + "COM103\t" + root + "/dev/ttyS9\n");

    const TCliResult json = Run(root + "/dev/ttyUSB0", {"ports", "--json"}, settings);
    const QJsonArray ports = QJsonDocument::fromJson(json.out.toUtf8())["ports"].toArray();
    ASSERT_EQ(ports.size(), 3) << json.out.toStdString();
    EXPECT_EQ(ports[1]["com"].toInt(), 102);
    EXPECT_EQ(ports[1]["resolved"].toString(), root + "/dev/ttyUSB0");
    EXPECT_EQ(ports[1]["usb"]["serial"].toString(), "A12345");
    EXPECT_EQ(ports[2]["by_id"].toArray().size(), 0);
    EXPECT_TRUE(ports[2]["usb"].isNull());
}

// The doctor on the machine-side reasons, each in a tree of the test's own: another program holding
// the adapter, ModemManager and brltty after it, an adapter without its driver; every check runs.
TEST_F(VeltraCli, TheDoctorNamesEachMachineSideReasonAndItsMend) {
    const TFakeBench bench(dir.filePath("fake"));
    TFakeBench::Write(bench.root + "/proc/4242/comm", "minicom\n");
    QDir().mkpath(bench.root + "/proc/4242/fd");
    ASSERT_TRUE(QFile::link(bench.root + "/dev/ttyUSB0", bench.root + "/proc/4242/fd/3"));
    TFakeBench::Write(bench.root + "/proc/77/comm", "ModemManager\n");
    TFakeBench::Write(bench.root + "/bin/brltty", "");
    TFakeBench::Write(bench.root + "/rules/85-brltty.rules",
                      "ENV{PRODUCT}==\"403/6001/*\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
                      "ENV{BRLTTY_BRAILLE_DRIVER}=\"hw\", GOTO=\"brltty_usb_run\"\n");
    const QString ch340 = bench.root + "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    TFakeBench::Write(ch340 + "/idVendor", "1a86\n");
    TFakeBench::Write(ch340 + "/idProduct", "7523\n");
    TFakeBench::Write(ch340 + "/product", "USB Serial\n");
    ASSERT_TRUE(QFile::link(ch340, bench.root + "/sys/bus/usb/devices/1-3"));

    const TCliResult r = Run(bench.byPath, {"doctor", "7"}, bench.Roots());
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    const QString dev = bench.root + "/dev/ttyUSB0";
    for (const QString &line :
         {"  ok      exists: " + bench.byPath + " leads to " + dev,
          "  PROBLEM holder: " + dev + " is held by minicom (process 4242)\n          fix: close that program, or: kill 4242",
          QString("  PROBLEM modemmanager: ModemManager is running and sends AT commands to every new USB serial port "
                  "(0403:6001) for several seconds\n          fix: echo 'ATTRS{idVendor}==\"0403\", "
                  "ATTRS{idProduct}==\"6001\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee"),
          QString("  PROBLEM brltty: brltty is installed and its udev rules claim 0403:6001"),
          QString("  PROBLEM driver: the USB serial adapter 1a86:7523 (USB Serial) has no serial device: its driver "
                  "is missing\n          fix: sudo modprobe ch341"),
          "  PROBLEM answer: the port does not open: " + bench.byPath + " is not a serial port"})
        EXPECT_TRUE(r.out.contains(line)) << line.toStdString() << "\n" << r.out.toStdString();

    // The rule the doctor offers, once in place, quiets its verdict.
    TFakeBench::Write(bench.root + "/rules/99-veltra-modemmanager.rules",
                      "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
    const TCliResult quiet = Run(bench.byPath, {"doctor", "--json"}, bench.Roots());
    const QJsonArray verdicts = QJsonDocument::fromJson(quiet.out.toUtf8())["ports"][0]["verdicts"].toArray();
    ASSERT_EQ(verdicts.size(), 7) << quiet.out.toStdString();
    EXPECT_EQ(verdicts[3]["check"].toString(), "modemmanager");
    EXPECT_EQ(verdicts[3]["state"].toString(), "ok");
}

// On the simulator: a tracker answers (exit 0); a port that does not exist still gets the other checks;
// a port this test holds open names this test.
TEST_F(VeltraCli, TheDoctorAsksTheTrackerAndNamesWhoHoldsThePort) {
    TDevSimProcess sim({"--config", DefaultConfig});
    const TCliResult answered = Run(sim, {"doctor"});
    EXPECT_EQ(answered.exitCode, 0) << answered.out.toStdString();
    EXPECT_TRUE(answered.out.contains("  ok      answer: a tracker answered: VT-300 HW:12 SW:345 IMEI:356938035643809"))
        << answered.out.toStdString();

    const int holder = ::open(QFile::encodeName(sim.SlavePath()).constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const TCliResult held = Run(sim, {"doctor"});
    ::close(holder);
    EXPECT_EQ(held.exitCode, 2);
    EXPECT_TRUE(held.out.contains(QStringLiteral("(process %1)").arg(::getpid())))
        << held.out.toStdString();
    EXPECT_TRUE(held.out.contains("PROBLEM answer: the port does not open: " + sim.SlavePath() +
                                  " is in use by another program"))
        << held.out.toStdString();

    const TCliResult missing = Run(QStringLiteral("/nonexistent/tty7"), {"doctor"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.out.contains("  PROBLEM exists: /nonexistent/tty7 does not exist")) << missing.out.toStdString();
    EXPECT_TRUE(missing.out.contains("brltty:"));
    EXPECT_FALSE(missing.out.contains("answer:"));
}

// An ordinary user outside the port's group is told how to join it; the process table it may not read
// is said to be partly unknown, and the other checks still run.
TEST_F(VeltraCli, TheDoctorTellsAUserOutsideThePortsGroupHowToJoinIt) {
    const group *dialout = ::getgrnam("dialout");
    if (::getuid() != 0 || !dialout || QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "running the doctor as the user nobody needs root, setpriv and the group dialout";
    const QString shared = dir.filePath("shared");
    QDir().mkpath(shared);
    for (const QString &folder : {dir.path(), shared})
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    const QString port = shared + "/ttyLocked";
    WriteFile("shared/ttyLocked", "");
    ASSERT_EQ(::chown(QFile::encodeName(port).constData(), 0, dialout->gr_gid), 0);
    QFile::setPermissions(port, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                    QFileDevice::WriteGroup);
    QProcess doctor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", shared);
    environment.insert("XDG_CONFIG_HOME", shared + "/config");
    doctor.setProcessEnvironment(environment);
    doctor.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", VELTRA_CLI_PATH, "com_ports=7",
                             "com7=" + port, "log_dir=" + shared + "/logs", "doctor"});
    ASSERT_TRUE(doctor.waitForFinished(15000));
    const QString out = QString::fromUtf8(doctor.readAllStandardOutput());
    EXPECT_EQ(doctor.exitCode(), 2) << out.toStdString();
    EXPECT_TRUE(out.contains("  PROBLEM access: " + port + " belongs to the group dialout, and you are not in it\n"
                             "          fix: sudo usermod -aG dialout $USER  (then log in again)"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("  unknown holder: no process that could be looked at holds " + port)) << out.toStdString();
    EXPECT_TRUE(out.contains("brltty:")) << out.toStdString();
}

// A raw line goes as typed: an empty one is a bare line end, and trailing blanks do not make the
// program wait for a result it would never recognise.
TEST_F(VeltraCli, RawLinesEmptyOrWithTrailingBlanksAreSentAndAnswered) {
    TDevSimProcess sim({"--config", DefaultConfig});
    for (const char *line : {"", "R_SRV_PORT "}) {
        const TCliResult r = Run(sim, {"send", QString::fromLatin1(line)});
        EXPECT_EQ(r.exitCode, 0) << "[" << line << "] " << r.err.toStdString();
        EXPECT_LT(r.elapsedMs, 4500) << line;
    }
}

TEST_F(VeltraCli, PortsListsTheMappedPortWithoutOpeningIt) {
    const TCliResult r = Run(QStringLiteral("/nonexistent/tty7"), {"ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "COM7\t/nonexistent/tty7\n");
}

TEST_F(VeltraCli, APortThatCannotBeOpenedEndsAtOnceWithTheReason) {
    const TCliResult missing = Run(QStringLiteral("/nonexistent/tty7"), {"info"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.out.isEmpty()) << missing.out.toStdString();
    EXPECT_EQ(missing.err, "No such device: /nonexistent/tty7\n");
    EXPECT_LT(missing.elapsedMs, 2000); // not the whole cli_timeout of 5 s

    WriteFile("plain.txt", "not a port");
    const TCliResult plain = Run(dir.filePath("plain.txt"), {"info"});
    EXPECT_EQ(plain.exitCode, 2);
    EXPECT_EQ(plain.err, dir.filePath("plain.txt") + " is not a serial port\n");
}

// A port held by another configurator is reported as taken, and the tracker is left alone.
TEST_F(VeltraCli, APortHeldByAnotherProgramIsReportedAsTaken) {
    TDevSimProcess sim({"--config", DefaultConfig});
    const int holder = ::open(QFile::encodeName(sim.SlavePath()).constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const TCliResult taken = Run(sim, {"info"});
    EXPECT_EQ(taken.exitCode, 2);
    EXPECT_EQ(taken.err, sim.SlavePath() + " is in use by another program\n");
    ::close(holder);
    const TCliResult free = Run(sim, {"info"});
    EXPECT_EQ(free.exitCode, 0) << free.err.toStdString();
}

// One line tells which ports opened and stayed silent and why the others did not open.
TEST_F(VeltraCli, NoDeviceAnsweringExitsWithinTheTimeLimitSayingWhatEachPortDid) {
    TDevSimProcess sim({"--fault", "silence"});
    const TCliResult r = Run(sim, {"info"}, {"cli_timeout=1"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("No device answered. Opened and silent: COM%1 (%2).\n").arg(Port).arg(sim.SlavePath()));
    EXPECT_LT(r.elapsedMs, 3000);

    const TCliResult two = Run(sim, {"info"}, {"cli_timeout=1", "com_ports=7,8", "com8=/nonexistent/tty8"});
    EXPECT_EQ(two.exitCode, 2);
    EXPECT_EQ(two.err, QStringLiteral("No device answered. Opened and silent: COM%1 (%2). Not opened: No such "
                                      "device: /nonexistent/tty8.\n")
                           .arg(Port)
                           .arg(sim.SlavePath()));
}

TEST_F(VeltraCli, InfoPrintsTheIdentity) {
    TDevSimProcess sim({"--ident", "Tracker-B HW:7 SW:1021 IMEI: 490154203237518"});
    const TCliResult r = Run(sim, {"info"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "type: Tracker-B\nimei: 490154203237518\nhw: 7\nsw: 1021\n");
}

TEST_F(VeltraCli, ReadPrintsTheConfigurationInTheDevicesOrder) {
    TDevSimProcess sim({"--config", DefaultConfig});
    const TCliResult r = Run(sim, {"read"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString expected = ConfigLines(DefaultConfig);
    ASSERT_TRUE(expected.contains("SEC_PHONE3=\n"));
    EXPECT_EQ(r.out, expected);
}

TEST_F(VeltraCli, WriteReportsEachEntryAndSkipsTheDevicesOwn) {
    TDevSimProcess sim({"--config", DefaultConfig, "--reject", "GSM_SIGNAL"});
    // Relative to the folder the program was started in, although it changes its own.
    WriteFile("new.cfg", "# provisioning\n"
                         "SRV_PORT=60\n"
                         "SRV_PROTO=NOT USE\n"
                         "_FW_VERSION=345\n"
                         "GSM_SIGNAL=31\n"
                         "DEV_LABEL=B 456 CD 99\n");
    const TCliResult r = Run(sim, {"write", "new.cfg"});
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    EXPECT_EQ(r.out, "SRV_PORT=60: confirmed\n"
                     "GSM_SIGNAL=31: FAILED [ERROR=GSM_SIGNAL is read-only]\n"
                     "DEV_LABEL=B 456 CD 99: confirmed\n"
                     "2 written, 1 refused\n");

    const QString stored = Run(sim, {"read"}).out;
    EXPECT_TRUE(stored.contains("\nSRV_PORT=60\n"));
    EXPECT_TRUE(stored.contains("\nSRV_PROTO=TCP\n"));
    EXPECT_TRUE(stored.contains("\nGSM_SIGNAL=18\n"));
    EXPECT_TRUE(stored.endsWith("\nDEV_LABEL=B 456 CD 99\n")) << stored.toStdString();

}

// Each way a configuration file can fail says so differently, before any port is opened.
TEST_F(VeltraCli, WriteSaysWhyAFileCannotBeUsed) {
    WriteFile("empty.cfg", "# only a comment\n");
    WriteFile("locked.cfg", "SRV_PORT=1\n");
    QFile(dir.filePath("locked.cfg")).setPermissions(QFileDevice::WriteOwner);
    QDir(dir.path()).mkdir("folder.cfg");
    const bool root = QFile(dir.filePath("locked.cfg")).open(QIODevice::ReadOnly); // root reads anyway
    const struct {
        QString file, error;
    } cases[] = {
        {"missing.cfg", "No such file: " + dir.filePath("missing.cfg")},
        {"folder.cfg", "Not a file: " + dir.filePath("folder.cfg")},
        {"empty.cfg", "No configuration entries in " + dir.filePath("empty.cfg")},
        {"locked.cfg", "Cannot read " + dir.filePath("locked.cfg") + ": Permission denied"},
    };
    for (const auto &c : cases) {
        if (c.file == u"locked.cfg" && root)
            continue;
        const TCliResult r = Run(QStringLiteral("/nonexistent/tty7"), {"write", c.file});
        EXPECT_EQ(r.exitCode, 5) << c.file.toStdString();
        EXPECT_EQ(r.err, c.error + "\n");
        EXPECT_LT(r.elapsedMs, 3000);
    }
}

// The time limit holds for each entry: eleven answers 150 ms apart take longer than the one second.
TEST_F(VeltraCli, WriteOfALongFileToASlowDeviceCompletes) {
    TDevSimProcess sim({"--config", DefaultConfig, "--delay", "150"});
    const QString all = ConfigLines(DefaultConfig);
    const QStringList entries = all.split(u'\n').mid(0, 12);
    WriteFile("slow.cfg", (entries.join(u'\n') + u'\n').toUtf8());
    const TCliResult r = Run(sim, {"write", dir.filePath("slow.cfg")}, {"cli_timeout=1"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(": confirmed\n"), 11) << r.out.toStdString(); // SRV2_ADDR is not used
}

TEST_F(VeltraCli, SendPrintsTheDevicesLinesAsTheyCame) {
    TDevSimProcess sim({"--config", DefaultConfig});
    const TCliResult r = Run(sim, {"send", "S_DEV_LABEL=X", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "S_DEV_LABEL=X 1\n  DEV_LABEL=X 1\n");
}

TEST_F(VeltraCli, PasswordIsAskedForAndChecked) {
    TDevSimProcess sim({"--password", "sesame"});
    const QString asked = "The device asks for a password: give password=... (or the right one).\n";
    for (const QStringList &settings : {QStringList{}, QStringList{"password=open"}}) {
        const TCliResult r = Run(sim, {"info"}, settings);
        EXPECT_EQ(r.exitCode, 3) << settings.join(u' ').toStdString();
        EXPECT_EQ(r.err, asked);
        EXPECT_TRUE(r.out.isEmpty());
    }
    const TCliResult r = Run(sim, {"info"}, {"password=sesame"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("type: VT-300\n")) << r.out.toStdString();
}

// What is to be sent, and the folder a batch goes into, must exist: found out before any port is used.
TEST_F(VeltraCli, MissingFilesAreRefusedBeforeAnyPort) {
    for (const QStringList &words : {QStringList{"firmware", "missing.bin"},
                                     QStringList{"xsend", "missing.bin"}, QStringList{"yrecv", "missing"}}) {
        const TCliResult r = Run(QStringLiteral("/nonexistent/tty7"), words);
        EXPECT_EQ(r.exitCode, 5) << words.join(u' ').toStdString();
        EXPECT_EQ(r.err, "No such file or folder: " + dir.filePath(words[1]) + "\n");
        EXPECT_LT(r.elapsedMs, 3000);
    }
}

TEST_F(VeltraCli, TransferOnAPortThatDoesNotOpen) {
    WriteFile("image.bin", "x");
    const TCliResult r = Run(QStringLiteral("/nonexistent/tty7"), {"xsend", "image.bin", "--ymodem"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "No such device: /nonexistent/tty7\n"); // as info explains it
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
}

namespace {

// The image as the loader stored it; it writes the file once the transfer has ended.
QByteArray LoaderImage(const QString &fileName) {
    QFile file(fileName);
    for (int tries = 0; tries < 40 && !file.exists(); ++tries)
        QThread::msleep(50);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Image(int size) {
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char(i * 7 + 3);
    return image;
}

} // namespace

// Three blocks; the last one keeps its zero padding. Off a terminal each step is one line.
TEST_F(VeltraCli, FirmwareReachesTheLoader) {
    const QString stored = dir.filePath("stored.bin");
    TDevSimProcess sim({"--firmware-out", stored});
    const QByteArray image = Image(300);
    WriteFile("image.bin", image);
    const TCliResult r = Run(sim, {"firmware", "image.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Загрузка прошивки из файла [" + dir.filePath("image.bin") +
                         "]\n"
                         "Ожидание готовности устройства\n"
                         "Блок 1 из 3\nБлок 2 из 3\nБлок 3 из 3\n"
                         "Завершение передачи\n"
                         "Обновление прошивки завершено. Устройство будет перезагружено.\n");
    const QByteArray got = LoaderImage(stored);
    ASSERT_EQ(got.size(), 384);
    EXPECT_EQ(got.left(300), image);
    EXPECT_EQ(got.mid(300), QByteArray(84, '\0'));
    // The configuration was saved before the update.
    const QStringList backups =
        QDir(dir.filePath("config/Veltra/backups/356938035643809")).entryList({"*-firmware.cfg"}, QDir::Files);
    EXPECT_EQ(backups.size(), 1);
}

TEST_F(VeltraCli, FirmwareCancelledByTheLoader) {
    TDevSimProcess sim({"--loader-fault", "cancel"});
    WriteFile("image.bin", Image(300));
    const TCliResult r = Run(sim, {"firmware", "image.bin"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "Обновление прошивки прервано по Вашему желанию.\n");
    EXPECT_TRUE(r.out.endsWith("Блок 1 из 3\n")) << r.out.toStdString();
}

// Ctrl-C during the upload: the engine stops before the next block.
TEST_F(VeltraCli, FirmwareInterruptedByTheUser) {
    TDevSimProcess sim({});
    WriteFile("image.bin", Image(1024 * 1024));
    TCliProcess cli(dir.path(), Port, sim.SlavePath(), {"firmware", "image.bin"}, {});
    ASSERT_TRUE(cli.WaitForOutput("Блок 10 из 8192\n", 10000));
    cli.Interrupt();
    const TCliResult r = cli.Finish(15000);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "Обновление прошивки прервано по Вашему желанию.\n");
    EXPECT_FALSE(r.out.contains("Блок 8192 из 8192")) << r.out.right(200).toStdString();
}

namespace {

// Every log file the program wrote in the test's folder.
QStringList LogTexts(const QString &logDir) {
    QStringList texts;
    for (const QFileInfo &f : QDir(logDir).entryInfoList(QDir::Files)) {
        QFile file(f.filePath());
        if (file.open(QIODevice::ReadOnly))
            texts << QString::fromLatin1(file.readAll());
    }
    return texts;
}

} // namespace

// Each command as the very first one on a locked tracker: the password flow's own results never
// answer it, and the password reaches no log.
TEST_F(VeltraCli, EveryCommandWorksFirstOnALockedDevice) {
    WriteFile("one.cfg", "SRV_PORT=61\n");
    WriteFile("image.bin", Image(200));
    const QString secret = QStringLiteral("s3cr3t");
    const struct {
        QStringList words;
        std::function<void(const TCliResult &)> check;
    } cases[] = {
        {{"info"}, [](const TCliResult &r) { EXPECT_TRUE(r.out.startsWith("type: VT-300\nimei: 356938035643809\n")); }},
        {{"read"}, [](const TCliResult &r) { EXPECT_EQ(r.out, ConfigLines(DefaultConfig)); }},
        {{"write", "one.cfg"}, [](const TCliResult &r) { EXPECT_EQ(r.out, "SRV_PORT=61: confirmed\n1 written, 0 refused\n"); }},
        {{"send", "R_SRV_PORT"}, [](const TCliResult &r) { EXPECT_EQ(r.out, "R_SRV_PORT\n  SRV_PORT=21000\n"); }},
        {{"firmware", "image.bin"},
         [](const TCliResult &r) {
             EXPECT_TRUE(r.out.endsWith("Обновление прошивки завершено. Устройство будет перезагружено.\n"));
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.join(u' ').toStdString());
        TDevSimProcess sim({"--config", DefaultConfig, "--password", secret});
        // Refused first: a device once unlocked stays so until it reboots.
        for (const QString &wrong : {QStringLiteral("password=nope"), QString()}) {
            const TCliResult refused = Run(sim, c.words, wrong.isEmpty() ? QStringList{} : QStringList{wrong});
            EXPECT_EQ(refused.exitCode, 3) << wrong.toStdString();
            EXPECT_EQ(refused.err, "The device asks for a password: give password=... (or the right one).\n");
        }
        const TCliResult r = Run(sim, c.words, {"password=" + secret});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err, "");
        c.check(r);
    }
    const QStringList logs = LogTexts(dir.filePath("logs"));
    ASSERT_GE(logs.size(), 2);
    for (const QString &log : logs)
        EXPECT_FALSE(log.contains(secret)) << log.left(2000).toStdString();
    EXPECT_TRUE(QStringList(logs).join(u'\n').contains("password=***"));
}

// The tracker vanishes in the middle of the upload: the program ends with the reason, it does not wait.
TEST_F(VeltraCli, FirmwareEndsWhenThePortFailsMidUpload) {
    auto sim = std::make_unique<TDevSimProcess>(QStringList{});
    WriteFile("image.bin", Image(1024 * 1024));
    TCliProcess cli(dir.path(), Port, sim->SlavePath(), {"firmware", "image.bin"}, {});
    ASSERT_TRUE(cli.WaitForOutput("Блок 10 из 8192\n", 10000));
    sim.reset();
    const TCliResult r = cli.Finish(15000);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "Ошибка при передаче прошивки в устройство [COM port not opened].\n"
                     "The serial port failed during the upload; the link to the device was dropped (see the "
                     "main log).\n");
}

// The cable slips in the middle of a write and another tracker is plugged in: what was meant for the
// first one is reported not sent, and the program fails.
TEST_F(VeltraCli, WriteNeverReachesATrackerPluggedInMidway) {
    auto first = std::make_unique<TDevSimProcess>(
        QStringList{"--config", DefaultConfig, "--fault", "hangup", "--fault-after", "4"}); // R_INFO, the backup's R_CFG, two writes
    const QString link = dir.filePath("tty");
    ASSERT_TRUE(QFile::link(first->SlavePath(), link));
    WriteFile("four.cfg", "SRV_PORT=1\nAPN_NAME=a\nDEV_LABEL=b\nSRV_ADDR=c\n");
    TCliProcess cli(dir.path(), Port, link, {"write", "four.cfg"}, {"cli_timeout=15"});
    ASSERT_TRUE(cli.WaitForOutput("APN_NAME=a: confirmed\n", 10000));
    TDevSimProcess second({"--config", DefaultConfig, "--ident", "VT-300 HW:12 SW:345 IMEI:490154203237518"});
    first.reset();
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(second.SlavePath(), link));
    const TCliResult r = cli.Finish(30000);
    EXPECT_EQ(r.exitCode, 4);
    // The third entry was lost with the link; the fourth was never sent to the second tracker.
    EXPECT_EQ(r.out, "SRV_PORT=1: confirmed\nAPN_NAME=a: confirmed\nSRV_ADDR=c: FAILED [not sent: another tracker]\n"
                     "2 written, 1 refused\n");
    EXPECT_TRUE(r.err.contains("IMEI 490154203237518")) << r.err.toStdString();
    const QString stored = Run(second.SlavePath(), {"read"}).out;
    EXPECT_FALSE(stored.contains("SRV_ADDR=c")) << stored.toStdString();
}

// A configuration typed in an ordinary editor (UTF-8 without a mark) reaches the tracker as the text it
// shows, in the tracker's code page, not as the bytes of its UTF-8 form.
TEST_F(VeltraCli, AUtf8ConfigurationReachesTheDeviceAsTyped) {
    TDevSimProcess sim({"--config", DefaultConfig});
    WriteFile("typed.cfg", QStringLiteral("DEV_LABEL=Автобус 12\n").toUtf8());
    const TCliResult r = Run(sim, {"write", "typed.cfg"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "DEV_LABEL=Автобус 12: confirmed\n1 written, 0 refused\n");
    const TCliResult raw = Run(sim, {"send", "R_DEV_LABEL"});
    EXPECT_EQ(raw.out, "R_DEV_LABEL\n  DEV_LABEL=Автобус 12\n");
}

TEST_F(VeltraCli, CheckReportsEntriesTheDescriptionRefusesWithoutAnyPort) {
    WriteFile("bad.cfg", "SRV_ADDR=10.0.0.1\nSRV_PORT=99999\n# a comment\nSRV_PROTO=SCTP\nBOGUS=1\n_IMEI=1\n");
    const QStringList params{QStringLiteral("params=" VELTRA_DATA_DIR "/veltra_params.conf")};
    const TCliResult bad = Run(QStringLiteral("/nonexistent/tty"), {"check", dir.filePath("bad.cfg")}, params);
    EXPECT_EQ(bad.exitCode, 6) << bad.err.toStdString();
    EXPECT_EQ(bad.out, "line 2: SRV_PORT=99999: outside 1..65535\n"
                       "line 4: SRV_PROTO=SCTP: not one of: TCP, UDP\n"
                       "line 5: BOGUS=1: not in the parameter description\n"
                       "5 entries checked, 3 with problems\n");
    const TCliResult good =
        Run(QStringLiteral("/nonexistent/tty"), {"check", VELTRA_DATA_DIR "/devsim_default.cfg"}, params);
    EXPECT_EQ(good.exitCode, 0) << good.out.toStdString();
    const TCliResult missing = Run(QStringLiteral("/nonexistent/tty"), {"check", dir.filePath("bad.cfg")},
                                   {QStringLiteral("params=/nonexistent/veltra_params.conf")});
    EXPECT_EQ(missing.exitCode, 5);
    EXPECT_EQ(missing.err, "No such file: /nonexistent/veltra_params.conf\n");
}

TEST_F(VeltraCli, DiffPrintsWhatALoadWouldChange) {
    TDevSimProcess sim({"--config", DefaultConfig});
    WriteFile("same.cfg", ConfigLines(DefaultConfig).toUtf8());
    const TCliResult same = Run(sim, {"diff", "same.cfg"});
    EXPECT_EQ(same.exitCode, 0) << same.err.toStdString();
    EXPECT_EQ(same.out, "0 differences\n");

    QString lines = ConfigLines(DefaultConfig);
    lines.replace(QRegularExpression("SRV_PORT=\\d+"), "SRV_PORT=1");
    lines.remove(QRegularExpression("APN_NAME=[^\\n]*\\n"));
    WriteFile("changed.cfg", (lines + "NEW_KEY=x\n_IMEI=1\n").toUtf8());
    const TCliResult changed = Run(sim, {"diff", "changed.cfg"});
    EXPECT_EQ(changed.exitCode, 7) << changed.err.toStdString();
    EXPECT_TRUE(changed.out.contains("SRV_PORT\tdevice=21000\tfile=1\n")) << changed.out.toStdString();
    EXPECT_TRUE(QRegularExpression("\nAPN_NAME\tdevice=[^\t]*\t\\(not in the file\\)\n").match(u'\n' + changed.out).hasMatch())
        << changed.out.toStdString();
    EXPECT_TRUE(changed.out.contains("NEW_KEY\t(not on the device)\tfile=x\n"));
    EXPECT_TRUE(changed.out.endsWith("3 differences\n"));
}

// Before a write the device's configuration is saved; without a place for it nothing is written
// unless the user says force=1.
TEST_F(VeltraCli, WriteSavesABackupFirstAndRefusesWithoutOne) {
    TDevSimProcess sim({"--config", DefaultConfig});
    WriteFile("one.cfg", "SRV_PORT=60\n");
    const TCliResult r = Run(sim, {"write", "one.cfg"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString folder = dir.filePath("config/Veltra/backups/356938035643809/");
    const TCliResult list = Run(QStringLiteral("/nonexistent/tty"), {"backups"});
    EXPECT_EQ(list.exitCode, 0);
    ASSERT_EQ(list.out.count(u'\n'), 1) << list.out.toStdString();
    EXPECT_TRUE(list.out.startsWith(folder) && list.out.endsWith("-write.cfg\n")) << list.out.toStdString();
    QFile saved(list.out.trimmed());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().contains("SRV_PORT=21000\r\n")); // what the device held before the write

    QDir(dir.filePath("config/Veltra/backups")).removeRecursively();
    WriteFile("config/Veltra/backups", "in the way");
    WriteFile("two.cfg", "SRV_PORT=61\n");
    const TCliResult refused = Run(sim, {"write", "two.cfg"});
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_TRUE(refused.err.contains("give force=1")) << refused.err.toStdString();
    EXPECT_TRUE(Run(sim, {"read"}).out.contains("SRV_PORT=60\n"));
    const TCliResult forced = Run(sim, {"write", "two.cfg"}, {"force=1"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    EXPECT_TRUE(Run(sim, {"read"}).out.contains("SRV_PORT=61\n"));
}

// What scripts read: one JSON document per command, parsed back here.
TEST_F(VeltraCli, JsonOutputIsOneDocumentPerCommand) {
    TDevSimProcess sim({"--config", DefaultConfig});
    const auto json = [](const TCliResult &r) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
        return document.object();
    };
    const QJsonObject info = json(Run(sim, {"info", "--json"}));
    EXPECT_EQ(info.value("imei").toString(), "356938035643809");
    EXPECT_EQ(info.value("hw").toInt(), 12);

    const QJsonArray config = json(Run(sim, {"read", "--json"})).value("config").toArray();
    ASSERT_FALSE(config.isEmpty());
    EXPECT_EQ(config.first().toObject().value("key").toString() + "=" + config.first().toObject().value("value").toString(),
              ConfigLines(DefaultConfig).section(u'\n', 0, 0));

    WriteFile("changed.cfg", ConfigLines(DefaultConfig).replace("SRV_PORT=21000", "SRV_PORT=1").toUtf8() + "NEW_KEY=x\n");
    const TCliResult diffRun = Run(sim, {"diff", "--json", "changed.cfg"});
    EXPECT_EQ(diffRun.exitCode, 7);
    const QJsonArray differences = json(diffRun).value("differences").toArray();
    ASSERT_EQ(differences.size(), 2);
    EXPECT_EQ(differences[0].toObject().value("device").toString(), "21000");
    EXPECT_TRUE(differences[1].toObject().value("device").isNull());

    WriteFile("bad.cfg", "SRV_PORT=99999\n");
    const TCliResult checkRun = Run(QStringLiteral("/nonexistent/tty"), {"check", "bad.cfg", "--json"},
                                    {QStringLiteral("params=" VELTRA_DATA_DIR "/veltra_params.conf")});
    EXPECT_EQ(checkRun.exitCode, 6);
    const QJsonObject check = json(checkRun);
    EXPECT_EQ(check.value("entries").toInt(), 1);
    EXPECT_EQ(check.value("problems").toArray().first().toObject().value("line").toInt(), 1);

    EXPECT_TRUE(json(Run(QStringLiteral("/nonexistent/tty"), {"backups", "--json"})).value("backups").toArray().isEmpty());
}
