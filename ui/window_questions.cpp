#include "window_questions.h"

#include "sys_message_box.h"
#include "veltra_password.h"

#include <QDir>
#include <QFileDialog>

int TDialogQuestions::Confirm(const QString &caption, const QString &text, int flags) {
    return SysMessageBox(caption, text, flags, fowner);
}

QString TDialogQuestions::ChooseFile(bool save, const QString &title, const QString &folder, const QString &name,
                                     const QList<TFileFilter> &filters) {
    // The one save dialog is the configuration's.
    const auto dialog = NewFileDialog(fowner, save, title, QDir(folder).filePath(name), filters,
                                      save ? QStringLiteral("cfg") : QString());
    return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
}

bool TDialogQuestions::AskPassword(QString &password) {
    TVeltraPassword dialog(fowner);
    const bool ok = dialog.exec() == QDialog::Accepted;
    password = dialog.Password();
    return ok;
}
