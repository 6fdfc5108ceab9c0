#include "veltra_progress_info.h"

#include "common.h"
#include "veltra_look.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

TVeltraProgressInfo::TVeltraProgressInfo(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      LblGlobalInfo(new QLabel(QStringLiteral("Global information"), this)),
      LblCurrentInfo(new QLabel(QStringLiteral("Current information"), this)),
      ProgressBar(new QProgressBar(this)) {
    setWindowTitle(tr("VELTRA - Информация"));
    setFixedSize(314, 172);
    setFont(WindowFont(8));
    CentreWhenShown(this);

    LblGlobalInfo->setObjectName(QStringLiteral("LblGlobalInfo"));
    LblGlobalInfo->setGeometry(16, 16, 282, 41);
    LblGlobalInfo->setWordWrap(true);
    LblGlobalInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblCurrentInfo->setObjectName(QStringLiteral("LblCurrentInfo"));
    LblCurrentInfo->setGeometry(16, 72, 282, 17);
    LblCurrentInfo->setAlignment(Qt::AlignCenter);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(16, 92, 282, 24);
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);

    auto *button = new QPushButton(tr("Отмена"), this);
    button->setObjectName(QStringLiteral("Button"));
    button->setGeometry(223, 136, 75, 25);
    connect(button, &QPushButton::clicked, this, &TVeltraProgressInfo::ButtonClick);
}

void TVeltraProgressInfo::BeginInfo() {
    LblGlobalInfo->clear();
    LblCurrentInfo->clear();
    ProgressBar->setValue(0);
    show();
}

void TVeltraProgressInfo::EndInfo() {
    hide();
}

void TVeltraProgressInfo::SetGlobalInfo(const QString &text) {
    LblGlobalInfo->setText(text);
}

void TVeltraProgressInfo::SetCurrentInfo(const QString &text) {
    LblCurrentInfo->setText(text);
}

void TVeltraProgressInfo::SetProgress(int percent) {
    ProgressBar->setValue(percent);
}

bool TVeltraProgressInfo::ApplyProgressCode(int code, qint64 value, const QString &text) {
    switch (code) {
    case PROGRESS_SHOW:
        BeginInfo();
        return true;
    case PROGRESS_HIDE:
        EndInfo();
        return true;
    case PROGRESS_TEXT:
        SetGlobalInfo(text);
        return true;
    case PROGRESS_STEP:
        SetCurrentInfo(text);
        return true;
    case PROGRESS_PERCENT:
        SetProgress(int(qBound(Q_INT64_C(0), value, Q_INT64_C(100))));
        return true;
    default:
        return false;
    }
}

void TVeltraProgressInfo::reject() {
    // Escape would hide the window while the upload goes on; only the operation's end hides it.
}

void TVeltraProgressInfo::ButtonClick() {
    NotifyProgress(PROGRESS_CANCEL, 1);
}
