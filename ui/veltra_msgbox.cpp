#include "veltra_msgbox.h"

#include "sys_message_box.h"
#include "veltra_look.h"
#include "veltra_pictures.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int TickMs = 1000;

QString CloseCaption() {
    return TVeltraMsgBox::tr("Закрыть");
}
} // namespace

TVeltraMsgBox::TVeltraMsgBox(QWidget *parent)
    : QDialog(parent), Icon(new QLabel(this)), Msg(new QLabel(QStringLiteral("Text"), this)),
      Button(new QPushButton(CloseCaption(), this)), Timer(new QTimer(this)) {
    setWindowTitle(tr("VELTRA - Сообщение"));
    setFixedSize(394, 192);
    setFont(WindowFont(10));
    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    setPalette(black);
    CentreWhenShown(this);

    Icon->setObjectName(QStringLiteral("Icon"));
    Icon->setGeometry(16, 16, MsgPictureSize, MsgPictureSize);
    Msg->setObjectName(QStringLiteral("Msg"));
    Msg->setGeometry(88, 16, 283, 113);
    Msg->setWordWrap(true);
    Msg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Button->setObjectName(QStringLiteral("Button"));
    Button->setGeometry(271, 151, 107, 27);
    Button->setDefault(true);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(TickMs);

    connect(Button, &QPushButton::clicked, this, &TVeltraMsgBox::HideMsg);
    connect(Timer, &QTimer::timeout, this, &TVeltraMsgBox::TimerTimer);
}

int TVeltraMsgBox::PictureOfFlags(int flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
        return mpError;
    case MB_ICONQUESTION:
        return mpQuestion;
    case MB_ICONWARNING:
        return mpWarning;
    default:
        return mpInformation;
    }
}

void TVeltraMsgBox::ShowMsg(const QString &text, int flags, int timeout) {
    Msg->setText(text);
    Icon->setPixmap(MsgBoxPicture(PictureOfFlags(flags), devicePixelRatioF()));
    // A caption left from an earlier countdown would show a number that is no longer true.
    Button->setText(CloseCaption());
    ftimeout = timeout * TickMs;
    Timer->start();
    show();
    raise();
}

void TVeltraMsgBox::HideMsg() {
    hide();
}

void TVeltraMsgBox::reject() {
    HideMsg();
}

void TVeltraMsgBox::hideEvent(QHideEvent *event) {
    Timer->stop();
    QDialog::hideEvent(event);
}

void TVeltraMsgBox::TimerTimer() {
    Button->setText(CloseCaption() + QStringLiteral(" (") + QString::number(ftimeout / TickMs) + u')');
    ftimeout -= Timer->interval();
    if (ftimeout <= 0)
        HideMsg();
}
