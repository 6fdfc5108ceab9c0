// Block level and file-level edge cases, with the test playing the other end byte by byte.
#include "xmodem_frame.h"
#include "xmodem_fixture.h"
#include "notify.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <climits>
#include <functional>
#include <memory>
#include <thread>

namespace {

constexpr char SOH = 1, EOT = 4, ACK = 6, NAK = 21, CAN = 24;

QByteArray Frame(int number, const QByteArray &payload, int size = 128) { return XModemFrame(number, payload, size); }

} // namespace

class XModemBlocks : public XModemTest {
protected:
    // Plays a sender: writes a frame and returns the receiver's one-byte answer.
    char Offer(const QByteArray &frame) {
        line.Send(frame);
        fheard = line.ReceiveSome(2000);
        const char answer = fheard.isEmpty() ? '\0' : fheard[0];
        fheard.remove(0, 1);
        return answer;
    }
    // The transfer's result; a transfer still running at the limit fails the test instead of giving
    // whatever code the modem held from before.
    int WaitDone(int timeoutMs = 10000) {
        QElapsedTimer t;
        t.start();
        while (modem.Status() != lupsReady && t.elapsed() < timeoutMs)
            QThread::msleep(10);
        if (modem.Status() != lupsReady) {
            ADD_FAILURE() << "the transfer did not end within " << timeoutMs << " ms";
            return INT_MIN;
        }
        return modem.ErrorCode();
    }
    // The receiver's "C" (and anything else it sent before it).
    bool AwaitInvite() {
        const QByteArray heard = fheard.isEmpty() ? line.ReceiveSome(1500) : fheard;
        fheard.clear();
        return heard.endsWith('C');
    }
    QByteArray fheard; // what came after the answer to the last offer
};

TEST_F(XModemBlocks, FramesFollowThePayloadLength) {
    int errors = -1;
    line.Send(QByteArray(1, ACK));
    const QByteArray hundred(100, 'x');
    EXPECT_EQ(modem.SendBlock(1, hundred.constData(), 100, errors), 100);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(line.Receive(200), Frame(1, hundred));

    line.Send(QByteArray(1, ACK));
    const QByteArray big(129, 'y');
    EXPECT_EQ(modem.SendBlock(255, big.constData(), 129, errors), 129);
    EXPECT_EQ(line.Receive(200), Frame(255, big, 1024));

    EXPECT_EQ(modem.SendBlock(2, QByteArray(1025, 'z').constData(), 1025, errors), xmInvalidBlockSize);
}

TEST_F(XModemBlocks, NakRepeatsUntilTheRetriesRunOut) {
    int errors = 0;
    const QByteArray payload("abc");
    line.Send(QByteArray(3, NAK) + QByteArray(1, ACK));
    EXPECT_EQ(modem.SendBlock(7, payload.constData(), 3, errors), 3);
    EXPECT_EQ(errors, 3);
    // Each repetition first drops what is still queued for sending, so only the last copy is certain.
    EXPECT_TRUE(line.Receive(200).endsWith(Frame(7, payload)));

    line.Send(QByteArray(16, NAK));
    EXPECT_EQ(modem.SendBlock(8, payload.constData(), 3, errors), xmOutOfRetries);
    EXPECT_EQ(errors, 15);
    EXPECT_TRUE(line.Receive(200).endsWith(Frame(8, payload)));
}

TEST_F(XModemBlocks, CancelsFromEitherSide) {
    int errors = 0;
    line.Send(QByteArray(1, CAN));
    EXPECT_EQ(modem.SendBlock(1, "a", 1, errors), xmCancel);
    EXPECT_TRUE(line.Receive(200).endsWith(ACK));

    line.Send(QByteArray("x") + CAN);
    EXPECT_EQ(modem.WaitRxR(1000), xmCancel);

    modem.Cancel();
    EXPECT_EQ(modem.SendBlock(1, "a", 1, errors), xmUserCancel);
    EXPECT_TRUE(line.Receive(200).endsWith(QByteArray(5, CAN)));
}

TEST_F(XModemBlocks, WaitRxRTakesOnlyTheCrcInvitation) {
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(modem.WaitRxR(300), xmTimeout);
    EXPECT_GE(t.elapsed(), 290);
    line.Send(QByteArray(1, NAK) + "C");
    EXPECT_EQ(modem.WaitRxR(1000), xmOK);
}

TEST_F(XModemBlocks, SendRxRInvitesAfterAboutThreeSeconds) {
    modem.SetFirstInviteDelay(3000);
    std::thread peer([this] {
        QElapsedTimer t;
        t.start();
        const QByteArray got = line.ReceiveSome(4000).left(1);
        const qint64 waited = t.elapsed();
        EXPECT_EQ(got, "C");
        EXPECT_GE(waited, 2800);
        EXPECT_LE(waited, 3600);
        line.Send(QByteArray(1, SOH));
    });
    EXPECT_EQ(modem.SendRxR(10000), xmOK);
    peer.join();
    EXPECT_EQ(com.RxCount(), 1); // the sender's first byte is left for the block reader
}

TEST_F(XModemBlocks, ReadBlockRefusesDamagedBlocksAndReportsEnds) {
    char buffer[1024];
    int number = 0, errors = 0;
    QByteArray damaged = Frame(3, "data");
    damaged[2] = 0; // complement no longer matches
    std::thread sender([&] {
        line.Send(damaged);
        EXPECT_EQ(line.ReceiveSome(2000), QByteArray(1, NAK));
        line.Send(Frame(3, "data"));
    });
    EXPECT_EQ(modem.ReadBlock(number, buffer, 1024, errors), 128);
    sender.join();
    EXPECT_EQ(number, 3);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(line.Receive(200), QByteArray(1, ACK));

    line.Send(Frame(4, "big", 1024));
    EXPECT_EQ(modem.ReadBlock(number, buffer, 128, errors), xmOverflow);
    com.Flush();
    // An EOT is believed when it comes again after a NAK.
    std::thread ender([&] {
        line.Send(QByteArray(1, EOT));
        EXPECT_EQ(line.ReceiveSome(2000), QByteArray(1, NAK));
        line.Send(QByteArray(1, EOT));
    });
    EXPECT_EQ(modem.ReadBlock(number, buffer, 1024, errors), xmEndOfText);
    ender.join();
    EXPECT_EQ(line.Receive(200), QByteArray(1, ACK));
}

TEST_F(XModemBlocks, RepeatedBlockIsWrittenOnceAndNumbersWrap) {
    ASSERT_EQ(modem.ReadFileAsync(Path("in.bin"), false), xmOK);
    ASSERT_TRUE(AwaitInvite());
    QByteArray expected;
    for (int n = 1; n <= 300; ++n) {
        const QByteArray payload = QByteArray::number(n).leftJustified(128, '.');
        ASSERT_EQ(Offer(Frame(n & 0xFF, payload)), ACK) << n;
        if (n == 2) { // our ACK "got lost": the sender repeats the block
            ASSERT_EQ(Offer(Frame(n, payload)), ACK);
        }
        expected += payload;
    }
    EXPECT_EQ(Offer(QByteArray(1, EOT)), NAK);
    EXPECT_EQ(Offer(QByteArray(1, EOT)), ACK);
    EXPECT_EQ(WaitDone(), xmEndOfText);
    EXPECT_EQ(ReadAll(Path("in.bin")), expected);
}

TEST_F(XModemBlocks, OutOfSequenceBlockCancels) {
    ASSERT_EQ(modem.ReadFileAsync(Path("in.bin"), false), xmOK);
    ASSERT_TRUE(AwaitInvite());
    ASSERT_EQ(Offer(Frame(1, "one")), ACK);
    line.Send(Frame(3, "three"));
    EXPECT_EQ(WaitDone(), xmOutOfSequence);
    EXPECT_TRUE(line.Receive(200).endsWith(QByteArray(5, CAN)));
}

TEST_F(XModemBlocks, YModemHeaderNamesStayInTheTargetFolder) {
    QDir(dir.path()).mkdir("in");
    for (const char *hostile : {"../evil.bin", "/etc/evil.bin", "sub/../../evil.bin", "C:\\evil.bin", ".."}) {
        ASSERT_EQ(modem.ReadFileAsync(Path("in/x"), true), xmOK);
        ASSERT_TRUE(AwaitInvite()) << hostile;
        EXPECT_EQ(Offer(Frame(0, QByteArray(hostile) + '\0' + "5")), ACK);
        EXPECT_EQ(WaitDone(), xmBadFileName) << hostile;
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("evil.bin")));

    ASSERT_EQ(modem.ReadFileAsync(Path("in/x"), true), xmOK);
    ASSERT_TRUE(AwaitInvite());
    EXPECT_EQ(Offer(Frame(0, QByteArray("deep/folder/name.txt") + '\0' + "200 1234 644")), ACK);
    ASSERT_TRUE(AwaitInvite());
    EXPECT_EQ(Offer(Frame(1, QByteArray(128, 'a'))), ACK);
    EXPECT_EQ(Offer(Frame(2, QByteArray(128, 'b'))), ACK);
    EXPECT_EQ(Offer(QByteArray(1, EOT)), NAK);
    EXPECT_EQ(Offer(QByteArray(1, EOT)), ACK);
    EXPECT_EQ(WaitDone(), xmOK);
    EXPECT_EQ(ReadAll(Path("in/name.txt")), QByteArray(128, 'a') + QByteArray(72, 'b'));
    TLuProtocolStat stat;
    modem.GetStat(stat);
    EXPECT_EQ(stat.TotalSize, 200u);
    EXPECT_EQ(stat.TransferedSize, 200);
}

TEST_F(XModemBlocks, ExistingNamesGetACounterAndStartChecks) {
    WriteRandomFile(Path("name.ext"), 3, 1);
    for (const char *expected : {"name001.ext", "name002.ext"}) {
        ASSERT_EQ(modem.ReadFileAsync(Path("name.ext"), false), xmOK);
        ASSERT_TRUE(AwaitInvite());
        EXPECT_EQ(Offer(QByteArray(1, EOT)), NAK);
        EXPECT_EQ(Offer(QByteArray(1, EOT)), ACK);
        EXPECT_EQ(WaitDone(), xmEndOfText);
        EXPECT_EQ(modem.FileName(), Path(expected));
    }
    EXPECT_EQ(modem.SendFileAsync(Path("name.ext"), false), xmOK);
    EXPECT_EQ(modem.SendFileAsync(Path("name.ext"), false), xmThreadBusy);
    modem.Cancel();
    EXPECT_EQ(WaitDone(), xmUserCancel);

    TLuXYModem unassigned;
    EXPECT_EQ(unassigned.SendFile(Path("name.ext"), false), xmPortNotAssigned);
    com.Close();
    EXPECT_EQ(modem.ReadFile(Path("x"), false), xmPortNotOpened);
    EXPECT_EQ(modem.SendFile(Path("missing"), false), xmPortNotOpened);
}

// Plays an XModem receiver on the master side: invites, acknowledges every whole frame and the EOT
// (inviting again after a YModem header), and keeps what it heard. It ends at the EOT, at a CAN, or
// after two seconds of silence.
class TScriptedReceiver {
public:
    explicit TScriptedReceiver(const TPtyPair &line) : fline(line), fthread([this] { Run(); }) {}
    ~TScriptedReceiver() { Join(); }
    void Join() {
        if (fthread.joinable())
            fthread.join();
    }
    QByteArray Heard() {
        Join();
        return fheard;
    }

private:
    void Run() {
        fline.Send("C");
        for (int pos = 0;;) {
            const QByteArray got = fline.ReceiveSome(2000);
            if (got.isEmpty())
                return;
            fheard += got;
            while (pos < fheard.size()) {
                const char head = fheard[pos];
                const int length = head == SOH ? 133 : head == 2 ? 1029 : 1;
                if (pos + length > fheard.size())
                    break;
                const bool header = head == SOH && fheard[pos + 1] == 0;
                pos += length;
                if (head == CAN)
                    return;
                fline.Send(header ? QByteArray(1, ACK) + 'C' : QByteArray(1, ACK));
                if (head == EOT)
                    return;
            }
        }
    }

    const TPtyPair &fline;
    QByteArray fheard;
    std::thread fthread;
};

class XModemWorker : public XModemBlocks {
protected:
    // The status every OnChangeStatus saw, and whether each ran on the main thread.
    void RecordStatuses() {
        modem.OnChangeStatus = [this](TLuXYModem *sender) {
            fstatuses << sender->Status();
            fonMain = fonMain && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
    QList<int> fstatuses;
    bool fonMain = true;
};

TEST_F(XModemWorker, EveryStatusChangeIsReportedOnTheMainThread) {
    WriteRandomFile(Path("out.bin"), 200, 3);
    RecordStatuses();
    {
        TScriptedReceiver receiver(line);
        EXPECT_EQ(modem.SendFile(Path("out.bin"), false), xmOK);
    }
    EXPECT_EQ(fstatuses, QList<int>({lupsPrepare, lupsWaitRxR, lupsSendBlock, lupsSendEOT, lupsReady}));

    fstatuses.clear();
    {
        TScriptedReceiver receiver(line);
        EXPECT_EQ(modem.SendFile(Path("out.bin"), true), xmOK);
    }
    EXPECT_EQ(fstatuses, QList<int>({lupsPrepare, lupsWaitRxR, lupsSendHeader, lupsWaitRxR, lupsSendBlock,
                                     lupsSendEOT, lupsReady}));
    EXPECT_TRUE(fonMain);
}

// Whoever sees lupsReady, the status handler included, may start the next transfer at once.
TEST_F(XModemWorker, TheStatusHandlerCanStartTheNextTransferWhenReady) {
    WriteRandomFile(Path("out.bin"), 200, 3);
    int next = INT_MIN;
    int readies = 0;
    modem.OnChangeStatus = [&](TLuXYModem *sender) {
        if (sender->Status() == lupsReady && ++readies == 1)
            next = sender->SendFileAsync(Path("out.bin"), false);
    };
    const auto serveUntil = [](const std::function<bool()> &done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 10000)
            ServeNotificationsFor(20);
    };
    TScriptedReceiver receiver(line);
    ASSERT_EQ(modem.SendFileAsync(Path("out.bin"), false), xmOK);
    serveUntil([&] { return readies == 1; });
    EXPECT_EQ(next, xmOK);
    // The second transfer ends too before the handler, which refers to this test's variables, goes.
    modem.Cancel();
    serveUntil([&] { return readies == 2; });
    EXPECT_EQ(readies, 2);
    modem.OnChangeStatus = nullptr;
}

TEST_F(XModemWorker, AFileThatCannotBeReadToItsSizeFailsTheSend) {
    // Reading this process's memory at offset 0 fails: nothing is mapped there.
    line.Send("C");
    EXPECT_EQ(modem.SendFile(QStringLiteral("/proc/self/mem"), false), xmFileReadError);
    EXPECT_EQ(line.Receive(300), QByteArray(5, CAN));
    EXPECT_EQ(TLuXYModem::GetErrorText(modem.ErrorCode()), "Error of reading the file");

    // Cut short after its size was taken, as by another program writing it.
    WriteRandomFile(Path("shrinks.bin"), 1000, 4);
    modem.OnBeginSendFile = [&](TLuXYModem *) { QFile(Path("shrinks.bin")).resize(300); };
    TScriptedReceiver receiver(line);
    EXPECT_EQ(modem.SendFile(Path("shrinks.bin"), false), xmFileReadError);
    const QByteArray heard = receiver.Heard();
    ASSERT_TRUE(heard.endsWith(QByteArray(5, CAN)));
    EXPECT_EQ((heard.size() - 5) % 133, 0) << "whole blocks, then the cancel, and no EOT";
}

// Destroying a modem in the middle of a transfer with a peer that never answers: the worker is
// cancelled before it is joined instead of sitting out the 30 s deadlines.
class XModemTeardown : public XModemBlocks, public ::testing::WithParamInterface<int> {
protected:
    static constexpr int MaxTeardownMs = 2000;
};

TEST_P(XModemTeardown, EndsWithinSeconds) {
    WriteRandomFile(Path("out.bin"), 500, 5);
    auto busy = std::make_unique<TLuXYModem>();
    busy->SetComPort(&com);
    busy->SetFirstInviteDelay(0);
    const TLuProtocolStatus stage = TLuProtocolStatus(GetParam());
    if (stage == lupsSendBlock)
        line.Send("C"); // and nothing after: the block is never answered
    ASSERT_EQ(stage == lupsReadBlock ? busy->ReadFileAsync(Path("in.bin"), false)
                                     : busy->SendFileAsync(Path("out.bin"), false),
              xmOK);
    if (stage == lupsReadBlock) {
        ASSERT_TRUE(AwaitInvite());
        line.Send(QByteArray(1, SOH)); // a block that starts and then stops
    }
    QElapsedTimer t;
    t.start();
    while (busy->Status() != stage && t.elapsed() < 5000)
        QThread::msleep(5);
    ASSERT_EQ(busy->Status(), stage);
    t.restart();
    busy.reset();
    EXPECT_LT(t.elapsed(), MaxTeardownMs);
    // Only a block under way is called off on the line; a sender still waiting for "C" just stops.
    EXPECT_EQ(line.Receive(300).endsWith(QByteArray(5, CAN)), stage != lupsWaitRxR);
}

INSTANTIATE_TEST_SUITE_P(Stages, XModemTeardown, ::testing::Values(lupsWaitRxR, lupsSendBlock, lupsReadBlock));

TEST(XModemSettings, BlockSizeStatusAndErrorTexts) {
    TLuXYModem modem;
    modem.SetBlockSize(511);
    EXPECT_EQ(modem.BlockSize(), 128);
    modem.SetBlockSize(512);
    EXPECT_EQ(modem.BlockSize(), 1024);
    EXPECT_EQ(modem.Status(), lupsReady);
    EXPECT_EQ(modem.StatusText(), "Ready");
    EXPECT_EQ(TLuXYModem::StatusTextOf(137), "Unknow status: 9");
    EXPECT_EQ(TLuXYModem::GetErrorText(-8), "Cancel");
    EXPECT_EQ(TLuXYModem::GetErrorText(-30), "Unknow error: -30");
}
