#include "notify.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

struct TRequest {
    TNotifyReceiver *target; // released with its receiver; none for a plain call
    std::function<void()> call;
    bool finished = false;
    bool handled = false;
};

// One queue for the whole process: every send from a worker waits here until the main thread has run
// it, or until its receiver is destroyed.
class TChannel {
public:
    bool SendFromWorker(TRequest &request);
    void Serve();
    void Release(TNotifyReceiver *target);
    void WaitForWork(int timeoutMs);
    int Waiting();

private:
    void WakeMainThread();

    // Standard primitives rather than Qt's: the thread sanitizer sees every wait on them.
    std::mutex lock;
    std::condition_variable changed;
    std::deque<TRequest *> pending;
};

TChannel &Channel() {
    static TChannel channel;
    return channel;
}

bool OnMainThread() {
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// A call can run directly when this is the main thread or when there is no main thread to wait for.
bool RunsDirectly() {
    return !QCoreApplication::instance() || OnMainThread();
}

thread_local int servingDepth = 0;

// Runs a handler with ServingNotification() true for the thread that runs it.
void RunServing(const std::function<void()> &call) {
    ++servingDepth;
    call();
    --servingDepth;
}

void TChannel::WakeMainThread() {
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { ServePendingNotifications(); }, Qt::QueuedConnection);
}

bool TChannel::SendFromWorker(TRequest &request) {
    std::unique_lock guard(lock);
    pending.push_back(&request);
    changed.notify_all();
    WakeMainThread();
    changed.wait(guard, [&request] { return request.finished; });
    return request.handled;
}

// Serves the sends waiting on entry, not those that arrive meanwhile: senders that keep sending to a
// busy receiver would otherwise hold the main thread here for good, its event loop as well as
// JoinServing waiting for a thread that has long ended. Every send posts its own wake-up.
void TChannel::Serve() {
    std::unique_lock guard(lock);
    for (size_t waiting = pending.size(); waiting > 0 && !pending.empty(); --waiting) {
        TRequest *request = pending.front();
        pending.pop_front();
        guard.unlock();
        RunServing(request->call);
        guard.lock();
        request->handled = true;
        request->finished = true;
        changed.notify_all();
    }
}

void TChannel::WaitForWork(int timeoutMs) {
    std::unique_lock guard(lock);
    if (pending.empty())
        changed.wait_for(guard, std::chrono::milliseconds(timeoutMs));
}

int TChannel::Waiting() {
    std::lock_guard guard(lock);
    return int(pending.size());
}

void TChannel::Release(TNotifyReceiver *target) {
    std::lock_guard guard(lock);
    for (auto it = pending.begin(); it != pending.end();) {
        if (target && (*it)->target == target) {
            (*it)->finished = true;
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
    changed.notify_all();
}

} // namespace

TNotifyReceiver::TNotifyReceiver(QObject *parent) : QObject(parent) {}

TNotifyReceiver::~TNotifyReceiver() {
    Channel().Release(this);
}

quint32 RegisterMessageName(const QString &name) {
    // Registered identifiers start where a window system's own message numbers end.
    static QMutex namesLock;
    static QHash<QString, quint32> names;
    QMutexLocker guard(&namesLock);
    auto it = names.constFind(name);
    if (it != names.constEnd())
        return *it;
    const quint32 id = 0xC000 + quint32(names.size());
    names.insert(name, id);
    return id;
}

int NotificationsWaiting() {
    return Channel().Waiting();
}

bool ServingNotification() {
    return servingDepth > 0;
}

namespace {

// The one way a send or a call reaches the main thread, or runs at once where it can.
bool Deliver(TNotifyReceiver *target, const std::function<void()> &call) {
    if (RunsDirectly()) {
        RunServing(call);
        return true;
    }
    TRequest request{target, call};
    return Channel().SendFromWorker(request);
}

} // namespace

bool SendNotification(TNotifyReceiver *target, quint32 msg, int code, qint64 value, const QString &text) {
    if (!target)
        return false;
    return Deliver(target, [&] { target->HandleNotification(msg, code, value, text); });
}

bool SendNotification(TNotifyReceiver *target, quint32 msg, int code, qint64 value, const QString &text,
                      const std::any &detail) {
    if (!target)
        return false;
    return Deliver(target, [&] { target->HandleDetailed(msg, code, value, text, detail); });
}

bool CallOnMainThread(const std::function<void()> &call) {
    return Deliver(nullptr, call);
}

void ServeNotificationsFor(int timeoutMs) {
    if (!OnMainThread()) {
        QThread::msleep(timeoutMs);
        return;
    }
    Channel().Serve();
    Channel().WaitForWork(timeoutMs);
    Channel().Serve();
}

void ServePendingNotifications() {
    if (OnMainThread())
        Channel().Serve();
}

void JoinServing(QThread *thread) {
    if (!thread)
        return;
    if (OnMainThread()) {
        while (!thread->wait(10))
            Channel().Serve();
        Channel().Serve();
    } else {
        thread->wait();
    }
    if (const auto *worker = dynamic_cast<const TWorkerThread *>(thread))
        (void)worker->Ended();
}
