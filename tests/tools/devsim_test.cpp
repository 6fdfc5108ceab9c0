// Tests of the device simulator. The protocol, the loader and the faults run against TDevSim on a thread
// of its own; what only the program does (first output line, link file, signals, exit codes) runs
// against veltra_devsim itself. The client side is a real raw pseudo-terminal with read deadlines, and
// one upload goes through lrzsz's sx as an independent XModem sender.
#include "xmodem_frame.h"
#include "DevSimOptions.h"
#include "LuCRC.h"
#include "TDevSim.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using TClock = std::chrono::steady_clock;
using TMs = std::chrono::milliseconds;

constexpr char EOT = 0x04;
const QByteArray ACK(1, 0x06);
const QByteArray NAK(1, 0x15);
const QByteArray CANCAN(2, 0x18);
const QByteArray Info = "  INFO VT-300 HW:12 SW:345 IMEI:356938035643809";

int MsUntil(TClock::time_point end) {
    return int(std::max<long long>(0, std::chrono::ceil<TMs>(end - TClock::now()).count()));
}

// The configurator's end of the line: the slave opened raw, every read with a deadline.
class TTestLine {
public:
    explicit TTestLine(const QString &path)
        : TTestLine(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    explicit TTestLine(int fd) : fFd(fd) {
        termios tio{};
        if (fFd >= 0 && tcgetattr(fFd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fFd, TCSANOW, &tio);
        }
    }
    TTestLine(const TTestLine &) = delete;
    TTestLine &operator=(const TTestLine &) = delete;
    ~TTestLine() {
        if (fFd >= 0)
            ::close(fFd);
    }

    bool IsOpen() const { return fFd >= 0; }
    void Send(const QByteArray &bytes) {
        EXPECT_EQ(::write(fFd, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    // One line without its line end; nothing when no line is complete in time.
    std::optional<QByteArray> ReadLine(TMs wait = 1000ms) {
        const auto end = TClock::now() + wait;
        for (;;) {
            const qsizetype lf = fBuffer.indexOf('\n');
            if (lf >= 0) {
                QByteArray line = Take(lf + 1);
                line.chop(line.endsWith("\r\n") ? 2 : 1);
                return line;
            }
            if (!Fill(end))
                return std::nullopt;
        }
    }
    // Up to count bytes, as many as arrive in time.
    QByteArray Read(qsizetype count, TMs wait = 1000ms) {
        const auto end = TClock::now() + wait;
        while (fBuffer.size() < count && Fill(end)) {
        }
        return Take(std::min(count, fBuffer.size()));
    }
    // Everything that arrives within the time.
    QByteArray ReadFor(TMs wait) { return Read(1 << 20, wait); }
    short Events(TMs wait) {
        pollfd p{fFd, POLLIN, 0};
        return poll(&p, 1, int(wait.count())) > 0 ? p.revents : 0;
    }

private:
    bool Fill(TClock::time_point end) {
        pollfd p{fFd, POLLIN, 0};
        if (poll(&p, 1, MsUntil(end)) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(fFd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        fBuffer.append(buffer, n);
        return true;
    }
    QByteArray Take(qsizetype n) {
        const QByteArray head = fBuffer.left(n);
        fBuffer.remove(0, n);
        return head;
    }

    int fFd;
    QByteArray fBuffer;
};

QByteArray Pattern(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

QByteArray Frame(int number, const QByteArray &data) { return XModemFrame(number, data, int(data.size())); }

class DevSim : public ::testing::Test {
protected:
    void TearDown() override { StopSim(); }

    void StartSim(const TDevSimOptions &options) {
        fSim = std::make_unique<TDevSim>(options);
        QString error;
        ASSERT_TRUE(fSim->Open(error)) << qPrintable(error);
        fThread = std::thread([this] { fExit = fSim->Run(); });
    }
    void Start(const TDevSimOptions &options = TDevSimOptions()) {
        ASSERT_NO_FATAL_FAILURE(StartSim(options));
        fLine = std::make_unique<TTestLine>(fSim->PortPath());
        ASSERT_TRUE(fLine->IsOpen());
    }
    int StopSim() {
        if (fThread.joinable()) {
            fSim->Stop();
            fThread.join();
        }
        return fExit;
    }

    // Sends a command, checks its echo and returns the first answer line.
    QByteArray Answer(const QByteArray &command) {
        fLine->Send(command + "\r\n");
        EXPECT_EQ(fLine->ReadLine().value_or("<nothing>"), command.trimmed()) << "echo";
        return fLine->ReadLine().value_or("<nothing>");
    }
    // All answer lines, up to a pause.
    QList<QByteArray> AnswerLines(const QByteArray &command) {
        QList<QByteArray> lines{Answer(command)};
        while (const auto line = fLine->ReadLine(150ms))
            lines += *line;
        return lines;
    }
    // The device is back from its loader when it answers R_INFO again.
    bool DeviceBack(TMs wait = 2000ms) {
        const auto end = TClock::now() + wait;
        while (TClock::now() < end) {
            fLine->Send("R_INFO\r\n");
            while (const auto line = fLine->ReadLine(100ms))
                if (*line == Info)
                    return true;
        }
        return false;
    }
    void Reboot() {
        ASSERT_EQ(Answer("S_REBOOT=1"), "  REBOOT=1");
        ASSERT_EQ(fLine->Read(1, 1500ms), "C");
    }
    QString TempPath(const QString &name) const { return fDir.filePath(name); }
    QString WriteConfig(const QByteArray &text) {
        QFile file(TempPath("device.cfg"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }
    static QByteArray FileBytes(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
    }

    QTemporaryDir fDir;
    std::unique_ptr<TDevSim> fSim;
    std::thread fThread;
    std::unique_ptr<TTestLine> fLine;
    int fExit = -1;
};

} // namespace

TEST_F(DevSim, AnswersEveryCommandKindAfterItsEcho) {
    TDevSimOptions options;
    options.fConfigFile = WriteConfig("apn=internet\r\nport = 5000\r\n");
    ASSERT_NO_FATAL_FAILURE(Start(options));
    EXPECT_EQ(Answer("R_INFO"), Info);
    EXPECT_EQ(Answer("R_apn"), "  apn=internet");
    EXPECT_EQ(Answer("R_APN"), "  APN=internet");
    EXPECT_EQ(Answer("R_nope"), "  ERROR=unknown parameter nope");
    EXPECT_EQ(Answer("S_apn=fleet.example"), "  apn=fleet.example");
    EXPECT_EQ(Answer("R_apn"), "  apn=fleet.example");
    EXPECT_EQ(Answer("S_url=http://x/?a=b"), "  url=http://x/?a=b");
    EXPECT_EQ(Answer("R_url"), "  url=http://x/?a=b");
    EXPECT_EQ(Answer("S_NOP"), "  NOP");
    EXPECT_EQ(Answer("HELLO"), "  ERROR=unknown command");
    EXPECT_EQ(Answer("S_ =1"), "  ERROR=unknown command");
    EXPECT_EQ(Answer("S_NOPE"), "  ERROR=unknown command");
}

TEST_F(DevSim, ConfigurationComesInFileOrderAndWritesKeepIt) {
    TDevSimOptions options;
    options.fConfigFile = WriteConfig("zeta=1\r\n# a comment\r\napn internet\r\n\r\nport = 5000\r\n");
    options.fReject = QStringList{"port"};
    ASSERT_NO_FATAL_FAILURE(Start(options));
    EXPECT_EQ(AnswerLines("R_CFG"),
              (QList<QByteArray>{"  CFG:", "  zeta=1", "  apn=internet", "  port=5000"}));
    EXPECT_EQ(Answer("S_new=7"), "  new=7");
    EXPECT_EQ(Answer("S_apn=fleet"), "  apn=fleet");
    EXPECT_EQ(Answer("S_PORT=1"), "  ERROR=PORT is read-only");
    EXPECT_EQ(AnswerLines("R_CFG"),
              (QList<QByteArray>{"  CFG:", "  zeta=1", "  apn=fleet", "  port=5000", "  new=7"}));
}

TEST_F(DevSim, TakesCrLfCrOrLfAndIgnoresBlankLines) {
    ASSERT_NO_FATAL_FAILURE(Start());
    fLine->Send("R_INFO\r");
    EXPECT_EQ(fLine->ReadLine(), "R_INFO");
    EXPECT_EQ(fLine->ReadLine(), Info);
    fLine->Send("\r\n\r\n   S_NOP\nR_INFO\r\n");
    EXPECT_EQ(fLine->ReadLine(), "S_NOP");
    EXPECT_EQ(fLine->ReadLine(), "  NOP");
    EXPECT_EQ(fLine->ReadLine(), "R_INFO");
    EXPECT_EQ(fLine->ReadLine(), Info);
    EXPECT_EQ(fLine->ReadFor(100ms), "");
}

TEST_F(DevSim, NoEchoSendsTheAnswerAlone) {
    TDevSimOptions options;
    options.fEcho = false;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    fLine->Send("S_NOP\r\n");
    EXPECT_EQ(fLine->ReadLine(), "  NOP");
}

TEST_F(DevSim, PasswordLocksEverythingButThePasswordCommand) {
    TDevSimOptions options;
    options.fPassword = "secret";
    ASSERT_NO_FATAL_FAILURE(Start(options));
    for (const QByteArray command : {"R_INFO", "R_CFG", "S_apn=x", "S_NOP", "S_REBOOT=1", "HELLO"})
        EXPECT_EQ(Answer(command), "  ERROR=no password") << command.constData();
    EXPECT_EQ(Answer("S_PASSNOW=wrong"), "  ERROR=wrong password");
    EXPECT_EQ(Answer("R_INFO"), "  ERROR=no password");
    EXPECT_EQ(Answer("S_PASSNOW=secret"), "  PASSNOW=secret");
    EXPECT_EQ(Answer("R_INFO"), Info);
    EXPECT_EQ(Answer("S_NOP"), "  NOP");
}

TEST_F(DevSim, DelayHoldsEachAnswerAndTheCommandsBehindIt) {
    TDevSimOptions options;
    options.fDelayMs = 150;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    const auto sent = TClock::now();
    fLine->Send("S_NOP\r\nR_INFO\r\n");
    EXPECT_EQ(fLine->ReadLine(100ms), "S_NOP");
    EXPECT_EQ(fLine->ReadLine(), "  NOP");
    EXPECT_GE(TClock::now() - sent, 150ms);
    EXPECT_EQ(fLine->ReadLine(), "R_INFO");
    EXPECT_EQ(fLine->ReadLine(), Info);
    EXPECT_GE(TClock::now() - sent, 300ms);
}

TEST_F(DevSim, UnsolicitedLinesComeOnlyBetweenCommands) {
    TDevSimOptions options;
    options.fUnsolicited = "$GPS,55.75,37.61";
    options.fUnsolicitedPeriodMs = 20;
    options.fDelayMs = 100;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    EXPECT_EQ(fLine->ReadLine(), "$GPS,55.75,37.61");
    for (int i = 0; i < 3; ++i) {
        fLine->Send("R_INFO\r\n");
        std::optional<QByteArray> line;
        do
            line = fLine->ReadLine();
        while (line == "$GPS,55.75,37.61");
        EXPECT_EQ(line, "R_INFO");
        EXPECT_EQ(fLine->ReadLine(), Info);
    }
}

TEST_F(DevSim, PortCanBeClosedAndOpenedAgain) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Answer("R_INFO"), Info);
    for (int i = 0; i < 3; ++i) {
        fLine.reset();
        fLine = std::make_unique<TTestLine>(fSim->PortPath());
        ASSERT_TRUE(fLine->IsOpen());
        EXPECT_EQ(Answer("S_NOP"), "  NOP");
    }
}

TEST_F(DevSim, ServesAGivenDeviceUntilTheLineIsLost) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    TDevSimOptions options;
    options.fDevice = QString::fromLocal8Bit(ptsname(master));
    fLine = std::make_unique<TTestLine>(master);
    ASSERT_NO_FATAL_FAILURE(StartSim(options));
    EXPECT_EQ(fSim->PortPath(), options.fDevice);
    EXPECT_EQ(Answer("R_INFO"), Info);
    fLine.reset();
    fThread.join();
    EXPECT_EQ(fExit, dsxPortLost);
}

TEST_F(DevSim, SilenceFaultAnswersNothingAfterTheGivenCommands) {
    TDevSimOptions options;
    options.fFault = dsfSilence;
    options.fFaultAfter = 1;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    EXPECT_EQ(Answer("R_INFO"), Info);
    fLine->Send("R_INFO\r\n");
    EXPECT_EQ(fLine->ReadFor(300ms), "");
}

TEST_F(DevSim, GarbageFaultAnswersBytesThatAreNoAnswerLine) {
    TDevSimOptions options;
    options.fFault = dsfGarbage;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    const QByteArray line = Answer("S_NOP");
    EXPECT_EQ(line.size(), 32);
    EXPECT_FALSE(line.startsWith("  "));
    EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return quint8(c) >= 0x80; }));
}

TEST_F(DevSim, UnterminatedFaultLeavesTheAnswerWithoutLineEnd) {
    TDevSimOptions options;
    options.fFault = dsfUnterminated;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    fLine->Send("R_INFO\r\n");
    EXPECT_EQ(fLine->ReadLine(), "R_INFO");
    EXPECT_EQ(fLine->ReadFor(300ms), Info);
}

TEST_F(DevSim, LoaderStoresEachBlockOnceAndTheDeviceComesBackUnlocked) {
    TDevSimOptions options;
    options.fPassword = "pw";
    options.fFirmwareOut = TempPath("image.bin");
    ASSERT_NO_FATAL_FAILURE(Start(options));
    ASSERT_EQ(Answer("S_PASSNOW=pw"), "  PASSNOW=pw");
    ASSERT_NO_FATAL_FAILURE(Reboot());
    const QByteArray one = Pattern(128, 1), two = Pattern(128, 2), three = Pattern(1024, 3);
    fLine->Send(Frame(1, one));
    EXPECT_EQ(fLine->Read(1), ACK);
    fLine->Send(Frame(1, one));
    EXPECT_EQ(fLine->Read(1), ACK) << "a repeated block is acknowledged";
    QByteArray badCrc = Frame(2, two);
    badCrc[badCrc.size() - 1] = char(badCrc.back() ^ 1);
    fLine->Send(badCrc);
    EXPECT_EQ(fLine->Read(1), NAK);
    QByteArray badComplement = Frame(2, two);
    badComplement[2] = 0;
    fLine->Send(badComplement);
    EXPECT_EQ(fLine->Read(1), NAK);
    fLine->Send(Frame(2, two));
    EXPECT_EQ(fLine->Read(1), ACK);
    fLine->Send(Frame(3, three));
    EXPECT_EQ(fLine->Read(1), ACK);
    fLine->Send(QByteArray(1, EOT));
    EXPECT_EQ(fLine->Read(1), ACK);
    ASSERT_TRUE(DeviceBack());
    EXPECT_EQ(FileBytes(options.fFirmwareOut), one + two + three);
    EXPECT_EQ(AnswerLines("R_CFG"), QList<QByteArray>{"  CFG:"});
}

TEST_F(DevSim, LoaderCancelFaultAndOutOfSequenceBlocksEndTheTransfer) {
    TDevSimOptions options;
    options.fLoaderFault = dslCancel;
    options.fFirmwareOut = TempPath("image.bin");
    ASSERT_NO_FATAL_FAILURE(Start(options));
    ASSERT_NO_FATAL_FAILURE(Reboot());
    fLine->Send(Frame(1, Pattern(128, 1)));
    EXPECT_EQ(fLine->ReadFor(200ms), CANCAN);
    ASSERT_TRUE(DeviceBack());
    EXPECT_FALSE(QFile::exists(options.fFirmwareOut));

    StopSim();
    options.fLoaderFault = dslNone;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    ASSERT_NO_FATAL_FAILURE(Reboot());
    fLine->Send(Frame(1, Pattern(128, 1)));
    EXPECT_EQ(fLine->Read(1), ACK);
    fLine->Send(Frame(3, Pattern(128, 3)));
    EXPECT_EQ(fLine->ReadFor(200ms), CANCAN);
    ASSERT_TRUE(DeviceBack());
    EXPECT_FALSE(QFile::exists(options.fFirmwareOut));
}

TEST_F(DevSim, LoaderNakFaultRefusesTheGivenBlockOnce) {
    TDevSimOptions options;
    options.fLoaderFault = dslNak;
    options.fLoaderNakBlock = 2;
    options.fFirmwareOut = TempPath("image.bin");
    ASSERT_NO_FATAL_FAILURE(Start(options));
    ASSERT_NO_FATAL_FAILURE(Reboot());
    const QByteArray one = Pattern(128, 1), two = Pattern(128, 2);
    fLine->Send(Frame(1, one));
    EXPECT_EQ(fLine->Read(1), ACK);
    fLine->Send(Frame(2, two));
    EXPECT_EQ(fLine->Read(1), NAK);
    fLine->Send(Frame(2, two));
    EXPECT_EQ(fLine->Read(1), ACK);
    fLine->Send(QByteArray(1, EOT));
    EXPECT_EQ(fLine->Read(1), ACK);
    ASSERT_TRUE(DeviceBack());
    EXPECT_EQ(FileBytes(options.fFirmwareOut), one + two);
}

TEST_F(DevSim, SilentLoaderSendsNoInvitationAndComesBackAfterItsTime) {
    TDevSimOptions options;
    options.fLoaderFault = dslSilent;
    options.fLoaderSilentMs = 400;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    const auto rebooted = TClock::now();
    ASSERT_EQ(Answer("S_REBOOT=1"), "  REBOOT=1");
    fLine->Send("R_INFO\r\n");
    EXPECT_EQ(fLine->ReadFor(500ms), "");
    ASSERT_TRUE(DeviceBack());
    EXPECT_GE(TClock::now() - rebooted, 600ms);
}

TEST_F(DevSim, LoaderWithoutTransferComesBackAfterItsInvitations) {
    TDevSimOptions options;
    options.fLoaderAttempts = 2;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    ASSERT_EQ(Answer("S_REBOOT=1"), "  REBOOT=1");
    EXPECT_EQ(fLine->ReadFor(2300ms), "CC");
    EXPECT_TRUE(DeviceBack());
}

TEST_F(DevSim, LoaderTakesAnImageFromAnIndependentSender) {
    const QString sx = QStandardPaths::findExecutable("sx");
    if (sx.isEmpty())
        GTEST_SKIP() << "lrzsz's sx is not installed";
    TDevSimOptions options;
    options.fFirmwareOut = TempPath("image.bin");
    ASSERT_NO_FATAL_FAILURE(Start(options));
    const QByteArray image = Pattern(3000, 5);
    QFile source(TempPath("source.bin"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write(image);
    source.close();
    ASSERT_EQ(Answer("S_REBOOT=1"), "  REBOOT=1");
    fLine.reset();

    QProcess sender;
    sender.setStandardInputFile(fSim->PortPath());
    sender.setStandardOutputFile(fSim->PortPath());
    sender.start(sx, {"-k", source.fileName()});
    ASSERT_TRUE(sender.waitForFinished(15000));
    EXPECT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().constData();

    fLine = std::make_unique<TTestLine>(fSim->PortPath());
    ASSERT_TRUE(DeviceBack());
    const QByteArray received = FileBytes(options.fFirmwareOut);
    EXPECT_EQ(received.left(image.size()), image);
    EXPECT_EQ(received.size() % 128, 0);
    EXPECT_EQ(received.mid(image.size()), QByteArray(received.size() - image.size(), 0x1A));
}

namespace {

// Starts veltra_devsim and returns the first line it prints, the port path.
QString StartProgram(QProcess &program, const QStringList &arguments) {
    program.start(VELTRA_DEVSIM_PATH, arguments);
    while (!program.canReadLine() && program.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(program.readLine()).trimmed();
}

} // namespace

TEST(DevSimProgram, PrintsThePortFirstWritesTheLinkFileAndStopsOnSigterm) {
    QTemporaryDir dir;
    const QString link = dir.filePath("port.txt");
    QProcess program;
    const QString path = StartProgram(program, {"--link-file", link});
    ASSERT_TRUE(path.startsWith("/dev/"));
    QFile file(link);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), path.toLocal8Bit() + '\n');
    TTestLine line(path);
    line.Send("R_INFO\r\n");
    EXPECT_EQ(line.ReadLine(), "R_INFO");
    EXPECT_EQ(line.ReadLine(), Info);
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(3000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), dsxStopped);
}

TEST(DevSimProgram, HangupFaultHangsUpTheLineAndExitsWithItsCode) {
    QProcess program;
    const QString path = StartProgram(program, {"--fault", "hangup", "--fault-after", "1"});
    TTestLine line(path);
    line.Send("R_INFO\r\n");
    EXPECT_EQ(line.ReadLine(), "R_INFO");
    EXPECT_EQ(line.ReadLine(), Info);
    line.Send("S_NOP\r\n");
    EXPECT_TRUE(line.Events(2000ms) & POLLHUP);
    ASSERT_TRUE(program.waitForFinished(3000));
    EXPECT_EQ(program.exitCode(), dsxHangup);
}

TEST(DevSimProgram, HelpVersionBadArgumentsAndMissingConfiguration) {
    QProcess program;
    program.start(VELTRA_DEVSIM_PATH, {"--help"});
    ASSERT_TRUE(program.waitForFinished(3000));
    EXPECT_EQ(program.exitCode(), dsxStopped);
    EXPECT_TRUE(program.readAllStandardOutput().startsWith("Usage: veltra_devsim"));

    // The version a package of the project carries; the simulator prints it and opens no port.
    program.start(VELTRA_DEVSIM_PATH, {"--version", "--device", "/nonexistent/tty"});
    ASSERT_TRUE(program.waitForFinished(3000));
    EXPECT_EQ(program.exitCode(), dsxStopped);
    EXPECT_EQ(program.readAllStandardOutput(), "veltra_devsim " VELTRA_VERSION "\n");

    program.start(VELTRA_DEVSIM_PATH, {"--fault", "loud"});
    ASSERT_TRUE(program.waitForFinished(3000));
    EXPECT_EQ(program.exitCode(), dsxBadArguments);
    EXPECT_TRUE(program.readAllStandardError().contains("unknown fault"));

    program.start(VELTRA_DEVSIM_PATH, {"--config", "/nonexistent/device.cfg"});
    ASSERT_TRUE(program.waitForFinished(3000));
    EXPECT_EQ(program.exitCode(), dsxOpenFailed);
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

TEST(DevSimCommandLine, ReadsEveryValue) {
    const TDevSimCommandLine line = ParseDevSimCommandLine({"veltra_devsim",
                                                            "--config=a.cfg",
                                                            "--ident",
                                                            "T HW:1",
                                                            "--password",
                                                            "pw",
                                                            "--reject",
                                                            "a, b",
                                                            "--reject",
                                                            "c",
                                                            "--delay",
                                                            "5",
                                                            "--no-echo",
                                                            "--unsolicited",
                                                            "$X",
                                                            "--unsolicited-period",
                                                            "50",
                                                            "--fault",
                                                            "unterminated",
                                                            "--fault-after",
                                                            "2",
                                                            "--loader-fault",
                                                            "nak:3",
                                                            "--loader-attempts",
                                                            "4",
                                                            "--firmware-out",
                                                            "fw.bin",
                                                            "--link-file",
                                                            "l.txt",
                                                            "--device",
                                                            "/dev/x",
                                                            "--verbose"});
    ASSERT_EQ(line.fError, "");
    const TDevSimOptions &o = line.fOptions;
    EXPECT_FALSE(line.fHelp);
    EXPECT_EQ(o.fConfigFile, "a.cfg");
    EXPECT_EQ(o.fIdent, "T HW:1");
    EXPECT_EQ(o.fPassword, "pw");
    EXPECT_EQ(o.fReject, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(o.fDelayMs, 5);
    EXPECT_FALSE(o.fEcho);
    EXPECT_EQ(o.fUnsolicited, "$X");
    EXPECT_EQ(o.fUnsolicitedPeriodMs, 50);
    EXPECT_EQ(o.fFault, dsfUnterminated);
    EXPECT_EQ(o.fFaultAfter, 2);
    EXPECT_EQ(o.fLoaderFault, dslNak);
    EXPECT_EQ(o.fLoaderNakBlock, 3);
    EXPECT_EQ(o.fLoaderAttempts, 4);
    EXPECT_EQ(o.fFirmwareOut, "fw.bin");
    EXPECT_EQ(o.fLinkFile, "l.txt");
    EXPECT_EQ(o.fDevice, "/dev/x");
    EXPECT_TRUE(o.fVerbose);

    const TDevSimOptions silent =
        ParseDevSimCommandLine({"veltra_devsim", "--loader-fault", "silent"}).fOptions;
    EXPECT_EQ(silent.fLoaderFault, dslSilent);
    EXPECT_EQ(silent.fLoaderSilentMs, 12000);
    EXPECT_EQ(ParseDevSimCommandLine({"veltra_devsim", "--loader-fault=silent:300"}).fOptions.fLoaderSilentMs,
              300);
    EXPECT_TRUE(ParseDevSimCommandLine({"veltra_devsim", "--help"}).fHelp);
}

TEST(DevSimCommandLine, RefusesBadValues) {
    const QList<QStringList> bad{{"--delay", "-5"},
                                 {"--delay", "soon"},
                                 {"--unsolicited-period", "0"},
                                 {"--loader-attempts", "0"},
                                 {"--fault", "loud"},
                                 {"--loader-fault", "nak:0"},
                                 {"--loader-fault", "nak"},
                                 {"--loader-fault", "cancel:3"},
                                 {"--loader-fault", "silent:x"},
                                 {"--bogus"},
                                 {"extra"},
                                 {"--delay"}};
    for (const QStringList &arguments : bad)
        EXPECT_NE(ParseDevSimCommandLine(QStringList{"veltra_devsim"} + arguments).fError, "")
            << qPrintable(arguments.join(' '));
}
