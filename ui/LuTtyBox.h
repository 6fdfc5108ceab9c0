// TLuTtyBox: a read-only text box that behaves like a simple terminal. Text is fed to it character by
// character: a backspace removes the last character, a carriage return starts a new line, line feeds
// are ignored, and the view follows the end. It keeps only the last LinesStored lines, so a box fed
// for days stays small and fast. It can also copy what it shows into a log file of its own
// (lmWriteLog) or follow a file by itself (lmLogTail). The log window shows each log file in one.
#pragma once

#include "notify.h"

#include <QPlainTextEdit>
#include <memory>

class TLuLogTail;

enum TLuTtyBoxLogMode : int { lmDisabled, lmWriteLog, lmLogTail };

class TLuTtyBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TLuTtyBox(QWidget *parent = nullptr);
    ~TLuTtyBox() override;

    void PutChar(QChar ch);
    // One edit of the text and one scroll for the whole string, however long.
    void PutString(const QString &str);
    // The line trimmed of blanks and control characters, then a new line.
    void PutLine(const QString &line);
    // Puts the caret at character `pos` (a negative or too large one means the end) and shows it.
    void ScrollTo(int pos);
    // Deletes the own log file.
    void ClearLog();

    // Complete lines kept; older ones are dropped from the top. At least 1.
    int LinesStored() const { return fLinesStored; }
    void SetLinesStored(int lines);
    TLuTtyBoxLogMode LogMode() const { return fLogMode; }
    void SetLogMode(TLuTtyBoxLogMode mode);
    QString LogFileName() const { return fLogFileName; }
    void SetLogFileName(const QString &name);
    qint64 MaxLogSize() const { return fMaxLogSize; }
    void SetMaxLogSize(qint64 bytes) { fMaxLogSize = bytes; }
    // The owner's number for the box (the log window finds its boxes by it).
    int Tag() const { return fTag; }
    void SetTag(int tag) { fTag = tag; }

private:
    void Feed(const QString &str);
    void WriteLogChar(QChar ch);
    void TakeFollowedText();

    int fLinesStored = 1000;
    TLuTtyBoxLogMode fLogMode = lmDisabled;
    QString fLogFileName;
    qint64 fMaxLogSize = 262144;
    int fTag = 0;
    int fCharCount = 0;
    QString fLineCache;
    // The follower notifies the receiver, so it comes after it and is stopped in the destructor.
    TNotifyForwarder freceiver;
    std::unique_ptr<TLuLogTail> ffollower;
};
