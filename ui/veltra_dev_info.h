// The window that shows the identification of the connected tracker (name, IMEI, software and board
// versions). It is created once at start-up and reused: the main window refills it and shows it at
// the mouse cursor each time the engineer asks; its button only hides it. The placement at the cursor
// is a free function because it suits any small window.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>

class QPushButton;

class TVeltraDevInfo : public QDialog {
    Q_OBJECT
public:
    explicit TVeltraDevInfo(QWidget *parent = nullptr);

    // `info` is key/value text, one "name=value" a line (CR separated); every single-line edit of the
    // window shows the value of its own object name, an absent key leaving the edit empty.
    void UpdateDevInfo(const QString &info);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void AddField(const QString &caption, const QString &editName, int top);

    QPushButton *ButClose;
};

// Moves `window` (without resizing it) to the mouse cursor, or centres it on the cursor along the
// axes asked for, keeping it inside the work area of the cursor's screen.
void MoveWindowToCursor(QWidget *window, bool centreHorizontally, bool centreVertically);

// Where MoveWindowToCursor puts the top left corner of a window of `size`: `workArea` is the screen
// less the taskbar.
QPoint WindowPosAtCursor(QPoint cursor, QSize size, const QRect &workArea, bool centreHorizontally,
                         bool centreVertically);
