// Fixed-capacity FIFO of bytes in a ring buffer. The serial port keeps its unwritten traffic-log bytes
// in one; the log follower hands the bytes of a growing file to the windows through one. One slot stays
// free so that FHead == FTail means empty. No lock: one producer moves only FTail, one consumer only
// FHead, each after touching the byte.
#pragma once

#include <QString>
#include <stdexcept>

class ELuQueueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TLuQueue {
public:
    explicit TLuQueue(int qSize);
    ~TLuQueue();
    TLuQueue(const TLuQueue &) = delete;
    TLuQueue &operator=(const TLuQueue &) = delete;

    void Clear();
    bool Put(unsigned char b);
    int PutBuf(const void *Buf, int BufSize);
    int PutText(const QString &Text);
    unsigned char Get();
    int GetBuf(void *Buf, int BufSize);
    QString GetText();
    unsigned char GetItem(int Index) const;
    void PutItem(int Index, unsigned char b);

    int Count() const;
    int Space() const;
    int Size() const { return FQSize - 1; }

private:
    unsigned char *FBuffer;
    int FQSize;
    int FHead = 0;
    int FTail = 0;
};
