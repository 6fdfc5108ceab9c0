#include "LuLogTail.h"

#include "common.h"
#include "notify.h"

#include "LuPlatform.h"

#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int DefaultTailSize = 131072;
constexpr int ReadChunk = 1024;
constexpr qint64 StartBack = 256;
// Pause before the next pass: data waiting, end of file reached, nothing to do or an error.
constexpr int DelayData = 100;
constexpr int DelayEof = 500;
constexpr int DelayIdle = 1000;

// A file cut back below the point already read; false when the name leads nowhere.
bool ShorterThan(const QString &fileName, qint64 position) {
    const QFileInfo info(fileName);
    return info.exists() && info.size() < position;
}

} // namespace

TLuLogTail::TLuLogTail(const QString &aFileName, qint64 startAt)
    : ffile_name(aFileName), ftail(std::make_unique<TLuQueue>(DefaultTailSize)), fstart_at(startAt) {
    start();
}

TLuLogTail::~TLuLogTail() {
    {
        std::unique_lock guard(fLock);
        fStop = true;
        fWake.notify_all();
    }
    JoinServing(this);
    CloseFile();
}

QString TLuLogTail::FileName() const {
    std::unique_lock guard(fLock);
    return ffile_name;
}

void TLuLogTail::SetFileName(const QString &name) {
    std::unique_lock guard(fLock);
    CloseFile();
    ffile_name = name;
}

QString TLuLogTail::ErrorMsg() const {
    std::unique_lock guard(fLock);
    return ferror_msg;
}

quint32 TLuLogTail::NotifyMsg() const {
    return LogTailNotifyMessage;
}

// Under the lock the follower holds while it fills the queue; the receiver's handler, the only other
// user, runs while the follower waits outside it.
void TLuLogTail::SetTailSize(int size) {
    std::unique_lock guard(fLock);
    if (size != ftail->Size())
        ftail = std::make_unique<TLuQueue>(size);
}

void TLuLogTail::Sleep(int ms) {
    std::unique_lock guard(fLock);
    if (!fStop)
        fWake.wait_for(guard, std::chrono::milliseconds(ms));
}

void TLuLogTail::Execute() {
    int delay = DelayData;
    for (;;) {
        Sleep(delay);
        {
            std::unique_lock guard(fLock);
            if (fStop)
                return;
        }
        delay = PassReportingErrors();
    }
}

// An error raised while the file is opened or read ends this pass, not the follower.
int TLuLogTail::PassReportingErrors() {
    try {
        return Pass();
    } catch (const std::exception &e) {
        {
            std::unique_lock guard(fLock);
            ferror_msg = QStringLiteral("TLuLogTail: ") + QString::fromUtf8(e.what());
            CloseFile();
        }
        Notify(-1);
        return DelayIdle;
    }
}

// One look at the file; returns the pause before the next look.
int TLuLogTail::Pass() {
    std::unique_lock guard(fLock);
    if (ffile_name.isEmpty())
        return DelayIdle;
    if (ffile_handle < 0 && !OpenFile(ffile_name)) {
        guard.unlock();
        Notify(-1);
        return DelayIdle;
    }
    if (ftail->Space() < ReadChunk)
        return DelayIdle;
    char buffer[ReadChunk];
    const ssize_t n = ::read(ffile_handle, buffer, ReadChunk);
    if (n < 0) {
        ferror_msg = QStringLiteral("TLuLogTail.Read: error ") + QString::number(errno);
        CloseFile();
        guard.unlock();
        Notify(-1);
        return DelayIdle;
    }
    if (n == 0) {
        // The serial traffic log is cut back by writing a new file in its place; the old one would
        // never grow again, so a replaced or shortened file is opened afresh on the next pass.
        if (FileWasReplaced())
            CloseFile();
        return DelayEof;
    }
    ftail->PutBuf(buffer, int(n));
    guard.unlock();
    Notify(n);
    return DelayData;
}

bool TLuLogTail::OpenFile(const QString &name) {
    ffile_handle = OpenSharedForReading(name);
    if (ffile_handle < 0) {
        ferror_msg = QStringLiteral("TLuLogTail.Open: error ") + QString::number(LastSystemError());
        return false;
    }
    const off_t size = ::lseek(ffile_handle, 0, SEEK_END);
    const bool resume = fstart_at >= 0 && fstart_at <= size;
    ::lseek(ffile_handle, resume ? fstart_at : size > StartBack ? size - StartBack : 0, SEEK_SET);
    fstart_at = -1;
    return true;
}

bool TLuLogTail::FileWasReplaced() const {
    return NameLeadsElsewhere(ffile_handle, ffile_name) ||
           ShorterThan(ffile_name, ::lseek(ffile_handle, 0, SEEK_CUR));
}

void TLuLogTail::CloseFile() {
    if (ffile_handle >= 0)
        ::close(ffile_handle);
    ffile_handle = -1;
}

void TLuLogTail::Notify(qint64 value) {
    TNotifyReceiver *target = fnotify_window.load();
    if (target && NotifyMsg() != 0)
        SendNotification(target, NotifyMsg(), quint16(ftag.load()), value);
}
