// Notifications from worker threads to the windows. A worker sends a message (an identifier, a code
// and a value or a text) to a receiver that lives on the main thread and waits until the receiver's
// handler has returned, so the handler may read the sender's state without locks and a dialog opened
// by the handler holds the sender. A send from the main thread is a direct call.
//
// The lifetime rule every owner keeps: a receiver of notifications must outlive, or first stop, every
// thread that can notify it. Members are destroyed in reverse order of declaration, so a thread member
// is declared after everything it uses, and an owner that is itself the receiver stops its threads in
// its own destructor, while the handler and what it uses are still whole.
//
// Teardown: a worker may be blocked in a send while the main thread waits for it to end. The main
// thread therefore waits through JoinServing, which serves such sends, and a receiver that goes away
// releases every sender still waiting for it (their send returns false).
//
// Without an application object (a library user, a test without one) there is no main thread to wait
// for: sends and calls run directly on the calling thread.
#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <any>
#include <atomic>
#include <functional>
#include <utility>

class TNotifyReceiver : public QObject {
    Q_OBJECT
public:
    explicit TNotifyReceiver(QObject *parent = nullptr);
    ~TNotifyReceiver() override;

    // Runs on the main thread while the sender waits.
    virtual void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) = 0;
    // A notification that carries a typed detail (the engine's command result); a receiver that does
    // not look for one handles the plain notification.
    virtual void HandleDetailed(quint32 msg, int code, qint64 value, const QString &text, const std::any &detail) {
        (void)detail;
        HandleNotification(msg, code, value, text);
    }
};

// A receiver that hands every notification to a function: for an owner that is already another kind
// of QObject (a widget) and so cannot be a receiver itself. The owner declares it before the threads
// that notify it and stops them in its own destructor.
class TNotifyForwarder : public TNotifyReceiver {
public:
    using THandler = std::function<void(quint32 msg, int code, qint64 value, const QString &text)>;
    explicit TNotifyForwarder(THandler handler) : fhandler(std::move(handler)) {}
    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override {
        fhandler(msg, code, value, text);
    }

private:
    THandler fhandler;
};

// A process-wide identifier for a message name; the same name always gives the same identifier.
quint32 RegisterMessageName(const QString &name);

// Sends synchronously; false when there is no receiver or it went away before handling the message.
bool SendNotification(TNotifyReceiver *target, quint32 msg, int code, qint64 value,
                      const QString &text = QString());
bool SendNotification(TNotifyReceiver *target, quint32 msg, int code, qint64 value, const QString &text,
                      const std::any &detail);

// Runs `call` on the main thread while the calling thread waits (directly when already there, or
// when the process has no application object).
bool CallOnMainThread(const std::function<void()> &call);

// True on a thread that is running a notification handler or a call of CallOnMainThread: the sender
// is then waiting, so its published fields can be read without locks.
bool ServingNotification();

// How many sends from workers wait to be served now: lets a test wait for the moment it means.
int NotificationsWaiting();

// Runs the sends that are waiting for receivers on this (the main) thread.
void ServePendingNotifications();

// Waits up to timeoutMs for sends to the main thread and serves them (a plain sleep elsewhere): for a
// main thread that blocks on a worker without running its event loop.
void ServeNotificationsFor(int timeoutMs);

// A worker thread whose whole work is visible to the thread that joined it: QThread's own join goes
// through primitives the thread sanitizer cannot see, so the end of Execute is published here.
class TWorkerThread : public QThread {
public:
    bool Ended() const { return fEnded.load(std::memory_order_acquire); }

protected:
    virtual void Execute() = 0;
    void run() final {
        Execute();
        fEnded.store(true, std::memory_order_release);
    }

private:
    std::atomic<bool> fEnded{false};
};

// Waits for a worker thread to finish; on the main thread it keeps serving the worker's sends meanwhile.
void JoinServing(QThread *thread);
