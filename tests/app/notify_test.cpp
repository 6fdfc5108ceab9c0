#include "notify.h"

#include "app_test_util.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::unique_ptr<QThread> StartWorker(std::function<void()> body) {
    std::unique_ptr<QThread> worker(QThread::create(std::move(body)));
    worker->start();
    return worker;
}

} // namespace

TEST(Notify, AWorkersSendRunsOnTheMainThreadWhileTheWorkerWaits) {
    TRecordingReceiver receiver;
    std::atomic<bool> sendReturned{false};
    bool returnedDuringHandler = true;
    receiver.OnNotification = [&](const TNotification &) {
        QThread::msleep(100); // time enough for a sender that did not wait to get on
        returnedDuringHandler = sendReturned;
    };
    bool result = false;
    auto worker = StartWorker([&] {
        result = SendNotification(&receiver, 0xC010, -3, Q_INT64_C(0x123456789A),
                                  QStringLiteral("Привет\r\nline"));
        sendReturned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return sendReturned.load(); }, 5000));
    worker->wait();
    EXPECT_TRUE(result);
    EXPECT_FALSE(returnedDuringHandler);
    ASSERT_EQ(receiver.Calls.size(), 1u);
    const TNotification &call = receiver.Calls[0];
    EXPECT_TRUE(call.onMainThread);
    EXPECT_EQ(call.msg, 0xC010u);
    EXPECT_EQ(call.code, -3);
    EXPECT_EQ(call.value, Q_INT64_C(0x123456789A));
    EXPECT_EQ(call.text, "Привет\r\nline");
}

TEST(Notify, DestroyingAReceiverReleasesOnlyTheSendersWaitingForIt) {
    auto doomed = std::make_unique<TRecordingReceiver>();
    TRecordingReceiver kept;
    std::atomic<int> started{0};
    std::atomic<int> doomedResult{-1};
    std::atomic<int> keptResult{-1};
    const auto sendTo = [&](TNotifyReceiver *target, std::atomic<int> &result) {
        return StartWorker([&, target] {
            ++started;
            result = SendNotification(target, 0xC011, 1, 2);
        });
    };
    auto first = sendTo(doomed.get(), doomedResult);
    auto second = sendTo(&kept, keptResult);
    // No events are served meanwhile, so both sends stay queued.
    while (NotificationsWaiting() < 2)
        QThread::msleep(5);
    doomed.reset();
    ASSERT_TRUE(first->wait(2000));
    EXPECT_EQ(doomedResult, 0);
    EXPECT_FALSE(second->isFinished());
    ASSERT_TRUE(WaitUntil([&] { return second->isFinished(); }, 2000));
    EXPECT_EQ(keptResult, 1);
    EXPECT_EQ(kept.Calls.size(), 1u);
}

TEST(Notify, JoinServingServesTheSendsOfTheWorkerItWaitsFor) {
    TRecordingReceiver receiver;
    auto worker = StartWorker([&] {
        for (int code = 1; code <= 3; ++code)
            SendNotification(&receiver, 0xC012, code, 0);
    });
    JoinServing(worker.get()); // a plain wait would never return: nobody else serves the sends
    EXPECT_TRUE(worker->isFinished());
    ASSERT_EQ(receiver.Calls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(receiver.Calls[i].code, i + 1);
        EXPECT_TRUE(receiver.Calls[i].onMainThread);
    }
}

TEST(Notify, ASendOnTheMainThreadIsADirectCall) {
    TRecordingReceiver receiver;
    EXPECT_TRUE(SendNotification(&receiver, 0xC013, 9, 10, QStringLiteral("direct")));
    EXPECT_EQ(receiver.Calls.size(), 1u);
    EXPECT_FALSE(SendNotification(nullptr, 0xC013, 9, 10));
}

TEST(Notify, HandlersKnowTheyServeAndTheSenderWaits) {
    TRecordingReceiver receiver;
    bool servingInHandler = false;
    receiver.OnNotification = [&](const TNotification &) { servingInHandler = ServingNotification(); };
    EXPECT_FALSE(ServingNotification());
    auto worker = StartWorker([&] { SendNotification(&receiver, 0xC014, 1, 0); });
    JoinServing(worker.get());
    EXPECT_TRUE(servingInHandler);
    EXPECT_FALSE(ServingNotification());

    servingInHandler = false;
    SendNotification(&receiver, 0xC014, 2, 0); // the direct call on the main thread counts as well
    EXPECT_TRUE(servingInHandler);
}
