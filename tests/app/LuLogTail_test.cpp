#include "LuFiles.h"
#include "LuLogTail.h"

#include "app_test_util.h"
#include "common.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

QByteArray Bytes(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed) % 251);
    return bytes;
}

QByteArray Take(TLuQueue &queue) {
    QByteArray bytes(queue.Count(), '\0');
    queue.GetBuf(bytes.data(), int(bytes.size()));
    return bytes;
}

// Empties the queue from the main thread between two passes of the follower. While the queue is full
// the follower only looks at its free space, under its lock, once a second; asking for the file name
// before and after takes that lock and so orders the emptying between two such looks.
QByteArray TakeBetweenPasses(TLuLogTail &follower) {
    follower.FileName();
    const QByteArray bytes = Take(follower.Tail());
    follower.FileName();
    return bytes;
}

class LuLogTail : public ::testing::Test {
protected:
    void SetUp() override {
        LogTailNotifyMessage = RegisterMessageName(QStringLiteral("TLuLogTailNotifyMessage"));
    }

    QString Path(const QString &name) const { return dir.filePath(name); }

    void Append(const QString &name, const QByteArray &bytes) const {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(bytes);
    }

    std::unique_ptr<TLuLogTail> Follow(const QString &name, int tag = 1) {
        auto follower = std::make_unique<TLuLogTail>(Path(name));
        follower->SetNotifyWindow(&receiver);
        follower->SetTag(tag);
        return follower;
    }

    // The receiver takes the new bytes inside its handler, as the log window does.
    void TakeInto(QByteArray &received, TLuLogTail &follower) {
        receiver.OnNotification = [&](const TNotification &n) {
            if (n.value > 0)
                received += Take(follower.Tail());
        };
    }

    QTemporaryDir dir;
    TRecordingReceiver receiver;
};

} // namespace

TEST_F(LuLogTail, AMissingFileIsReportedEverySecondAndReadFromItsStartOnceWritten) {
    QByteArray received;
    auto follower = Follow("later.log", 0x1FFFF);
    TakeInto(received, *follower);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Calls.size() == 2; }, 3000));
    EXPECT_EQ(follower->ErrorMsg(), "TLuLogTail.Open: error 2");
    const TNotification &first = receiver.Calls[0];
    EXPECT_EQ(first.msg, LogTailNotifyMessage);
    EXPECT_EQ(first.code, 0xFFFF);
    EXPECT_EQ(first.value, -1);
    // The first look comes soon after the start, the next a whole pause later (a busy machine may
    // only make the pause longer).
    EXPECT_LT(first.atMs, 2000);
    EXPECT_GE(receiver.Calls[1].atMs - first.atMs, 900);

    Append("later.log", "first line\r\nsecond");
    ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }, 2000));
    EXPECT_EQ(received, "first line\r\nsecond");
    EXPECT_EQ(receiver.Calls.back().value, 18);
}

TEST_F(LuLogTail, AnExistingFileStartsWithItsLast256BytesThenFollowsAppendsInChunks) {
    const QByteArray old = Bytes(1000, 1);
    const QByteArray added = Bytes(3000, 2);
    Append("log", old);
    QByteArray received;
    auto follower = Follow("log");
    TakeInto(received, *follower);
    ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }, 2000));
    EXPECT_EQ(received, old.right(256));

    Append("log", added);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 256 + added.size(); }, 3000));
    EXPECT_EQ(received, old.right(256) + added);
    EXPECT_GE(receiver.Calls.size(), 4u);
    for (const TNotification &n : receiver.Calls)
        EXPECT_LE(n.value, 1024);
}

// The log window shows the file's last bytes itself and lets its follower go on from there.
TEST_F(LuLogTail, AFollowerStartedWhereAReaderStoppedDeliversOnlyWhatCameAfter) {
    const QByteArray old = QByteArray("0123456789abcde\n").repeated(125);
    Append("log", old);
    qint64 end = 0;
    EXPECT_EQ(ReadTextFile(Path("log"), -1024, &end), QString::fromLatin1(old.right(1024)));
    EXPECT_EQ(end, old.size());
    Append("log", "appended meanwhile\r\n");

    QByteArray received;
    auto follower = std::make_unique<TLuLogTail>(Path("log"), end);
    follower->SetNotifyWindow(&receiver);
    TakeInto(received, *follower);
    ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }, 2000));
    EXPECT_EQ(received, "appended meanwhile\r\n");
    EXPECT_EQ(ReadTextFile(Path("missing"), -1024, &end), "");
    EXPECT_EQ(end, -1);
}

// A start beyond the end belongs to an older file of that name: the new one starts as usual.
TEST_F(LuLogTail, AStartBeyondTheEndOfTheFileFallsBackToItsLast256Bytes) {
    const QByteArray bytes = Bytes(600, 7);
    Append("log", bytes);
    QByteArray received;
    auto follower = std::make_unique<TLuLogTail>(Path("log"), 5000);
    follower->SetNotifyWindow(&receiver);
    TakeInto(received, *follower);
    ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }, 2000));
    EXPECT_EQ(received, bytes.right(256));
}

TEST_F(LuLogTail, AFileCutBackByTrimFileHeadIsFollowedFurther) {
    Append("com.log", QByteArray("old traffic line\r\n").repeated(2000));
    QByteArray received;
    auto follower = Follow("com.log");
    TakeInto(received, *follower);
    ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }, 2000));
    ASSERT_TRUE(TrimFileHead(Path("com.log"), 1000));
    received.clear();
    Append("com.log", "new line");
    ASSERT_TRUE(WaitUntil([&] { return received.contains("new line"); }, 3000));
}

TEST_F(LuLogTail, AFullQueueStopsTheReadingUntilItIsEmptied) {
    const QByteArray start = Bytes(100, 3);
    const QByteArray added = Bytes(10000, 4);
    Append("log", start);
    auto follower = Follow("log");
    follower->SetTailSize(4096);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Calls.size() == 1; }, 2000));
    Append("log", added);

    // 100 + 3 * 1024 bytes leave less than 1024 free.
    ASSERT_TRUE(WaitUntil([&] { return receiver.Calls.size() == 4; }, 3000));
    ServeFor(1500);
    EXPECT_EQ(receiver.Calls.size(), 4u);
    EXPECT_EQ(TakeBetweenPasses(*follower), start + added.left(3 * 1024));

    ASSERT_TRUE(WaitUntil([&] { return receiver.Calls.size() == 8; }, 3000));
    EXPECT_EQ(TakeBetweenPasses(*follower), added.mid(3 * 1024, 4 * 1024));
}

TEST_F(LuLogTail, ResizingTheTailWhileTheFollowerReadsLosesNothingAfterIt) {
    Append("busy.log", Bytes(256, 5));
    QByteArray received;
    auto follower = Follow("busy.log");
    TakeInto(received, *follower);
    // The follower reads and fills its queue on its own thread while the size changes under it.
    for (int i = 0; i < 40; ++i) {
        Append("busy.log", Bytes(700, i));
        follower->SetTailSize(i % 2 ? 4096 : 8192);
        ServeFor(20);
    }
    received.clear();
    const QByteArray last = Bytes(3000, 99);
    Append("busy.log", last);
    ASSERT_TRUE(WaitUntil([&] { return received.endsWith(last); }, 5000));
}

TEST_F(LuLogTail, DestroyReturnsAtOnceWhileTheFollowerSleeps) {
    auto follower = Follow("missing.log");
    ASSERT_TRUE(WaitUntil([&] { return !receiver.Calls.empty(); }, 2000));
    ServeFor(300); // inside the one-second pause after a failed open
    QElapsedTimer clock;
    clock.start();
    follower.reset();
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(LuLogTail, DestroyingFollowersWhileTheyNotifyABusyReceiverReturnsSoon) {
    const auto name = [](int i) { return QStringLiteral("log%1").arg(i); };
    std::vector<std::unique_ptr<TLuLogTail>> followers;
    for (int i = 0; i < 4; ++i) {
        Append(name(i), "");
        followers.push_back(Follow(name(i), i));
    }
    receiver.OnNotification = [](const TNotification &) { QThread::msleep(100); };
    ServeFor(200); // every follower has opened its empty file
    // More than the busy receiver can take during the test: the followers never run out of data.
    for (int i = 0; i < 4; ++i)
        Append(name(i), Bytes(64 * 1024, i));
    // Nothing is served meanwhile: every follower comes to wait in its first notification.
    while (NotificationsWaiting() < 4)
        QThread::msleep(5);

    QElapsedTimer clock;
    clock.start();
    followers.clear();
    EXPECT_LT(clock.elapsed(), 3000); // about one round of the busy handler per follower
    EXPECT_GE(receiver.Calls.size(), 4u);
}
