#include "veltra_dev_info.h"

#include "LuHash.h"
#include "veltra_look.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr int FieldLeft = 16;
constexpr int FieldWidth = 282;
constexpr int FieldStep = 48;
} // namespace

TVeltraDevInfo::TVeltraDevInfo(QWidget *parent)
    : QDialog(parent, Qt::Tool), ButClose(new QPushButton(tr("Закрыть"), this)) {
    setWindowTitle(tr("VELTRA - Информация об устройстве"));
    setFixedSize(314, 252);
    setFont(WindowFont(8));

    AddField(tr("Наименование:"), QStringLiteral("DevName"), 12);
    AddField(QStringLiteral("IMEI:"), QStringLiteral("DevIMEI"), 12 + FieldStep);
    AddField(tr("Версия программы:"), QStringLiteral("DevSwVersion"), 12 + 2 * FieldStep);
    AddField(tr("Версия платы:"), QStringLiteral("DevHwVersion"), 12 + 3 * FieldStep);

    ButClose->setObjectName(QStringLiteral("ButClose"));
    ButClose->setGeometry(223, 215, 75, 25);
    ButClose->setDefault(true);
    // Escape reaches the dialog's reject(), which hides it, as the button does.
    connect(ButClose, &QPushButton::clicked, this, &QDialog::hide);
}

void TVeltraDevInfo::AddField(const QString &caption, const QString &editName, int top) {
    auto *label = new QLabel(caption, this);
    label->setGeometry(FieldLeft, top, FieldWidth, 16);
    auto *edit = new QLineEdit(this);
    edit->setObjectName(editName);
    edit->setReadOnly(true);
    edit->setGeometry(FieldLeft, top + 17, FieldWidth, 23);
    label->setBuddy(edit);
}

void TVeltraDevInfo::UpdateDevInfo(const QString &info) {
    TLuHash values;
    values.Assign(info, true, StdKeySeparators, QStringLiteral("\r"));
    for (QLineEdit *edit : findChildren<QLineEdit *>())
        edit->setText(values.GetVal(edit->objectName()));
}

void TVeltraDevInfo::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    ButClose->setFocus();
}

QPoint WindowPosAtCursor(QPoint cursor, QSize size, const QRect &workArea, bool centreHorizontally,
                         bool centreVertically) {
    QPoint pos = cursor;
    if (centreHorizontally)
        pos.rx() -= size.width() / 2;
    if (centreVertically)
        pos.ry() -= size.height() / 2;
    // The far edges first, so that a window larger than the area keeps its top left corner visible.
    pos.setX(qMax(qMin(pos.x(), workArea.x() + workArea.width() - size.width()), workArea.x()));
    pos.setY(qMax(qMin(pos.y(), workArea.y() + workArea.height() - size.height()), workArea.y()));
    return pos;
}

void MoveWindowToCursor(QWidget *window, bool centreHorizontally, bool centreVertically) {
    const QPoint cursor = QCursor::pos();
    QScreen *screen = QGuiApplication::screenAt(cursor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    // Qt's available geometry is the screen less the taskbar and docks the system reports.
    const QRect workArea =
        screen ? screen->availableGeometry() : QRect(cursor, window->frameGeometry().size());
    window->move(WindowPosAtCursor(cursor, window->frameGeometry().size(), workArea, centreHorizontally,
                                   centreVertically));
}
