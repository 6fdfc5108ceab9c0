#include "veltra_password.h"

#include "veltra_look.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TVeltraPassword::TVeltraPassword(QWidget *parent)
    : QDialog(parent), EdPassword(new QLineEdit(this)),
      CbShowPassword(new QCheckBox(tr("Показать пароль"), this)) {
    setWindowTitle(tr("VELTRA - Пароль"));
    setFixedSize(314, 172);
    setFont(WindowFont(8));
    CentreWhenShown(this);

    auto *label = new QLabel(tr("Введите пароль для доступа к данным:"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setGeometry(16, 16, 282, 17);
    EdPassword->setObjectName(QStringLiteral("EdPassword"));
    EdPassword->setGeometry(16, 40, 282, 24);
    // The masking character is the style's (often a bullet); the engineer expects asterisks.
    EdPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    CbShowPassword->setObjectName(QStringLiteral("CbShowPassword"));
    CbShowPassword->setGeometry(16, 76, 282, 20);

    auto *ok = new QPushButton(tr("ОК"), this);
    ok->setObjectName(QStringLiteral("ButOK"));
    ok->setGeometry(142, 136, 75, 25);
    ok->setDefault(true);
    auto *cancel = new QPushButton(tr("Отмена"), this);
    cancel->setObjectName(QStringLiteral("ButCancel"));
    cancel->setGeometry(223, 136, 75, 25);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(CbShowPassword, &QCheckBox::toggled, this, &TVeltraPassword::CbShowPasswordClick);
    CbShowPasswordClick();
    EdPassword->setFocus();
}

QString TVeltraPassword::Password() const {
    return EdPassword->text();
}

void TVeltraPassword::CbShowPasswordClick() {
    EdPassword->setEchoMode(CbShowPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}
