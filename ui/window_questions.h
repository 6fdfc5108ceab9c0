// Every question the main window asks the person: a confirmation (the standard question box), a file
// to open or save, the tracker's password. The program answers them with the real dialogs; a test
// gives the window its own answers and no modal box ever opens.
#pragma once

#include "file_dialog.h"

#include <QList>
#include <QString>

class QWidget;

class TWindowQuestions {
public:
    virtual ~TWindowQuestions() = default;
    // The answer of the standard question box (IDYES, IDNO, ...; sys_message_box.h).
    virtual int Confirm(const QString &caption, const QString &text, int flags) = 0;
    // The chosen path, empty when cancelled.
    virtual QString ChooseFile(bool save, const QString &title, const QString &folder, const QString &name,
                               const QList<TFileFilter> &filters) = 0;
    // True with the password typed, false when cancelled.
    virtual bool AskPassword(QString &password) = 0;
};

// The real dialogs, over `owner`.
class TDialogQuestions : public TWindowQuestions {
public:
    explicit TDialogQuestions(QWidget *owner) : fowner(owner) {}
    int Confirm(const QString &caption, const QString &text, int flags) override;
    QString ChooseFile(bool save, const QString &title, const QString &folder, const QString &name,
                       const QList<TFileFilter> &filters) override;
    bool AskPassword(QString &password) override;

private:
    QWidget *fowner;
};
