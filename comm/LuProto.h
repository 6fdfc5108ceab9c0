// TLuXYModem: XModem-CRC and YModem transfers over a TLuPCom port. The block level (WaitRxR, SendBlock,
// ReadBlock, SendRxR, SendChar, ReadChar) runs on the caller's thread; the firmware upload uses it
// directly. The file level runs on a worker thread of its own (one file by XModem or YModem, or a
// YModem batch), synchronously or not, with a status, a result code and statistics that other
// threads may read during the transfer. Only the 16-bit CRC mode is spoken.
#pragma once

#include "LuPCom.h"
#include "notify.h"
#include "LuXYFrame.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

struct TLuProtocolStat {
    quint32 BlockNumber = 0;
    quint32 TotalSize = 0;
    qint32 TransferedSize = 0;
    qint32 AverageSpeed = 0;
    qint32 ErrorCount = 0;
};

enum TLuProtocolStatus : quint8 {
    lupsReady,
    lupsPrepare,
    lupsWaitRxR,
    lupsSendHeader,
    lupsSendBlock,
    lupsSendEOT,
    lupsSendRxR,
    lupsReadHeader,
    lupsReadBlock,
};

enum TLuProtocolAction : quint8 {
    lupaXmSendFile,
    lupaXmReadFile,
    lupaYmSendFile,
    lupaYmReadFile,
    lupaYmSendFiles,
    lupaYmReadFiles,
};

class TLuXYModem;
using TLuProtocolEvent = std::function<void(TLuXYModem *sender)>;

class TLuXYModemThread;
class QFile;

class TLuXYModem {
public:
    TLuXYModem();
    ~TLuXYModem();
    TLuXYModem(const TLuXYModem &) = delete;
    TLuXYModem &operator=(const TLuXYModem &) = delete;

    TLuPCom *ComPort() const { return FComPort; }
    void SetComPort(TLuPCom *port) { FComPort = port; }
    int BlockSize() const;
    void SetBlockSize(int size);
    int MaxRetries() const { return FMaxRetries; }
    void SetMaxRetries(int n) { FMaxRetries = n; }
    // How long a receiver waits before its first "C": a sender that starts on its own gets the line
    // first. The bench and the command line may shorten it.
    int FirstInviteDelay() const { return FFirstInviteDelay; }
    void SetFirstInviteDelay(int ms) { FFirstInviteDelay = ms; }
    void Cancel();
    void Reset();

    TLuProtocolStatus Status() const;
    QString StatusText() const;
    int ErrorCode() const;
    QString FileName() const;
    bool GetStat(TLuProtocolStat &s) const;
    static QString GetErrorText(int xmErrCode);
    static QString StatusTextOf(int status);

    int SendBlock(int bNum, const void *bData, int dLen, int &errCount);
    int ReadBlock(int &bNum, void *bData, int max_dLen, int &errCount);
    int WaitRxR(int Timeout);
    int SendRxR(int Timeout);
    int SendChar(char Ch);
    int ReadChar(char Ch);

    int SendFileAsync(const QString &fName, bool UseYModem);
    int SendFilesAsync(const QStringList &fList);
    int ReadFileAsync(const QString &fName, bool UseYModem);
    int ReadFilesAsync(const QString &fPath);
    int SendFile(const QString &fName, bool UseYModem);
    int SendFiles(const QStringList &fList);
    int ReadFile(const QString &fName, bool UseYModem);
    int ReadFiles(const QString &fPath);

    TLuProtocolEvent OnChangeStatus, OnBeginSendFile, OnEndSendFile, OnBeginReadFile, OnEndReadFile;
    TLuProtocolEvent OnIdleReading, OnIdleWriting;

private:
    friend class TLuXYModemThread;
    friend class TBlockReception;
    bool TakeCancel();
    int LineMs(int bytes) const;
    int StopSending(const QDeadlineTimer &silence);
    int DrainFrame(TXYAnswerReader &ear, const QDeadlineTimer &silence);
    int AwaitAnswer(TXYAnswerReader &ear, QDeadlineTimer &silence, int lineMs, bool mayRepeat,
                    TXYAnswer &answer);
    int Start(TLuProtocolAction action, const QString &fileName);
    int WaitForWorker(int started);
    int CancelledBySender(int code);
    void SendCancel();
    void Idle(const TLuProtocolEvent &event);

    TLuPCom *FComPort = nullptr;
    bool FCancel = false;
    // Set by the destructor: every waiting loop ends at once, however many it passes through.
    bool FClosing = false;
    int FBlockSize = 128;
    int FMaxRetries = 15;
    int FFirstInviteDelay = 3000;
    // The locks are the standard ones: the thread sanitizer sees through them, not through Qt's.
    mutable std::shared_mutex sync; // FBlockSize, FCancel and FClosing
    // Last: the worker uses everything above until it has been joined.
    std::unique_ptr<TLuXYModemThread> FThread;
};

class TLuXYModemThread : public TWorkerThread {
public:
    explicit TLuXYModemThread(TLuXYModem *proto);
    ~TLuXYModemThread() override;

    bool Begin(TLuProtocolAction action, const QString &fileName);
    bool WaitReady(int timeoutMs);
    bool IsReady() const;
    TLuProtocolStatus Status() const;
    int ErrorCode() const;
    QString FileName() const;
    TLuProtocolStat GetStat() const;

protected:
    void Execute() override;

private:
    void RunAction();
    bool Park();
    void EndAction();
    void SetStatus(TLuProtocolStatus status);
    void ReportStatus();
    void SetFileName(const QString &name);
    void Fire(const TLuProtocolEvent &event);
    int DoSendFile(bool YModem);
    int DoReadFile(bool YModem);
    int SendHeader(const QString &name, qint64 size);
    int ReadHeader(qint64 &declaredSize);
    int ReceiveBlocks(QFile &file, qint64 declared, QByteArray last);
    void UpdateSpeed(qint64 elapsedMs);

    char FBuffer[4096];
    TLuXYModem *FProtocol;
    TLuProtocolStatus FStatus = lupsPrepare;
    int FErrorCode = 0;
    TLuProtocolAction FAction = lupaXmSendFile;
    QString FFileName;
    QStringList FFileList;
    TLuProtocolStat stat;
    mutable std::shared_mutex sync; // status, result, file name, statistics

    // The worker parks here between transfers ("suspended"); Begin wakes it.
    mutable std::mutex fParkLock;
    std::condition_variable fParked;
    bool fRequested = false;
    bool fTerminate = false;
};
