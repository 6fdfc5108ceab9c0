// The standard question box of the configurator: a caption, a text, the buttons and the icon chosen by
// Windows-style style bits, answered with the Windows identifier of the button pressed. The main
// window asks its questions (close with unwritten changes, reboot) through it. A test answers them by
// setting a hook, so that no test ever waits on a real modal box.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

// Style bits: one button set, optionally added to one icon.
enum : int {
    MB_OK = 0,
    MB_YESNOCANCEL = 3,
    MB_YESNO = 4,
    MB_TYPEMASK = 0x0F,
    MB_ICONERROR = 16,
    MB_ICONQUESTION = 32,
    MB_ICONWARNING = 48,
    MB_ICONINFORMATION = 64,
    MB_ICONMASK = 0xF0,
};
// Answers.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

using TSysMessageBoxHook = std::function<int(const QString &caption, const QString &text, int flags)>;

// While a hook is set, SysMessageBox returns its answer and shows nothing. An empty hook removes it.
void SetSysMessageBoxHook(TSysMessageBoxHook hook);

// Shows the box modally over `owner` and returns the answer.
int SysMessageBox(const QString &caption, const QString &text, int flags, QWidget *owner = nullptr);

// The box SysMessageBox shows, not yet shown, and the answer of the button that closed it.
std::unique_ptr<QMessageBox> NewSysMessageBox(const QString &caption, const QString &text, int flags,
                                              QWidget *owner);
int SysMessageBoxAnswer(const QMessageBox &box);
