// TLuLogTail follows one growing text file like "tail -f": a thread keeps the file open, reads what is
// appended, collects the bytes in its queue and tells a receiver how many arrived (or -1 after an
// error) through a synchronous notification. The receiver empties Tail() inside its handler, while the
// follower waits, so the queue is never touched from two threads at once. The log window runs four.
#pragma once

#include "LuQueue.h"
#include "notify.h"

#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class TLuLogTail : public TWorkerThread {
public:
    // `startAt` is where the first open begins to read, for a receiver that has already shown the file
    // up to there; -1 (or a file now shorter than that) starts 256 bytes before the end, as every later
    // open does.
    explicit TLuLogTail(const QString &aFileName, qint64 startAt = -1);
    ~TLuLogTail() override;

    QString FileName() const;
    void SetFileName(const QString &name);
    QString ErrorMsg() const;
    TNotifyReceiver *NotifyWindow() const { return fnotify_window; }
    void SetNotifyWindow(TNotifyReceiver *w) { fnotify_window = w; }
    int Tag() const { return ftag; }
    void SetTag(int t) { ftag = t; }
    quint32 NotifyMsg() const;
    TLuQueue &Tail() { return *ftail; }
    int TailSize() const { return ftail->Size(); }
    void SetTailSize(int size);

protected:
    void Execute() override;

private:
    int PassReportingErrors();
    int Pass();
    bool OpenFile(const QString &name);
    void CloseFile();
    bool FileWasReplaced() const;
    void Notify(qint64 value);
    void Sleep(int ms);

    QString ffile_name;
    int ffile_handle = -1;
    QString ferror_msg;
    std::atomic<TNotifyReceiver *> fnotify_window{nullptr};
    std::unique_ptr<TLuQueue> ftail;
    std::atomic<int> ftag{0};
    qint64 fstart_at;

    // Guards the file name, the handle and the error text, and lets Destroy wake the sleeping thread.
    mutable std::mutex fLock;
    std::condition_variable fWake;
    bool fStop = false;
};
