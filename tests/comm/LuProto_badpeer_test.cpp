// Peers that never behave: garbage for ever, silence in the middle of a block, the same block for ever.
// Every transfer must end with a failure code within the 30 s deadlines, and a receiver must never
// report as received a file it has only in part.
#include "xmodem_frame.h"
#include "xmodem_fixture.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <atomic>
#include <functional>
#include <thread>

namespace {

constexpr char ACK = 6, NAK = 21, CAN = 24;
constexpr int DeadlineMs = 30000;
constexpr int SlackMs = 5000;

// A peer played on the master side of a pty by a thread of its own, until the test ends.
class TBadPeer {
public:
    TBadPeer(const TPtyPair &line, std::function<void(const TPtyPair &, const std::atomic<bool> &)> play)
        : fthread([&line, play, this] { play(line, fstop); }) {}
    ~TBadPeer() {
        fstop = true;
        fthread.join();
    }

private:
    std::atomic<bool> fstop{false};
    std::thread fthread;
};

// Random bytes without pause, from a fixed seed; `avoid` are left out.
void Garbage(const TPtyPair &line, const std::atomic<bool> &stop, const QByteArray &avoid) {
    QRandomGenerator rng(4242);
    while (!stop) {
        QByteArray chunk;
        while (chunk.size() < 64) {
            const char b = char(rng.bounded(256));
            if (!avoid.contains(b))
                chunk += b;
        }
        line.Send(chunk);
        QThread::msleep(5);
    }
}

bool AwaitByte(const TPtyPair &line, char wanted, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        if (line.ReceiveSome(int(ms - t.elapsed())).contains(wanted))
            return true;
    return false;
}

class XModemBadPeer : public XModemTest {
protected:
    int WaitDone(int ms) {
        QElapsedTimer t;
        t.start();
        while (modem.Status() != lupsReady && t.elapsed() < ms)
            QThread::msleep(20);
        EXPECT_EQ(modem.Status(), lupsReady) << "still busy after " << ms << " ms";
        return modem.ErrorCode();
    }
    QByteArray Received() { return ReadAll(Path("in.bin")); }
};

} // namespace

TEST_F(XModemBadPeer, GarbageForEverEndsEitherSide) {
    {
        // Every byte value, so also stray headers, EOTs and CANs among the rest.
        ASSERT_EQ(modem.ReadFileAsync(Path("in.bin"), false), xmOK);
        TBadPeer peer(line, [](const TPtyPair &l, const std::atomic<bool> &stop) { Garbage(l, stop, {}); });
        const int result = WaitDone(DeadlineMs + SlackMs);
        EXPECT_LT(result, 0);
        EXPECT_NE(result, xmEndOfText);
        EXPECT_NE(result, xmEndOfFile);
        EXPECT_TRUE(Received().isEmpty());
    }
    com.Flush();
    {
        // After the invitation, nothing a sender could take for an answer.
        WriteRandomFile(Path("out.bin"), 1000, 6);
        TBadPeer peer(line, [](const TPtyPair &l, const std::atomic<bool> &stop) {
            l.Send("C");
            Garbage(l, stop, QByteArray("C") + ACK + NAK + CAN);
        });
        EXPECT_EQ(modem.SendFileAsync(Path("out.bin"), false), xmOK);
        EXPECT_EQ(WaitDone(DeadlineMs + SlackMs), xmOutOfRetries);
    }
}

TEST_F(XModemBadPeer, SilenceInTheMiddleOfABlockTimesOut) {
    const QByteArray second = XModemFrame(2, QByteArray(128, 'b'), 128);
    TBadPeer peer(line, [&second](const TPtyPair &l, const std::atomic<bool> &) {
        if (!AwaitByte(l, 'C', 3000))
            return;
        l.Send(XModemFrame(1, QByteArray(128, 'a'), 128));
        if (AwaitByte(l, ACK, 3000))
            l.Send(second.left(60));
    });
    ASSERT_EQ(modem.ReadFileAsync(Path("in.bin"), false), xmOK);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(WaitDone(DeadlineMs + SlackMs), xmTimeout);
    EXPECT_GE(t.elapsed(), DeadlineMs - 1000);
    // The first block was written, but the reception is not reported as complete.
    EXPECT_EQ(Received(), QByteArray(128, 'a'));
}

TEST_F(XModemBadPeer, AReceiverThatFallsSilentTimesOutTheSender) {
    WriteRandomFile(Path("out.bin"), 300, 7);
    line.Send("C");
    ASSERT_EQ(modem.SendFileAsync(Path("out.bin"), false), xmOK);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(WaitDone(DeadlineMs + SlackMs), xmTimeout);
    EXPECT_GE(t.elapsed(), DeadlineMs - 1000);
    // It asked again meanwhile: the first block went out more than once.
    EXPECT_GT(line.Receive(200).count(XModemFrame(1, ReadAll(Path("out.bin")).left(128), 128)), 1);
}

TEST_F(XModemBadPeer, TheSameBlockForEverIsRefused) {
    const QByteArray first = XModemFrame(1, QByteArray(128, 'a'), 128);
    TBadPeer peer(line, [&first](const TPtyPair &l, const std::atomic<bool> &stop) {
        if (!AwaitByte(l, 'C', 3000))
            return;
        while (!stop) {
            l.Send(first);
            if (l.ReceiveSome(1000).contains(CAN))
                return;
        }
    });
    ASSERT_EQ(modem.ReadFileAsync(Path("in.bin"), false), xmOK);
    EXPECT_EQ(WaitDone(DeadlineMs), xmOutOfRetries);
    EXPECT_EQ(Received(), QByteArray(128, 'a'));
}
