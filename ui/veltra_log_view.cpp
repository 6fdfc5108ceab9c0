#include "veltra_log_view.h"

#include "LuFiles.h"
#include "LuLogTail.h"
#include "LuTtyBox.h"
#include "LuUtils.h"
#include "common.h"
#include "veltra_pictures.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int DebugTag = 4;
// What a page shows at first: the end of its file.
constexpr qint64 InitialBytes = 1024;

const char *const PageCaptions[] = {QT_TRANSLATE_NOOP("TVeltraLogView", "Конфигуратор"),
                                    QT_TRANSLATE_NOOP("TVeltraLogView", "Коммандер"),
                                    QT_TRANSLATE_NOOP("TVeltraLogView", "COM-порт"), "Debug"};

QFont LogFont() {
    QFont font(QStringLiteral("Consolas"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(8);
    return font;
}

// The box takes the colour of its page, as the rest of the window.
void PaintLikePage(TLuTtyBox *box) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    box->setPalette(palette);
}

} // namespace

TVeltraLogView::TVeltraLogView(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      freceiver([this](quint32 msg, int code, qint64, const QString &) {
          if (msg == LogTailNotifyMessage)
              LogTailNotify(code);
      }) {
    setWindowTitle(tr("VELTRA - Журнал"));
    resize(632, 450);
    setMinimumSize(320, 240);
    auto *frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    auto *panLog = new QWidget(this);
    panLog->setObjectName(QStringLiteral("PanLog"));
    frame->addWidget(panLog);
    auto *panLayout = new QVBoxLayout(panLog);
    panLayout->setContentsMargins(8, 8, 8, 8);
    LogPages = new QTabWidget(panLog);
    LogPages->setObjectName(QStringLiteral("LogPages"));
    LogPages->setTabPosition(QTabWidget::South);
    panLayout->addWidget(LogPages);
    for (int tag = 1; tag <= PageCount; ++tag)
        LogPages->addTab(NewPage(tag), tr(PageCaptions[tag - 1]));
    PreviewKeysOf(this);
    PreviewKeysOf(LogPages->tabBar());
    StartFollowers();
    LogPages->setCurrentIndex(0);
    connect(LogPages, &QTabWidget::currentChanged, this, &TVeltraLogView::ScrollActiveToEnd);
}

// The followers may be waiting in a notification to this window: they are served and stopped while
// the window and its boxes are still whole.
TVeltraLogView::~TVeltraLogView() {
    for (auto &log : logs)
        log.reset();
}

QWidget *TVeltraLogView::NewPage(int tag) {
    auto *page = new QWidget(LogPages);
    page->setObjectName(QStringLiteral("TabLog%1").arg(tag));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    auto *box = new TLuTtyBox(page);
    box->setObjectName(QStringLiteral("LogBox%1").arg(tag));
    box->SetTag(tag);
    box->setFont(LogFont());
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    PaintLikePage(box);
    layout->addWidget(box);
    PreviewKeysOf(box);
    fBoxes[tag - 1] = box;
    if (tag == DebugTag)
        layout->addWidget(NewCommandPanel(page));
    return page;
}

QWidget *TVeltraLogView::NewCommandPanel(QWidget *page) {
    auto *panel = new QWidget(page);
    panel->setObjectName(QStringLiteral("PanCmd"));
    panel->setFixedHeight(28);
    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 3, 0, 3);
    row->setSpacing(4);
    CbCmd = new QComboBox(panel);
    CbCmd->setObjectName(QStringLiteral("CbCmd"));
    CbCmd->setEditable(true);
    // The history is kept by SendCommand: new commands at the top, each once.
    CbCmd->setInsertPolicy(QComboBox::NoInsert);
    CbCmd->setEditText(QStringLiteral("R_INFO"));
    SbCmd = new QToolButton(panel);
    SbCmd->setObjectName(QStringLiteral("SbCmd"));
    SbCmd->setFixedSize(22, 22);
    SbCmd->setIcon(ToolbarGlyph(glyphSendCmd));
    connect(SbCmd, &QToolButton::clicked, this, &TVeltraLogView::SendCommand);
    row->addWidget(CbCmd, 1);
    row->addWidget(SbCmd);
    PreviewKeysOf(CbCmd->lineEdit());
    PreviewKeysOf(SbCmd);
    return panel;
}

// Each page shows the end of its file as it is now, and its follower goes on from exactly there, so
// nothing reaches a box twice. A file that does not exist yet is followed from its start once it does.
void TVeltraLogView::StartFollowers() {
    const QString files[PageCount] = {MainLogFile, CmdLogFile, ComLogFile, DbgLogFile};
    for (int i = 0; i < PageCount; ++i) {
        qint64 end = -1;
        const QString text = ReadTextFile(files[i], -InitialBytes, &end);
        logs[i] = std::make_unique<TLuLogTail>(files[i], std::max<qint64>(end, 0));
        logs[i]->SetNotifyWindow(&freceiver);
        logs[i]->SetTag(i + 1);
        if (TLuTtyBox *box = BoxForTag(i + 1)) {
            box->clear();
            box->PutString(text);
        }
    }
}

TLuTtyBox *TVeltraLogView::BoxForTag(int tag) const {
    return tag >= 1 && tag <= PageCount ? fBoxes[tag - 1] : nullptr;
}

// Runs while the follower waits in its notification; its queue is emptied even without a box, or it
// would fill up and stop the follower for good. An error (-1) has queued nothing and shows nothing.
void TVeltraLogView::LogTailNotify(int tag) {
    TLuLogTail *log = tag >= 1 && tag <= PageCount ? logs[tag - 1].get() : nullptr;
    if (!log)
        return;
    const QString text = log->Tail().GetText();
    if (TLuTtyBox *box = BoxForTag(tag))
        box->PutString(text);
}

void TVeltraLogView::ScrollActiveToEnd() {
    if (TLuTtyBox *box = BoxForTag(LogPages->currentIndex() + 1))
        box->ScrollTo(-1);
}

void TVeltraLogView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    ScrollActiveToEnd();
}

void TVeltraLogView::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ScrollActiveToEnd();
}

void TVeltraLogView::SendCommand() {
    const QString text = TrimText(CbCmd->currentText()).toUpper();
    // An empty line would reach the tracker as an empty command and clutter the history.
    if (text.isEmpty() || !MainWindowHandle.load() || AppMessage == 0)
        return;
    BoxForTag(DebugTag)->PutString(QStringLiteral("\r>") + text);
    NotifyMainWindow(MSG_DEV_SEND_STR, 0, text);
    if (CbCmd->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        // Inserting into an empty list would replace the line's text with the item.
        const QString typed = CbCmd->currentText();
        CbCmd->insertItem(0, text);
        CbCmd->setEditText(typed);
    }
}

// The window sees the keys of its controls before they do.
void TVeltraLogView::PreviewKeysOf(QWidget *control) {
    control->installEventFilter(this);
}

bool TVeltraLogView::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto &key = static_cast<const QKeyEvent &>(*event);
    if (FormKeyDown(watched, key))
        return true;
    return watched == CbCmd->lineEdit() && CbCmdKeyPress(key);
}

// Esc hides the window. On the "Debug" page every other key brings the command line into focus, and a
// typed character goes there too, so that typing on that page always writes the command.
bool TVeltraLogView::FormKeyDown(QObject *watched, const QKeyEvent &key) {
    if (key.key() == Qt::Key_Escape) {
        hide();
        return true;
    }
    QLineEdit *line = CbCmd->lineEdit();
    if (LogPages->currentIndex() + 1 != DebugTag || watched == line)
        return false;
    line->setFocus();
    if (key.text().isEmpty() || !key.text().front().isPrint())
        return false;
    QKeyEvent typed(key.type(), key.key(), key.modifiers(), key.text(), key.isAutoRepeat(), key.count());
    QCoreApplication::sendEvent(line, &typed);
    return true;
}

// Enter sends; a typed letter arrives in upper case (the tracker's commands are upper case).
bool TVeltraLogView::CbCmdKeyPress(const QKeyEvent &key) {
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
        SendCommand();
        return true;
    }
    const QString upper = key.text().toUpper();
    if (upper == key.text())
        return false;
    QKeyEvent typed(key.type(), key.key(), key.modifiers(), upper, key.isAutoRepeat(), key.count());
    QCoreApplication::sendEvent(CbCmd->lineEdit(), &typed);
    return true;
}
