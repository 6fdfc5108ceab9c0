// The window in which the engineer types the access password of a locked tracker. The main window
// creates it when the device asks for its password, shows it modally and frees it; it keeps nothing
// once closed.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

class TVeltraPassword : public QDialog {
    Q_OBJECT
public:
    explicit TVeltraPassword(QWidget *parent = nullptr);

    QString Password() const;

private:
    void CbShowPasswordClick();

    QLineEdit *EdPassword;
    QCheckBox *CbShowPassword;
};
