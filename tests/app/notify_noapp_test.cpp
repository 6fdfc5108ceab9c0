// The notification channel in a process without an application object (a library user, a tool without
// an event loop): there is no main thread to wait for, so sends and calls run on the sender's thread
// instead of waiting for ever.
#include "notify.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

namespace {

class TCountingReceiver : public TNotifyReceiver {
public:
    void HandleNotification(quint32, int code, qint64, const QString &) override {
        codes.push_back(code);
        thread = QThread::currentThread();
        serving = ServingNotification();
    }
    std::vector<int> codes;
    QThread *thread = nullptr;
    bool serving = false;
};

} // namespace

TEST(NotifyWithoutApplication, SendsAndCallsRunOnTheSendersThread) {
    TCountingReceiver receiver;
    std::atomic<bool> sent{false}, called{false};
    QThread *worker = QThread::create([&] {
        sent = SendNotification(&receiver, 0xC020, 7, 0);
        called = CallOnMainThread([] {});
    });
    worker->start();
    ASSERT_TRUE(worker->wait(5000)) << "a send without an application object waited for ever";
    EXPECT_TRUE(sent);
    EXPECT_TRUE(called);
    EXPECT_EQ(receiver.codes, std::vector<int>{7});
    EXPECT_EQ(receiver.thread, worker);
    EXPECT_TRUE(receiver.serving);
    delete worker;
}
