#include "LuProto.h"

#include "LuUtils.h"
#include "common.h"
#include "notify.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <optional>

using namespace XYControl;

namespace {

constexpr int BlockDeadlineMs = 30000; // a peer silent this long is gone
constexpr int DrainLimit = 64;
constexpr int SlicesMs = 100;
constexpr int CharPasses = 100;
constexpr int InviteEveryMs = 3000;

// Recovery on a noisy line. Every wait below ends in asking for the block again (a NAK from the
// receiver, the frame again from the sender), counted as a repetition; the 30 s deadline above still
// ends the block for a peer that is really gone.
//
// A receiver waiting for the next frame hears its header within milliseconds of its ACK, from any
// sender on a computer; a second without one means the header or the ACK was lost.
constexpr int HeaderQuietMs = 1000;
// The bytes of one frame follow each other without a pause (a sender writes the frame at once), so a
// frame that stops for this long (plus a few bytes' time on a slow line) has lost bytes. Likewise the
// rest of a frame whose header was damaged: once it has passed, its sender waits for an answer.
constexpr int FrameGapMs = 200;
constexpr int FrameGapBytes = 16;
// EOT, CAN and SUB stand alone on the line; one followed at once by more bytes is a damaged header.
constexpr int LoneByteMs = 100;
// A sender that hears a byte that is no answer (a damaged ACK or NAK) gives the real answer this long
// (plus the frame's time on the line) to follow, then repeats: well before the receiver's own
// HeaderQuietMs, so the two never cross.
constexpr int AnswerGraceMs = 100;
// A sender that hears nothing at all repeats after this: later than a receiver that asks again after
// HeaderQuietMs (whose NAK then comes first), but well within the 10 s that receivers which never ask
// again (simple loaders) commonly wait before giving up.
constexpr int SenderQuietMs = 3000;

// Waits on the port in slices, so that idle callbacks and the cancel flag are looked at regularly.
qint64 LeftOf(const QDeadlineTimer &deadline) {
    return deadline.isForever() ? SlicesMs : std::max<qint64>(deadline.remainingTime(), 0);
}

int Slice(std::initializer_list<QDeadlineTimer> deadlines) {
    qint64 left = SlicesMs;
    for (const QDeadlineTimer &d : deadlines)
        left = std::min(left, LeftOf(d));
    return int(left);
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
    std::lock_guard guard(sync);
    FClosing = true;
}

int TLuXYModem::BlockSize() const {
    std::shared_lock guard(sync);
    return FBlockSize;
}

void TLuXYModem::SetBlockSize(int size) {
    std::lock_guard guard(sync);
    FBlockSize = size >= 512 ? 1024 : 128;
}

void TLuXYModem::Cancel() {
    std::lock_guard guard(sync);
    FCancel = true;
}

void TLuXYModem::Reset() {
    std::lock_guard guard(sync);
    FCancel = false;
}

bool TLuXYModem::TakeCancel() {
    std::lock_guard guard(sync);
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

// How long `bytes` take on the line at the port's rate and framing: an answer cannot come sooner.
int TLuXYModem::LineMs(int bytes) const {
    const int bits = 1 + 5 + FComPort->DataBits() + (FComPort->Parity() == pNone ? 0 : 1) +
                     (FComPort->StopBits() == sb2 ? 2 : 1);
    return int((qint64(bytes) * bits * 1000 + FComPort->BaudRate() - 1) / std::max<quint32>(FComPort->BaudRate(), 1));
}

// The per-block loops look for bytes with WaitRx(0) and WaitRxCount(n, 0), which answer from the bytes
// the port object already holds and go to the device only when those are too few. RxCount asks the
// device every time (two system calls), and a block passes such a test up to five times.
int TLuXYModem::SendBlock(int bNum, const void *bData, int dLen, int &errCount) {
    errCount = 0;
    if (dLen > 1024)
        return xmInvalidBlockSize;
    const QByteArray frame = XYFrame(bNum, bData, dLen);
    const int lineMs = LineMs(int(frame.size()));
    QDeadlineTimer silence(BlockDeadlineMs);
    TXYAnswerReader ear;
    for (int repetitions = 0;; ++repetitions, ++errCount) {
        FComPort->PurgeOut();
        FComPort->Write(frame.constData(), int(frame.size()));
        if (const int drained = DrainFrame(ear, silence); drained != xmOK)
            return drained;
        // Repeats sent because nothing came back must not stretch the deadline of a peer that is gone.
        if (repetitions == 0)
            silence.setRemainingTime(BlockDeadlineMs);
        TXYAnswer answer = xaNone;
        if (const int r = AwaitAnswer(ear, silence, lineMs, repetitions < FMaxRetries, answer); r != xmOK)
            return r;
        if (answer == xaAck)
            return dLen;
        if (repetitions >= FMaxRetries)
            return xmOutOfRetries;
        SystemBeep();
    }
}

// One step of a sender's wait: the deadline or the user's cancel ends it, otherwise the idle event runs.
int TLuXYModem::StopSending(const QDeadlineTimer &silence) {
    if (silence.hasExpired())
        return xmTimeout;
    if (TakeCancel()) {
        SendCancel();
        return xmUserCancel;
    }
    Idle(OnIdleWriting);
    return xmOK;
}

int TLuXYModem::DrainFrame(TXYAnswerReader &ear, const QDeadlineTimer &silence) {
    ear.StartDrain();
    while (FComPort->TxCount() >= DrainLimit) {
        while (FComPort->WaitRx(0))
            if (ear.Take(char(FComPort->GetChar())) == xaCancel) {
                FComPort->Flush();
                return CancelledBySender(xmCancel);
            }
        if (const int stop = StopSending(silence); stop != xmOK)
            return stop;
        FComPort->WaitRx(2);
    }
    return xmOK;
}

// The answer to a frame that has gone out: ACK or NAK, or, when it is time to send the frame again
// without one, xaNoise (only unusable bytes came) or xaNone (nothing came). With no repetition left,
// only an answer, noise or the deadline end the wait.
int TLuXYModem::AwaitAnswer(TXYAnswerReader &ear, QDeadlineTimer &silence, int lineMs, bool mayRepeat,
                            TXYAnswer &answer) {
    ear.StartWait();
    QDeadlineTimer repeat = mayRepeat ? QDeadlineTimer(SenderQuietMs + lineMs) : QDeadlineTimer::Forever;
    bool noise = false;
    for (;;) {
        while (FComPort->WaitRx(0)) {
            silence.setRemainingTime(BlockDeadlineMs);
            answer = ear.Take(char(FComPort->GetChar()));
            if (answer == xaAck || answer == xaNak)
                return xmOK;
            if (answer == xaCancel)
                return CancelledBySender(xmCancel);
            if (!noise) {
                noise = true;
                repeat = std::min(repeat, QDeadlineTimer(AnswerGraceMs + lineMs));
            }
        }
        if (repeat.hasExpired()) {
            answer = noise ? xaNoise : xaNone;
            return xmOK;
        }
        if (const int stop = StopSending(silence); stop != xmOK)
            return stop;
        FComPort->WaitRx(Slice({repeat, silence}));
    }
}

// One ReadBlock: the frame decoder fed from the port, and the waits that recover from a noisy line.
class TBlockReception {
public:
    TBlockReception(TLuXYModem &modem, void *data, int capacity, int &errCount)
        : fmodem(modem), fport(*modem.FComPort), fframe(data, capacity), ferrCount(errCount),
          fgapMs(FrameGapMs + modem.LineMs(FrameGapBytes)) {
        ferrCount = 0;
        AwaitNextFrame();
    }

    int Run(int &bNum) {
        for (;;) {
            if (const auto r = TakeWaiting(bNum))
                return *r;
            if (const auto r = OnTimers())
                return *r;
            if (fmodem.TakeCancel()) {
                fmodem.SendCancel();
                return xmUserCancel;
            }
            fmodem.Idle(fmodem.OnIdleReading);
            fport.WaitRxCount(fframe.Needed(), Slice({fask, fsilence, fpendingControl ? flone : fask}));
        }
    }

private:
    using TEnd = std::optional<int>;

    TEnd TakeWaiting(int &bNum) {
        while (fport.WaitRxCount(fframe.Needed(), 0)) {
            fport.Read(fframe.Into(), fframe.Needed());
            fsilence.setRemainingTime(BlockDeadlineMs);
            fqueued = -1;
            const TXYFrameStep step = fframe.Took();
            if (fpendingControl) {
                if (fpendingControl == CAN && step == xfsControl && fframe.Control() == CAN)
                    return fmodem.CancelledBySender(xmCancel);
                NoteNoise();
            }
            if (const auto r = OnStep(step, bNum))
                return r;
        }
        return std::nullopt;
    }

    TEnd OnStep(TXYFrameStep step, int &bNum) {
        switch (step) {
        case xfsMore:
            fask.setRemainingTime(fgapMs);
            return std::nullopt;
        case xfsNoise:
            NoteNoise();
            return std::nullopt;
        case xfsControl:
            fpendingControl = fframe.Control();
            flone.setRemainingTime(LoneByteMs);
            return std::nullopt;
        case xfsOverflow:
            return xmOverflow;
        case xfsFrame:
            bNum = fframe.Number();
            fport.PutChar(ACK);
            return fframe.Size();
        case xfsBadFrame:
            feotPending = false;
            return RefuseOrGiveUp();
        }
        return xmInvalidMode;
    }

    TEnd OnTimers() {
        if (fpendingControl && flone.hasExpired())
            if (const auto r = ActOnLoneControl())
                return r;
        if (fframe.InFrame())
            NoteArrivals();
        if (fsilence.hasExpired()) {
            fmodem.SendCancel();
            return xmTimeout;
        }
        return fask.hasExpired() ? AskAgain() : std::nullopt;
    }

    // An EOT is believed only when it comes again after our NAK: a damaged byte that reads as EOT would
    // otherwise end the file early and look like its proper end.
    TEnd ActOnLoneControl() {
        const char control = fpendingControl;
        fpendingControl = 0;
        if (control == EOT && !feotPending) {
            feotPending = true;
            fport.PutChar(NAK);
            AwaitNextFrame();
            return std::nullopt;
        }
        return fmodem.CancelledBySender(control == EOT ? xmEndOfText : control == CAN ? xmCancel : xmEndOfFile);
    }

    // Mid-frame the data field is read whole, so its bytes prove the sender alive while they come in.
    void NoteArrivals() {
        const int queued = fport.RxCount();
        if (queued == fqueued)
            return;
        fqueued = queued;
        fask.setRemainingTime(fgapMs);
        fsilence.setRemainingTime(BlockDeadlineMs);
    }

    // Nothing usable for a while: a frame that stalled lost bytes; no frame at all means its header, or
    // our last answer, was lost. Once the repetitions are spent a silent line is left to the deadline.
    TEnd AskAgain() {
        if (fframe.InFrame()) {
            fframe.Restart();
            fnoise = true;
        }
        if (fnoise || frepetitions + 1 < fmodem.FMaxRetries)
            return RefuseOrGiveUp();
        AwaitNextFrame();
        return std::nullopt;
    }

    TEnd RefuseOrGiveUp() {
        ++ferrCount;
        if (++frepetitions >= fmodem.FMaxRetries) {
            fport.PutChar(CAN);
            return xmOutOfRetries;
        }
        fport.FlushRx();
        fport.PutChar(NAK);
        SystemBeep();
        AwaitNextFrame();
        return std::nullopt;
    }

    void AwaitNextFrame() {
        fnoise = false;
        fheaderDue.setRemainingTime(HeaderQuietMs);
        fask = fheaderDue;
    }

    // Noise between frames is most often the rest of a frame whose header was damaged: ask again as
    // soon as it has passed, and at the latest when the header is overdue anyway.
    void NoteNoise() {
        fpendingControl = 0;
        fnoise = true;
        feotPending = false;
        fask = std::min(fheaderDue, QDeadlineTimer(fgapMs));
    }

    TLuXYModem &fmodem;
    TLuPCom &fport;
    TXYFrameDecoder fframe;
    int &ferrCount;
    const int fgapMs;
    int frepetitions = 0;
    QDeadlineTimer fsilence{BlockDeadlineMs}; // restarted by every byte heard
    QDeadlineTimer fheaderDue;                 // when the next frame's header is overdue
    QDeadlineTimer fask;                       // when to ask for the block again
    QDeadlineTimer flone;                      // when a pending control byte counts as alone
    char fpendingControl = 0;
    bool feotPending = false; // an EOT was answered with NAK and nothing else came since
    bool fnoise = false;      // something useless was heard since our last answer
    int fqueued = -1;
};

int TLuXYModem::ReadBlock(int &bNum, void *bData, int max_dLen, int &errCount) {
    return TBlockReception(*this, bData, max_dLen, errCount).Run(bNum);
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
        FComPort->WaitRx(int(std::min<qint64>(LeftOf(deadline), 50)));
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
        std::lock_guard guard(fParkLock);
        fTerminate = true;
        fParked.notify_all();
    }
    JoinServing(this);
}

bool TLuXYModemThread::Begin(TLuProtocolAction action, const QString &fileName) {
    std::lock_guard guard(fParkLock);
    if (fRequested || Status() != lupsReady)
        return false;
    FAction = action;
    SetFileName(fileName);
    {
        std::lock_guard w(sync);
        FStatus = lupsPrepare;
    }
    fRequested = true;
    fParked.notify_all();
    return true;
}

bool TLuXYModemThread::IsReady() const {
    std::lock_guard guard(fParkLock);
    return !fRequested && Status() == lupsReady;
}

// A negative timeout waits as long as it takes.
bool TLuXYModemThread::WaitReady(int timeoutMs) {
    std::unique_lock guard(fParkLock);
    const auto ready = [this] { return !fRequested && Status() == lupsReady; };
    if (timeoutMs < 0) {
        fParked.wait(guard, ready);
        return true;
    }
    return fParked.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
}

TLuProtocolStatus TLuXYModemThread::Status() const {
    std::shared_lock guard(sync);
    return FStatus;
}

int TLuXYModemThread::ErrorCode() const {
    std::shared_lock guard(sync);
    return FErrorCode;
}

QString TLuXYModemThread::FileName() const {
    std::shared_lock guard(sync);
    return FFileName;
}

TLuProtocolStat TLuXYModemThread::GetStat() const {
    std::shared_lock guard(sync);
    return stat;
}

void TLuXYModemThread::SetFileName(const QString &name) {
    std::lock_guard guard(sync);
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
        std::lock_guard guard(sync);
        if (FStatus == status)
            return;
        FStatus = status;
    }
    ReportStatus();
}

// Suspended between transfers; false when the owner wants the worker to end.
bool TLuXYModemThread::Park() {
    std::unique_lock guard(fParkLock);
    fParked.wait(guard, [this] { return fRequested || fTerminate; });
    return !fTerminate;
}

// The worker is ready for the next transfer the moment it says so: whoever sees lupsReady (a poller,
// or the status handler itself) may start one at once. The request is taken back before the status
// changes, and the handler runs without the lock, since it may call Begin.
void TLuXYModemThread::EndAction() {
    bool changed = false;
    {
        std::lock_guard park(fParkLock);
        fRequested = false;
        {
            std::lock_guard guard(sync);
            changed = FStatus != lupsReady;
            FStatus = lupsReady;
        }
        fParked.notify_all();
    }
    if (changed)
        ReportStatus();
}

// The first lupsReady, before anyone could have set a handler, is not reported; Begin has already
// marked the status lupsPrepare so that a caller polling right after the start sees the worker busy,
// and the worker reports that change itself.
void TLuXYModemThread::Execute() {
    {
        std::lock_guard park(fParkLock);
        std::lock_guard guard(sync);
        FStatus = lupsReady;
        fParked.notify_all(); // the owner's constructor waits for this first lupsReady
    }
    while (Park()) {
        ReportStatus();
        RunAction();
        EndAction();
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
    std::lock_guard guard(sync);
    FErrorCode = result;
}

void TLuXYModemThread::UpdateSpeed(qint64 elapsedMs) {
    stat.AverageSpeed =
        elapsedMs > 1000 ? qint32(stat.TransferedSize / (elapsedMs / 1000)) : stat.TransferedSize;
}

int TLuXYModemThread::SendHeader(const QString &name, qint64 size) {
    const QByteArray header = YModemHeader(name, size);
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
        std::lock_guard guard(sync);
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
            std::lock_guard guard(sync);
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
            std::lock_guard guard(sync);
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
    QString name;
    if (const int parsed = ParseYModemHeader(QByteArray(FBuffer, result), name, declaredSize); parsed != xmOK)
        return parsed;
    SetFileName(QFileInfo(FileName()).path() + u'/' + name);
    std::lock_guard guard(sync);
    stat.TotalSize = quint32(declaredSize);
    return xmOK;
}

int TLuXYModemThread::DoReadFile(bool YModem) {
    TLuPCom &port = *FProtocol->FComPort;
    port.Flush();
    {
        std::lock_guard guard(sync);
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
    // The header is still in FBuffer: a sender that missed our ACK of it sends it again.
    result = ReceiveBlocks(file, declared, YModem ? QByteArray(FBuffer, 128) : QByteArray());
    if (YModem && result == xmEndOfText)
        result = xmOK;
    file.close();
    Fire(FProtocol->OnEndReadFile);
    return result;
}

// The blocks of one file up to the sender's EOT. `last` is the YModem header (block 0) or empty.
int TLuXYModemThread::ReceiveBlocks(QFile &file, qint64 declared, QByteArray last) {
    QElapsedTimer clock;
    clock.start();
    qint64 total = 0;
    int expected = 1;
    int repeats = 0;
    for (;;) {
        SetStatus(lupsReadBlock);
        int number = 0;
        int errCount = 0;
        const int size = FProtocol->ReadBlock(number, FBuffer, int(sizeof FBuffer), errCount);
        // A file that ends before the size its YModem header declared is incomplete, whatever the EOT says.
        if (size < 0)
            return size == xmEndOfText && declared > total ? xmUnderflow : size;
        {
            std::lock_guard guard(sync);
            stat.ErrorCount += errCount;
        }
        // A sender that missed our ACK sends the block again: it is acknowledged (ReadBlock did) but must
        // not be written twice, and a sender that repeats it for ever is refused like a damaged one.
        // The same number with other data, or any other number, means blocks were lost.
        if (number == ((expected - 1) & 0xFF) && last == QByteArray(FBuffer, size)) {
            if (++repeats > FProtocol->MaxRetries()) {
                FProtocol->SendCancel();
                return xmOutOfRetries;
            }
            if (total == 0) // the YModem header again: its sender waits for our "C" once more
                FProtocol->FComPort->PutChar(CRC_INVITE);
            continue;
        }
        if (number != expected) {
            FProtocol->SendCancel();
            return xmOutOfSequence;
        }
        repeats = 0;
        last = QByteArray(FBuffer, size);
        expected = (expected + 1) & 0xFF;
        total += size;
        qint64 toWrite = size;
        if (declared > 0 && total > declared)
            toWrite -= total - declared;
        {
            std::lock_guard guard(sync);
            stat.BlockNumber = quint32(number);
            stat.TransferedSize = qint32(std::min(total, declared > 0 ? declared : total));
            UpdateSpeed(clock.elapsed());
        }
        if (toWrite > 0 && file.write(FBuffer, toWrite) != toWrite) {
            FProtocol->SendCancel();
            return xmFileWriteError;
        }
    }
}
