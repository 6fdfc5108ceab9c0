// The message box in which the configurator shows the command engine's messages to the engineer
// (device errors, the outcome of a firmware upload). It is created once at start-up and reused: it is
// not modal, so the program goes on while it is up, and it closes itself after a countdown shown on
// its button, so that an unattended message never blocks anything.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

class TVeltraMsgBox : public QDialog {
    Q_OBJECT
public:
    explicit TVeltraMsgBox(QWidget *parent = nullptr);

    // Shows `text` with the picture for the icon bits of `flags` and closes after `timeout` seconds.
    // A message shown while another is up replaces it and starts the countdown again.
    void ShowMsg(const QString &text, int flags, int timeout);
    void HideMsg();

    // The picture (TMsgPicture) for the icon bits of message-box style flags.
    static int PictureOfFlags(int flags);

    void reject() override;

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void TimerTimer();

    QLabel *Icon;
    QLabel *Msg;
    QPushButton *Button;
    QTimer *Timer;
    qint32 ftimeout = 0; // milliseconds left before the box closes itself
};
