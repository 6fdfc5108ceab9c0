#include "sys_message_box.h"

#include <QCoreApplication>
#include <QPushButton>
#include <utility>

namespace {

TSysMessageBoxHook &Hook() {
    static TSysMessageBoxHook hook;
    return hook;
}

struct TButtonKind {
    QMessageBox::StandardButton button;
    const char *caption; // the captions of a Russian Windows, which the rest of the program speaks
    int answer;
};

const TButtonKind OkButton{QMessageBox::Ok, QT_TRANSLATE_NOOP("SysMessageBox", "ОК"), IDOK};
const TButtonKind YesButton{QMessageBox::Yes, QT_TRANSLATE_NOOP("SysMessageBox", "Да"), IDYES};
const TButtonKind NoButton{QMessageBox::No, QT_TRANSLATE_NOOP("SysMessageBox", "Нет"), IDNO};
const TButtonKind CancelButton{QMessageBox::Cancel, QT_TRANSLATE_NOOP("SysMessageBox", "Отмена"), IDCANCEL};

QList<TButtonKind> ButtonsOf(int flags) {
    switch (flags & MB_TYPEMASK) {
    case MB_YESNOCANCEL:
        return {YesButton, NoButton, CancelButton};
    case MB_YESNO:
        return {YesButton, NoButton};
    default:
        return {OkButton};
    }
}

QMessageBox::Icon IconOf(int flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void SetSysMessageBoxHook(TSysMessageBoxHook hook) {
    Hook() = std::move(hook);
}

std::unique_ptr<QMessageBox> NewSysMessageBox(const QString &caption, const QString &text, int flags,
                                              QWidget *owner) {
    auto box = std::make_unique<QMessageBox>(IconOf(flags), caption, text, QMessageBox::NoButton, owner);
    // A text can hold something to copy: a file name, or the command that grants access to a port.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QList<TButtonKind> buttons = ButtonsOf(flags);
    for (const TButtonKind &kind : buttons)
        box->addButton(kind.button)->setText(QCoreApplication::translate("SysMessageBox", kind.caption));
    // As on Windows, the first button is the default one.
    box->setDefaultButton(buttons.first().button);
    return box;
}

int SysMessageBoxAnswer(const QMessageBox &box) {
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (const TButtonKind &kind : {OkButton, YesButton, NoButton, CancelButton})
        if (kind.button == pressed)
            return kind.answer;
    // Closed without a button (the window's close box or Escape without a cancel button).
    return IDCANCEL;
}

int SysMessageBox(const QString &caption, const QString &text, int flags, QWidget *owner) {
    if (Hook())
        return Hook()(caption, text, flags);
    const std::unique_ptr<QMessageBox> box = NewSysMessageBox(caption, text, flags, owner);
    box->exec();
    return SysMessageBoxAnswer(*box);
}
