#include "veltra_look.h"

#include "veltra_pictures.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QWidget>

QFont WindowFont(qreal pointSize) {
    // The windows were laid out for Tahoma; Linux desktops rarely have it, and a substitute chosen by
    // the font matcher can be a serif face, so the platform's own UI font stands in.
    static const QString tahoma = QStringLiteral("Tahoma");
    QFont font = QFontDatabase::hasFamily(tahoma) ? QFont(tahoma)
                                                  : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(pointSize);
    return font;
}

namespace {

// Runs after the dialog has placed itself over its parent, which is where Qt puts a dialog by default.
class TCentreOnShow : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show)
            Centre(static_cast<QWidget *>(watched));
        return false;
    }

private:
    static void Centre(QWidget *window) {
        QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
};

} // namespace

void CentreWhenShown(QWidget *window) {
    window->installEventFilter(new TCentreOnShow(window));
}

void SetUpProgramWindows(qreal devicePixelRatio) {
    QGuiApplication::setDesktopFileName(QStringLiteral("veltra-configure"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(ProgramIcon(size, devicePixelRatio));
    QGuiApplication::setWindowIcon(icon);
}
