// TLuPCom: one serial port with a fixed line setting, blocking writes, polling reads with deadlines,
// line reading, queue counts and modem lines. Every failure of the port layer becomes a TLuPComError
// naming the port, the code, the operation and a fixed text. Optionally every byte sent or received
// goes to a traffic log as a timestamped hex dump, sixteen bytes of one direction per line.
// One thread owns an object; the log's idle tick runs on that thread from within the operations
// (and from IdleTick, which an owner that waits elsewhere may call).
#pragma once

#include "LuQueue.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <stdexcept>

class TLuPComError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    QString Message() const { return QString::fromUtf8(what()); }
};

enum TLuPComFlowCtrl : quint8 { fcNone, fcHardware, fcSoftware };
enum TLuPComDataBits : quint8 { db5, db6, db7, db8 };
enum TLuPComStopBits : quint8 { sb1, sb2 };
enum TLuPComParity : quint8 { pNone, pOdd, pEven, pMark, pSpace };

class TLuPCom {
public:
    TLuPCom();
    ~TLuPCom();
    TLuPCom(const TLuPCom &) = delete;
    TLuPCom &operator=(const TLuPCom &) = delete;

    bool Active() const { return factive; }
    void SetActive(bool on);
    int Port() const { return fport; }
    void SetPort(int port) { fport = port; }
    quint32 BaudRate() const { return fbaudrate; }
    void SetBaudRate(qint64 rate);
    TLuPComFlowCtrl FlowCtrl() const { return fflowctrl; }
    void SetFlowCtrl(TLuPComFlowCtrl v) { fflowctrl = v; }
    TLuPComDataBits DataBits() const { return fdatabits; }
    void SetDataBits(TLuPComDataBits v) { fdatabits = v; }
    TLuPComStopBits StopBits() const { return fstopbits; }
    void SetStopBits(TLuPComStopBits v) { fstopbits = v; }
    TLuPComParity Parity() const { return fparity; }
    void SetParity(TLuPComParity v) { fparity = v; }
    quint32 WriteTimeout() const { return fwritetimeout; }
    void SetWriteTimeout(quint32 ms) { fwritetimeout = ms; }
    quint32 ReadTimeout() const { return freadtimeout; }
    void SetReadTimeout(quint32 ms) { freadtimeout = ms; }
    bool LogEnabled() const { return flogenabled; }
    void SetLogEnabled(bool on);
    QString LogFile() const { return flogfile; }
    void SetLogFile(const QString &f) { flogfile = f; }
    quint32 MaxLogSize() const { return fmaxlogsize; }
    void SetMaxLogSize(quint32 size) { fmaxlogsize = size; }

    void Open();
    void Close();
    int Write(const void *buf, int len);
    int PutByte(quint8 b);
    int PutChar(char c);
    int PutChar(QChar c);
    int PutString(const QString &text);
    int Read(void *buf, int len);
    quint8 GetChar();
    QString ReadString(bool Multiline, bool Echo, int Timeout);
    bool ReadString(QString &Res, bool Multiline, int Timeout);
    void Flush();
    void FlushRx();
    void FlushTx();
    void PurgeIn() { FlushRx(); }
    void PurgeOut() { FlushTx(); }
    int RxCount();
    int TxCount();
    int InQueCount() { return RxCount(); }
    int OutQueCount() { return TxCount(); }
    void Abort();
    void SetDTR(bool on);
    void SetRTS(bool on);
    bool CTS();
    bool DSR();
    bool CD();
    bool RI();

    // Waits up to timeoutMs until at least `count` received bytes are waiting; true when they are.
    // It sleeps on the port, so a caller waiting for a whole block does not spin.
    bool WaitRxCount(int count, int timeoutMs);
    bool WaitRx(int timeoutMs) { return WaitRxCount(1, timeoutMs); }
    // Drops the line ends and other control bytes at the head of the input without waiting; true when
    // something else (the start of a line) is left queued.
    bool SkipLineEnds();
    // The traffic log's once-a-second tick; runs any ticks that fell due since the last one.
    void IdleTick();

    static QString ErrorText(int code);

private:
    void CheckOpen();
    void RaiseError(const QString &operation, int code);
    int Checked(const QString &operation, int result);
    void UpdateIoctl();
    int FillRx(const QString &operation);
    QString ReadLine(bool Multiline, bool Echo, int Timeout, bool &gotLine);
    void LogData(const void *data, int len, int direction);
    void FlushLog();
    void LogTimerTick();
    void AppendLog(const QString &text);
    void WriteLog(const QString &text);
    bool ModemStatus(const QString &operation, int bit);

    bool factive = false;
    int fport = 1;
    quint32 fbaudrate = 9600;
    TLuPComFlowCtrl fflowctrl = fcHardware;
    TLuPComDataBits fdatabits = db8;
    TLuPComStopBits fstopbits = sb2;
    TLuPComParity fparity = pNone;
    quint32 fwritetimeout = 10000;
    quint32 freadtimeout = 10000;
    bool flogenabled = false;
    QString flogfile = QStringLiteral("lupcom.log");
    quint32 fmaxlogsize = 65536;
    int flogcount = 0;
    int flogdirection = 0;
    QElapsedTimer ftimer;
    qint64 fnexttick = 1000;
    int fidleCount = 999999;
    TLuQueue flogcache{16};
    // Bytes taken from the device but not yet handed out: lets a line read stop at its CR while the
    // bytes after it stay queued for the next call, without one system call per byte.
    QByteArray frxbuf;
};
