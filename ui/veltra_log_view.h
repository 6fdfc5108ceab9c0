// TVeltraLogView: the log window. Four pages show the four log files live (main, commands, serial
// traffic, debug), each followed by its own TLuLogTail from the window's creation on, so the pages are
// up to date whenever the window is shown. The "Debug" page has a command line whose text goes to the
// main window (code MSG_DEV_SEND_STR), which queues it for the tracker. Created hidden at start-up,
// right after the main window, which places and shows it; Esc hides it.
#pragma once

#include "notify.h"

#include <QWidget>
#include <array>
#include <memory>

class QComboBox;
class QTabWidget;
class QToolButton;
class TLuLogTail;
class TLuTtyBox;

class TVeltraLogView : public QWidget {
    Q_OBJECT
public:
    explicit TVeltraLogView(QWidget *parent = nullptr);
    ~TVeltraLogView() override;

    // The box showing the page of `tag` (1 to 4), or none.
    TLuTtyBox *BoxForTag(int tag) const;
    // Sends the command line's text, as the Enter key and the button beside the line do.
    void SendCommand();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    static constexpr int PageCount = 4;

    QWidget *NewPage(int tag);
    QWidget *NewCommandPanel(QWidget *page);
    void StartFollowers();
    void LogTailNotify(int tag);
    void ScrollActiveToEnd();
    bool FormKeyDown(QObject *watched, const QKeyEvent &key);
    bool CbCmdKeyPress(const QKeyEvent &key);
    void PreviewKeysOf(QWidget *control);

    QTabWidget *LogPages;
    std::array<TLuTtyBox *, PageCount> fBoxes{};
    QComboBox *CbCmd = nullptr;
    QToolButton *SbCmd = nullptr;
    // The followers notify the receiver, so they come after it and are stopped in the destructor.
    TNotifyForwarder freceiver;
    std::array<std::unique_ptr<TLuLogTail>, PageCount> logs;
};
