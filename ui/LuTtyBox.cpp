#include "LuTtyBox.h"

#include "LuFiles.h"
#include "LuLogTail.h"
#include "LuUtils.h"
#include "common.h"

#include <QFile>
#include <algorithm>

namespace {

const QString DefaultLogFileName = QStringLiteral("TtyLog.txt");
constexpr char16_t Backspace = 8;
constexpr char16_t LineFeed = 10;
constexpr char16_t CarriageReturn = 13;
// The own log file is cut back after every this many characters, not after each one.
constexpr int TrimEvery = 100;

} // namespace

TLuTtyBox::TLuTtyBox(QWidget *parent)
    : QPlainTextEdit(parent), fLogFileName(DefaultLogFileName),
      freceiver([this](quint32 msg, int, qint64, const QString &) {
          if (msg == LogTailNotifyMessage)
              TakeFollowedText();
      }) {
    setReadOnly(true);
    setTabChangesFocus(true);
    // A box fed for days would otherwise keep every edit for an undo nobody can ask for.
    setUndoRedoEnabled(false);
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    setFont(font);
    SetLinesStored(fLinesStored);
}

// The follower may be waiting in a notification to this box: it is served while the box is whole.
TLuTtyBox::~TLuTtyBox() {
    ffollower.reset();
}

void TLuTtyBox::SetLinesStored(int lines) {
    fLinesStored = std::max(lines, 1);
    // One block more for the line being written. The document drops the surplus from the top once
    // per edit, which keeps feeding a long-running log as cheap as feeding a fresh one.
    document()->setMaximumBlockCount(fLinesStored + 1);
}

void TLuTtyBox::PutChar(QChar ch) {
    PutString(QString(ch));
}

void TLuTtyBox::PutString(const QString &str) {
    Feed(str);
    moveCursor(QTextCursor::End); // and into view
}

void TLuTtyBox::PutLine(const QString &line) {
    PutString(TrimText(line) + QChar(CarriageReturn));
}

void TLuTtyBox::ScrollTo(int pos) {
    QTextCursor cursor = textCursor();
    const int last = document()->characterCount() - 1;
    cursor.setPosition(pos < 0 || pos > last ? last : pos);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TLuTtyBox::ClearLog() {
    QFile::remove(fLogFileName);
}

// Ordinary characters are gathered and inserted in one go at the end of the string; a backspace takes
// back a gathered character, or one already in the text. A line break is one character of the text.
void TLuTtyBox::Feed(const QString &str) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QString pending;
    pending.reserve(str.size());
    for (const QChar ch : str) {
        if (ch == Backspace) {
            if (!pending.isEmpty())
                pending.chop(1);
            else
                cursor.deletePreviousChar();
        } else if (ch == CarriageReturn) {
            pending += u'\n';
        } else if (ch != LineFeed) {
            pending += ch;
        }
        if (fLogMode == lmWriteLog)
            WriteLogChar(ch);
    }
    cursor.insertText(pending);
    cursor.endEditBlock();
}

void TLuTtyBox::WriteLogChar(QChar ch) {
    if (ch.unicode() >= 32)
        fLineCache += ch;
    if (++fCharCount >= TrimEvery) {
        fCharCount = 0;
        TrimFileHead(fLogFileName, fMaxLogSize);
    }
    if (ch == CarriageReturn) {
        WriteTextFile(fLogFileName, fLineCache + QStringLiteral("\r\n"), false);
        fLineCache.clear();
    }
}

void TLuTtyBox::SetLogMode(TLuTtyBoxLogMode mode) {
    if (mode == fLogMode)
        return;
    fLogMode = mode;
    fLineCache.clear(); // a line left unended is not written
    if (mode != lmLogTail) {
        ffollower.reset();
    } else if (!ffollower) {
        ffollower = std::make_unique<TLuLogTail>(fLogFileName);
        ffollower->SetNotifyWindow(&freceiver);
    }
}

void TLuTtyBox::SetLogFileName(const QString &name) {
    const QString fileName = name.isEmpty() ? DefaultLogFileName : name;
    if (fileName == fLogFileName)
        return;
    fLogFileName = fileName;
    if (ffollower)
        ffollower->SetFileName(fileName);
}

// Runs while the follower waits in its notification, so its queue is ours to empty.
void TLuTtyBox::TakeFollowedText() {
    if (ffollower)
        PutString(ffollower->Tail().GetText());
}
