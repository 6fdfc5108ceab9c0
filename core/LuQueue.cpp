#include "LuQueue.h"

#include "LuUtils.h"

#include <QByteArray>

namespace {

const char *const QueueFull = "TLuQueueError. Queue is full.";
const char *const QueueEmpty = "TLuQueueError. Queue is empty.";
const char *const BadIndex = "TLuQueueError. Invalid item index.";

int Slot(int head, int qSize, int count, int index) {
    if (index < 0 || index >= count)
        throw ELuQueueError(BadIndex);
    const int slot = head + index;
    return slot >= qSize ? slot - qSize : slot;
}

} // namespace

TLuQueue::TLuQueue(int qSize) : FBuffer(new unsigned char[qMax(qSize, 0) + 1]), FQSize(qMax(qSize, 0) + 1) {}

TLuQueue::~TLuQueue() {
    delete[] FBuffer;
}

void TLuQueue::Clear() {
    FHead = 0;
    FTail = 0;
}

int TLuQueue::Count() const {
    const int held = FTail - FHead;
    return held < 0 ? held + FQSize : held;
}

int TLuQueue::Space() const {
    return FQSize - Count() - 1;
}

// The index moves only after the byte is in place, so a reader on another thread never sees a slot
// counted that is not yet written.
bool TLuQueue::Put(unsigned char b) {
    if (Space() <= 0)
        throw ELuQueueError(QueueFull);
    FBuffer[FTail] = b;
    FTail = FTail + 1 == FQSize ? 0 : FTail + 1;
    return true;
}

int TLuQueue::PutBuf(const void *Buf, int BufSize) {
    const auto *bytes = static_cast<const unsigned char *>(Buf);
    int put = 0;
    for (; put < BufSize; ++put)
        Put(bytes[put]);
    return put;
}

int TLuQueue::PutText(const QString &Text) {
    const QByteArray bytes = ToAnsiText(Text);
    return PutBuf(bytes.constData(), int(bytes.size()));
}

unsigned char TLuQueue::Get() {
    if (Count() == 0)
        throw ELuQueueError(QueueEmpty);
    const unsigned char b = FBuffer[FHead];
    FHead = FHead + 1 == FQSize ? 0 : FHead + 1;
    return b;
}

int TLuQueue::GetBuf(void *Buf, int BufSize) {
    auto *bytes = static_cast<unsigned char *>(Buf);
    int taken = 0;
    for (; taken < BufSize && Count() > 0; ++taken) {
        const unsigned char b = Get();
        if (bytes)
            bytes[taken] = b;
    }
    return taken;
}

QString TLuQueue::GetText() {
    QByteArray bytes(Count(), Qt::Uninitialized);
    GetBuf(bytes.data(), int(bytes.size()));
    return FromAnsiText(bytes);
}

unsigned char TLuQueue::GetItem(int Index) const {
    return FBuffer[Slot(FHead, FQSize, Count(), Index)];
}

void TLuQueue::PutItem(int Index, unsigned char b) {
    FBuffer[Slot(FHead, FQSize, Count(), Index)] = b;
}
