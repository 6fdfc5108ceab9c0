// Helpers for the tests of the application frame: readable texts in failure messages, waiting on the
// main thread while it serves the notifications of worker threads, and a receiver that records what
// it is sent.
#pragma once

#include "notify.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

// Serves events (and so the workers' notifications) until `done` holds or `timeoutMs` has passed.
inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

inline void ServeFor(int ms) {
    WaitUntil([] { return false; }, ms);
}

struct TNotification {
    quint32 msg;
    int code;
    qint64 value;
    QString text;
    bool onMainThread;
    qint64 atMs; // since the receiver was created
};

// Records every notification; `OnNotification` then runs inside the handler, while the sender waits.
class TRecordingReceiver : public TNotifyReceiver {
public:
    TRecordingReceiver() { clock.start(); }

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override {
        const bool onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        Calls.push_back({msg, code, value, text, onMainThread, clock.elapsed()});
        if (OnNotification)
            OnNotification(Calls.back());
    }

    std::vector<TNotification> Calls;
    std::function<void(const TNotification &)> OnNotification;

private:
    QElapsedTimer clock;
};
