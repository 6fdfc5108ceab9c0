#include "LuProto.h"

#include "LuCRC.h"
#include "LuUtils.h"
#include "common.h"
#include "notify.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr char SOH = 1, STX = 2, EOT = 4, ACK = 6, NAK = 21, CAN = 24, SUB = 26, CRC_INVITE = 'C';
constexpr int CrcPolynomial = 0x11021;
constexpr int BlockDeadlineMs = 30000;
constexpr int ByteDeadlineMs = 5000;
constexpr int DrainLimit = 64;
constexpr int SlicesMs = 100;
constexpr int CharPasses = 100;
constexpr int InviteEveryMs = 3000;

// Waits on the port in slices, so that idle callbacks and the cancel flag are looked at regularly.
int Slice(const QDeadlineTimer &deadline) {
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, SlicesMs));
}

// The name a YModem header may create inside the target folder: folders are stripped, but a name
// that tries to climb out of the folder or start from the root is refused outright.
bool SafeHeaderName(const QString &raw, QString &name) {
    static const QRegularExpression climbs(QStringLiteral("(^|[/\\\\])\\.\\.([/\\\\]|$)"));
    static const QRegularExpression rooted(QStringLiteral("^([/\\\\]|[A-Za-z]:)"));
    if (climbs.match(raw).hasMatch() || rooted.match(raw).hasMatch())
        return false;
    name = raw.mid(std::max(raw.lastIndexOf(u'/'), raw.lastIndexOf(u'\\')) + 1);
    return !name.isEmpty() && name != u"." && name != u"..";
}

// name.ext, name001.ext, name002.ext, ...: the first that does not exist yet.
QString FreeFileName(const QString &wanted) {
    const QFileInfo info(wanted);
    const QString base = info.fileName();
    const qsizetype dot = base.lastIndexOf(u'.');
    QString candidate = wanted;
    for (int n = 1; QFileInfo::exists(candidate) && n < 1000; ++n) {
        const QString counter = IntToDec(3, n);
        const QString numbered = dot < 0 ? base + counter : base.left(dot) + counter + base.mid(dot);
        candidate = info.dir().filePath(numbered);
    }
    return candidate;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Block level

// A machine under load (or a sanitizer) may take its time to start the worker; a transfer started
// before the worker is parked would be refused as busy, so there is no limit here.
TLuXYModem::TLuXYModem() : FThread(std::make_unique<TLuXYModemThread>(this)) {
    FThread->WaitReady(-1);
}

// A transfer still running would otherwise hold the join for up to its 30 s deadlines. The worker
// itself is joined by FThread's destructor, which runs first as the last member declared.
TLuXYModem::~TLuXYModem() {
    QWriteLocker guard(&sync);
    FClosing = true;
}

int TLuXYModem::BlockSize() const {
    QReadLocker guard(&sync);
    return FBlockSize;
}

void TLuXYModem::SetBlockSize(int size) {
    QWriteLocker guard(&sync);
    FBlockSize = size >= 512 ? 1024 : 128;
}

void TLuXYModem::Cancel() {
    QWriteLocker guard(&sync);
    FCancel = true;
}

void TLuXYModem::Reset() {
    QWriteLocker guard(&sync);
    FCancel = false;
}

bool TLuXYModem::TakeCancel() {
    QWriteLocker guard(&sync);
    if (FClosing)
        return true;
    const bool was = FCancel;
    FCancel = false;
    return was;
}

QString TLuXYModem::GetErrorText(int xmErrCode) {
    switch (xmErrCode) {
    case xmOK:
        return QStringLiteral("OK");
    case xmTimeout:
        return QStringLiteral("Timeout");
    case xmInvalidBlockSize:
        return QStringLiteral("Invalid block size");
    case xmOutOfRetries:
        return QStringLiteral("Out of retries");
    case xmInvalidMode:
        return QStringLiteral("Invalid mode");
    case xmBadFormat:
        return QStringLiteral("Bad format");
    case xmOverflow:
        return QStringLiteral("Overflow");
    case xmUnderflow:
        return QStringLiteral("Underflow");
    case xmCancel:
        return QStringLiteral("Cancel");
    case xmEndOfText:
        return QStringLiteral("End of Text");
    case xmEndOfFile:
        return QStringLiteral("End of File");
    case xmUserCancel:
        return QStringLiteral("User cancel");
    case xmPortNotAssigned:
        return QStringLiteral("COM port not assigned");
    case xmPortNotOpened:
        return QStringLiteral("COM port not opened");
    case xmThreadBusy:
        return QStringLiteral("Thread is busy");
    case xmLastFile:
        return QStringLiteral("Last file");
    case xmBadFileName:
        return QStringLiteral("Invalid file name");
    case xmOutOfSequence:
        return QStringLiteral("Block out of sequence");
    case xmFileOpenError:
        return QStringLiteral("Error of opening the file");
    case xmFileReadError:
        return QStringLiteral("Error of reading the file");
    case xmFileWriteError:
        return QStringLiteral("Error of writing the file");
    default:
        return QStringLiteral("Unknow error: %1").arg(xmErrCode);
    }
}

QString TLuXYModem::StatusTextOf(int status) {
    static const char *const texts[] = {"Ready",    "Prepare",  "Wait RxR",    "Send header", "Send block",
                                        "Send EOT", "Send RxR", "Read header", "Read block"};
    if (status >= 0 && status < int(std::size(texts)))
        return QLatin1String(texts[status]);
    return QStringLiteral("Unknow status: %1").arg(status & 0x7F);
}

void TLuXYModem::Idle(const TLuProtocolEvent &event) {
    if (event)
        event(this);
}

void TLuXYModem::SendCancel() {
    static const char cans[] = {CAN, CAN, CAN, CAN, CAN};
    FComPort->Write(cans, int(sizeof cans));
}

// The other side cancelled: acknowledge it.
int TLuXYModem::CancelledBySender(int code) {
    FComPort->PutChar(ACK);
    return code;
}

// The per-block loops look for bytes with WaitRx(0) and WaitRxCount(n, 0), which answer from the bytes
// the port object already holds and go to the device only when those are too few. RxCount asks the
// device every time (two system calls), and a block passes such a test up to five times.
int TLuXYModem::SendBlock(int bNum, const void *bData, int dLen, int &errCount) {
    errCount = 0;
    if (dLen > 1024)
        return xmInvalidBlockSize;
    const int size = dLen <= 128 ? 128 : 1024;
    QByteArray frame(3 + size + 2, '\0');
    frame[0] = size == 128 ? SOH : STX;
    frame[1] = char(bNum & 0xFF);
    frame[2] = char(255 - (bNum & 0xFF));
    if (dLen > 0)
        memcpy(frame.data() + 3, bData, size_t(dLen));
    const quint16 crc = Crc16(frame.constData() + 3, size, CrcPolynomial, 0);
    frame[3 + size] = char(crc >> 8);
    frame[4 + size] = char(crc & 0xFF);

    for (int repetitions = 0;;) {
        FComPort->PurgeOut();
        FComPort->Write(frame.constData(), int(frame.size()));
        QDeadlineTimer deadline(BlockDeadlineMs);
        char last = 0;
        // Drain: while the block is still going out, only a pair of CANs counts; other bytes (an early
        // answer) are kept for the answer phase.
        QByteArray early;
        while (FComPort->TxCount() >= DrainLimit) {
            while (FComPort->WaitRx(0)) {
                const char b = char(FComPort->GetChar());
                if (b == CAN && last == CAN) {
                    FComPort->Flush();
                    return CancelledBySender(xmCancel);
                }
                last = b;
                early += b;
            }
            if (deadline.hasExpired())
                return xmTimeout;
            if (TakeCancel()) {
                SendCancel();
                return xmUserCancel;
            }
            Idle(OnIdleWriting);
            FComPort->WaitRx(2);
        }
        deadline.setRemainingTime(BlockDeadlineMs);
        bool resend = false;
        while (!resend) {
            while (!resend && (!early.isEmpty() || FComPort->WaitRx(0))) {
                char b;
                if (!early.isEmpty()) {
                    b = early.at(0);
                    early.remove(0, 1);
                } else {
                    b = char(FComPort->GetChar());
                }
                if (b == ACK)
                    return dLen;
                if (b == CAN)
                    return CancelledBySender(xmCancel);
                if (b == NAK) {
                    if (repetitions >= FMaxRetries)
                        return xmOutOfRetries;
                    ++repetitions;
                    ++errCount;
                    SystemBeep();
                    resend = true;
                }
            }
            if (resend)
                break;
            if (deadline.hasExpired())
                return xmTimeout;
            if (TakeCancel()) {
                SendCancel();
                return xmUserCancel;
            }
            Idle(OnIdleWriting);
            FComPort->WaitRx(Slice(deadline));
        }
    }
}

int TLuXYModem::ReadBlock(int &bNum, void *bData, int max_dLen, int &errCount) {
    errCount = 0;
    int repetitions = 0;
    auto refuse = [&]() -> bool {
        ++errCount;
        if (++repetitions >= FMaxRetries)
            return false;
        FComPort->FlushRx();
        FComPort->PutChar(NAK);
        SystemBeep();
        return true;
    };
    for (;;) {
        int stage = 0;
        int size = 0;
        int complement = 0;
        quint16 crc = 0;
        QDeadlineTimer deadline(BlockDeadlineMs);
        bool retry = false;
        while (!retry) {
            if (stage == 0) {
                while (stage == 0 && FComPort->WaitRx(0)) {
                    const char b = char(FComPort->GetChar());
                    if (b == SOH || b == STX) {
                        size = b == SOH ? 128 : 1024;
                        if (size > max_dLen)
                            return xmOverflow;
                        stage = 1;
                        deadline.setRemainingTime(ByteDeadlineMs);
                    } else if (b == EOT) {
                        return CancelledBySender(xmEndOfText);
                    } else if (b == CAN) {
                        return CancelledBySender(xmCancel);
                    } else if (b == SUB) {
                        return CancelledBySender(xmEndOfFile);
                    }
                }
            }
            if (stage == 1 && FComPort->WaitRxCount(2, 0)) {
                bNum = FComPort->GetChar();
                complement = FComPort->GetChar();
                stage = 2;
                deadline.setRemainingTime(ByteDeadlineMs);
            }
            if (stage == 2 && FComPort->WaitRxCount(size, 0)) {
                FComPort->Read(bData, size);
                crc = Crc16(bData, size, CrcPolynomial, 0);
                stage = 3;
            }
            if (stage == 3 && FComPort->WaitRxCount(2, 0)) {
                const int hi = FComPort->GetChar();
                const int lo = FComPort->GetChar();
                // A block whose number and complement disagree is as damaged as one with a bad CRC.
                if (((hi << 8) | lo) == crc && complement == 255 - bNum) {
                    FComPort->PutChar(ACK);
                    return size;
                }
                if (!refuse()) {
                    FComPort->PutChar(CAN);
                    return xmOutOfRetries;
                }
                retry = true;
                break;
            }
            if (deadline.hasExpired()) {
                const int missing = stage == 2   ? size + 2 - FComPort->RxCount()
                                    : stage == 3 ? 2 - FComPort->RxCount()
                                                 : 99;
                if (missing < 10 && refuse()) {
                    retry = true;
                    break;
                }
                SendCancel();
                return xmTimeout;
            }
            if (TakeCancel()) {
                SendCancel();
                return xmUserCancel;
            }
            Idle(OnIdleReading);
            const int needed = stage == 0 ? 1 : stage == 1 ? 2 : stage == 2 ? size : 2;
            FComPort->WaitRxCount(needed, Slice(deadline));
        }
    }
}

int TLuXYModem::WaitRxR(int Timeout) {
    const QDeadlineTimer deadline(std::max(Timeout, 0));
    for (;;) {
        while (FComPort->RxCount() > 0) {
            const char b = char(FComPort->GetChar());
            if (b == CRC_INVITE)
                return xmOK;
            if (b == CAN)
                return CancelledBySender(xmCancel);
        }
        if (deadline.hasExpired())
            return xmTimeout;
        FComPort->WaitRx(int(std::min<qint64>(deadline.remainingTime(), 50)));
        if (TakeCancel())
            return xmUserCancel;
        Idle(OnIdleReading);
    }
}

int TLuXYModem::SendRxR(int Timeout) {
    const QDeadlineTimer deadline(std::max(Timeout, 0));
    QElapsedTimer sinceInvite;
    sinceInvite.start();
    qint64 nextInvite = std::max(FFirstInviteDelay, 0);
    for (;;) {
        if (sinceInvite.elapsed() >= nextInvite) {
            FComPort->PutChar(CRC_INVITE);
            sinceInvite.restart();
            nextInvite = InviteEveryMs;
        }
        if (FComPort->RxCount() > 0)
            return xmOK;
        if (deadline.hasExpired())
            return xmTimeout;
        const qint64 untilInvite = nextInvite - sinceInvite.elapsed();
        FComPort->WaitRx(int(std::clamp<qint64>(std::min(untilInvite, deadline.remainingTime()), 0, 50)));
        if (TakeCancel())
            return xmUserCancel;
        Idle(OnIdleWriting);
    }
}

int TLuXYModem::SendChar(char Ch) {
    FComPort->PutChar(Ch);
    for (int pass = 0; pass < CharPasses; ++pass) {
        if (FComPort->WaitRx(SlicesMs)) {
            while (FComPort->RxCount() > 0) {
                const char b = char(FComPort->GetChar());
                if (b == ACK)
                    return xmOK;
                if (b == NAK) {
                    FComPort->PutChar(Ch);
                    SystemBeep();
                }
            }
        } else if (TakeCancel()) {
            return xmUserCancel;
        }
        Idle(OnIdleWriting);
    }
    return xmTimeout;
}

int TLuXYModem::ReadChar(char Ch) {
    for (int pass = 0; pass < CharPasses; ++pass) {
        if (FComPort->WaitRx(SlicesMs)) {
            while (FComPort->RxCount() > 0)
                if (char(FComPort->GetChar()) == Ch) {
                    FComPort->PutChar(ACK);
                    return xmOK;
                }
        } else if (TakeCancel()) {
            return xmUserCancel;
        }
        Idle(OnIdleReading);
    }
    return xmTimeout;
}

// ---------------------------------------------------------------------------------------------------
// File level

TLuProtocolStatus TLuXYModem::Status() const {
    return FThread->Status();
}
QString TLuXYModem::StatusText() const {
    return StatusTextOf(Status());
}
int TLuXYModem::ErrorCode() const {
    return FThread->ErrorCode();
}
QString TLuXYModem::FileName() const {
    return FThread->FileName();
}

bool TLuXYModem::GetStat(TLuProtocolStat &s) const {
    s = FThread->GetStat();
    return true;
}

int TLuXYModem::Start(TLuProtocolAction action, const QString &fileName) {
    if (!FComPort)
        return xmPortNotAssigned;
    if (!FComPort->Active())
        return xmPortNotOpened;
    return FThread->Begin(action, fileName) ? xmOK : xmThreadBusy;
}

int TLuXYModem::SendFileAsync(const QString &fName, bool UseYModem) {
    return Start(UseYModem ? lupaYmSendFile : lupaXmSendFile, fName);
}

int TLuXYModem::SendFilesAsync(const QStringList &fList) {
    return Start(lupaYmSendFiles, fList.join(u'\r'));
}

int TLuXYModem::ReadFileAsync(const QString &fName, bool UseYModem) {
    return Start(UseYModem ? lupaYmReadFile : lupaXmReadFile, fName);
}

int TLuXYModem::ReadFilesAsync(const QString &fPath) {
    const QString folder = fPath.isEmpty() || fPath.endsWith(u'/') ? fPath : fPath + u'/';
    return Start(lupaYmReadFiles, folder);
}

// The blocking forms may be called on the main thread: while they wait they serve the worker's
// events, which run there.
int TLuXYModem::WaitForWorker(int started) {
    if (started != xmOK)
        return started;
    while (!FThread->IsReady())
        ServeNotificationsFor(20);
    return ErrorCode();
}

int TLuXYModem::SendFile(const QString &fName, bool UseYModem) {
    return WaitForWorker(SendFileAsync(fName, UseYModem));
}

int TLuXYModem::SendFiles(const QStringList &fList) {
    return WaitForWorker(SendFilesAsync(fList));
}

int TLuXYModem::ReadFile(const QString &fName, bool UseYModem) {
    return WaitForWorker(ReadFileAsync(fName, UseYModem));
}

int TLuXYModem::ReadFiles(const QString &fPath) {
    return WaitForWorker(ReadFilesAsync(fPath));
}

TLuXYModemThread::TLuXYModemThread(TLuXYModem *proto) : FProtocol(proto) {
    start();
}

TLuXYModemThread::~TLuXYModemThread() {
    {
        QMutexLocker guard(&fParkLock);
        fTerminate = true;
        fParked.wakeAll();
    }
    JoinServing(this);
}

bool TLuXYModemThread::Begin(TLuProtocolAction action, const QString &fileName) {
    QMutexLocker guard(&fParkLock);
    if (fRequested || Status() != lupsReady)
        return false;
    FAction = action;
    SetFileName(fileName);
    {
        QWriteLocker w(&sync);
        FStatus = lupsPrepare;
    }
    fRequested = true;
    fParked.wakeAll();
    return true;
}

bool TLuXYModemThread::IsReady() const {
    QMutexLocker guard(&fParkLock);
    return !fRequested && Status() == lupsReady;
}

bool TLuXYModemThread::WaitReady(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QMutexLocker guard(&fParkLock);
    while (fRequested || Status() != lupsReady)
        if (!fParked.wait(&fParkLock, deadline))
            return !fRequested && Status() == lupsReady;
    return true;
}

TLuProtocolStatus TLuXYModemThread::Status() const {
    QReadLocker guard(&sync);
    return FStatus;
}

int TLuXYModemThread::ErrorCode() const {
    QReadLocker guard(&sync);
    return FErrorCode;
}

QString TLuXYModemThread::FileName() const {
    QReadLocker guard(&sync);
    return FFileName;
}

TLuProtocolStat TLuXYModemThread::GetStat() const {
    QReadLocker guard(&sync);
    return stat;
}

void TLuXYModemThread::SetFileName(const QString &name) {
    QWriteLocker guard(&sync);
    FFileName = name;
}

void TLuXYModemThread::Fire(const TLuProtocolEvent &event) {
    if (event)
        CallOnMainThread([&] { event(FProtocol); });
}

void TLuXYModemThread::ReportStatus() {
    Fire(FProtocol->OnChangeStatus);
}

void TLuXYModemThread::SetStatus(TLuProtocolStatus status) {
    {
        QWriteLocker guard(&sync);
        if (FStatus == status)
            return;
        FStatus = status;
    }
    ReportStatus();
}

// Suspended between transfers; false when the owner wants the worker to end.
bool TLuXYModemThread::Park() {
    QMutexLocker guard(&fParkLock);
    fRequested = false;
    fParked.wakeAll();
    while (!fRequested && !fTerminate)
        fParked.wait(&fParkLock);
    return !fTerminate;
}

// The first lupsReady, before anyone could have set a handler, is not reported; Begin has already
// marked the status lupsPrepare so that a caller polling right after the start sees the worker busy,
// and the worker reports that change itself.
void TLuXYModemThread::Execute() {
    {
        QWriteLocker guard(&sync);
        FStatus = lupsReady;
    }
    while (Park()) {
        ReportStatus();
        RunAction();
        SetStatus(lupsReady);
    }
}

void TLuXYModemThread::RunAction() {
    int result = xmOK;
    try {
        switch (FAction) {
        case lupaXmSendFile:
        case lupaYmSendFile:
            result = DoSendFile(FAction == lupaYmSendFile);
            break;
        case lupaXmReadFile:
        case lupaYmReadFile:
            result = DoReadFile(FAction == lupaYmReadFile);
            break;
        case lupaYmSendFiles: {
            const QStringList files = FileName().split(u'\r', Qt::SkipEmptyParts);
            for (const QString &file : files) {
                SetFileName(file);
                if ((result = DoSendFile(true)) != xmOK)
                    break;
            }
            if (result == xmOK) {
                SetFileName(QString());
                result = DoSendFile(true);
            }
            break;
        }
        case lupaYmReadFiles: {
            const QString folder = FileName();
            QStringList received;
            while ((result = DoReadFile(true)) == xmOK) {
                received << FileName();
                SetFileName(folder);
            }
            SetFileName(received.join(u'\r'));
            break;
        }
        }
    } catch (const TLuPComError &) {
        // The port went away under the transfer; the owner sees the port's own error on its next use.
        result = xmPortNotOpened;
    }
    QWriteLocker guard(&sync);
    FErrorCode = result;
}

void TLuXYModemThread::UpdateSpeed(qint64 elapsedMs) {
    stat.AverageSpeed =
        elapsedMs > 1000 ? qint32(stat.TransferedSize / (elapsedMs / 1000)) : stat.TransferedSize;
}

int TLuXYModemThread::SendHeader(const QString &name, qint64 size) {
    QByteArray header(128, '\0');
    if (!name.isEmpty()) {
        const QByteArray text = ToAnsiText(QFileInfo(name).fileName()) + '\0' + QByteArray::number(size);
        memcpy(header.data(), text.constData(), size_t(std::min<qsizetype>(text.size(), 128)));
    }
    SetStatus(lupsWaitRxR);
    int result = FProtocol->WaitRxR(BlockDeadlineMs);
    if (result != xmOK)
        return result;
    SetStatus(lupsSendHeader);
    int errCount = 0;
    result = FProtocol->SendBlock(0, header.constData(), 128, errCount);
    return result < 0 ? result : xmOK;
}

int TLuXYModemThread::DoSendFile(bool YModem) {
    // Only what is still going out is dropped: a receiver that started first may already have sent
    // its "C", and throwing that away would cost the receiver's whole retry period.
    FProtocol->FComPort->FlushTx();
    {
        QWriteLocker guard(&sync);
        stat = TLuProtocolStat();
    }
    const QString name = FileName();
    QFile file(name);
    qint64 size = 0;
    if (!name.isEmpty()) {
        if (!file.open(QIODevice::ReadOnly))
            return xmFileOpenError;
        size = file.size();
        if (size < 0)
            return xmFileReadError;
    }
    Fire(FProtocol->OnBeginSendFile);
    int result = YModem ? SendHeader(name, size) : xmOK;
    if (result == xmOK && !name.isEmpty()) {
        {
            QWriteLocker guard(&sync);
            stat.TotalSize = quint32(size);
        }
        SetStatus(lupsWaitRxR);
        result = FProtocol->WaitRxR(BlockDeadlineMs);
        QElapsedTimer clock;
        clock.start();
        const int blockSize = FProtocol->BlockSize();
        qint64 sent = 0;
        for (int number = 1; result == xmOK; number = (number + 1) & 0xFF) {
            const qint64 r = file.read(FBuffer, blockSize);
            if (r < 0 || (r < blockSize && sent + r < size)) {
                // A file that fails or ends before its size would arrive cut short and look complete.
                FProtocol->SendCancel();
                result = xmFileReadError;
                break;
            }
            if (r == 0)
                break;
            SetStatus(lupsSendBlock);
            int errCount = 0;
            const int n = FProtocol->SendBlock(number, FBuffer, int(r), errCount);
            if (n < 0) {
                result = n;
                break;
            }
            sent += r;
            QWriteLocker guard(&sync);
            stat.BlockNumber = quint32(number);
            stat.TransferedSize = qint32(sent);
            stat.ErrorCount += errCount;
            UpdateSpeed(clock.elapsed());
            if (r < blockSize || sent >= size)
                break;
        }
        if (result == xmOK) {
            SetStatus(lupsSendEOT);
            FProtocol->SendChar(EOT);
        }
    }
    file.close();
    Fire(FProtocol->OnEndSendFile);
    return result;
}

int TLuXYModemThread::ReadHeader(qint64 &declaredSize) {
    int result = xmOK;
    int number = 0;
    // A sender that got our acknowledgement of its EOT together with the next "C" may take the "C"
    // for a refusal and send its EOT again; ReadBlock has acknowledged it, so invite once more.
    for (int attempt = 0; attempt < 3; ++attempt) {
        SetStatus(lupsSendRxR);
        if ((result = FProtocol->SendRxR(BlockDeadlineMs)) != xmOK)
            return result;
        SetStatus(lupsReadHeader);
        int errCount = 0;
        result = FProtocol->ReadBlock(number, FBuffer, int(sizeof FBuffer), errCount);
        if (result != xmEndOfText)
            break;
    }
    if (result < 0)
        return result;
    if (number != 0)
        return xmBadFormat;
    const QByteArray block(FBuffer, result);
    const QByteArray rawName = block.left(block.indexOf('\0'));
    if (rawName.isEmpty())
        return xmLastFile;
    QString name;
    if (!SafeHeaderName(FromAnsiText(rawName), name))
        return xmBadFileName;
    const QByteArray rest = block.mid(rawName.size() + 1);
    static const QRegularExpression leadingDigits(QStringLiteral("^\\d+"));
    declaredSize =
        DecToInt(leadingDigits.match(QString::fromLatin1(rest.left(rest.indexOf('\0')))).captured(0), 0);
    SetFileName(QFileInfo(FileName()).path() + u'/' + name);
    QWriteLocker guard(&sync);
    stat.TotalSize = quint32(declaredSize);
    return xmOK;
}

int TLuXYModemThread::DoReadFile(bool YModem) {
    TLuPCom &port = *FProtocol->FComPort;
    port.Flush();
    {
        QWriteLocker guard(&sync);
        stat = TLuProtocolStat();
    }
    qint64 declared = 0;
    int result = YModem ? ReadHeader(declared) : xmOK;
    if (result != xmOK)
        return result;
    SetStatus(lupsSendRxR);
    if ((result = FProtocol->SendRxR(BlockDeadlineMs)) != xmOK)
        return result;
    SetFileName(FreeFileName(FileName()));
    Fire(FProtocol->OnBeginReadFile);
    QFile file(FileName());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Fire(FProtocol->OnEndReadFile);
        return xmFileOpenError;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 total = 0;
    int expected = 1;
    for (;;) {
        SetStatus(lupsReadBlock);
        int number = 0;
        int errCount = 0;
        const int size = FProtocol->ReadBlock(number, FBuffer, int(sizeof FBuffer), errCount);
        if (size < 0) {
            result = size;
            break;
        }
        // A sender that missed our ACK sends the block again: it is acknowledged (ReadBlock did) but
        // must not be written twice. Any other number means blocks were lost.
        if (number == ((expected - 1) & 0xFF) && total > 0)
            continue;
        if (number != expected) {
            FProtocol->SendCancel();
            result = xmOutOfSequence;
            break;
        }
        expected = (expected + 1) & 0xFF;
        total += size;
        qint64 toWrite = size;
        if (declared > 0 && total > declared)
            toWrite -= total - declared;
        {
            QWriteLocker guard(&sync);
            stat.BlockNumber = quint32(number);
            stat.TransferedSize = qint32(std::min(total, declared > 0 ? declared : total));
            stat.ErrorCount += errCount;
            UpdateSpeed(clock.elapsed());
        }
        if (toWrite > 0 && file.write(FBuffer, toWrite) != toWrite) {
            FProtocol->SendCancel();
            result = xmFileWriteError;
            break;
        }
        if (declared > 0 && total >= declared) {
            FProtocol->ReadChar(EOT);
            result = xmOK;
            break;
        }
    }
    // A YModem file ends with the sender's EOT when its size was not declared (or was 0).
    if (YModem && result == xmEndOfText)
        result = xmOK;
    file.close();
    Fire(FProtocol->OnEndReadFile);
    return result;
}
