// TLuNumEdit: a one-line edit for numbers that refuses, key by key, what would not be a number of its
// radix or would leave its range, and shows its text in upper case (hexadecimal digits as "F").
#pragma once

#include "param_values.h"

#include <QLineEdit>

class TLuNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TLuNumEdit(QWidget *parent = nullptr);

    qint64 AsInteger() const { return fvalue; }
    void SetAsInteger(qint64 value);
    double AsDouble() const { return fdouble; }
    void SetAsDouble(double value);
    bool IntNumber() const { return fformat.intNumber; }
    void SetIntNumber(bool intNumber);
    qint64 Min() const { return fformat.min; }
    void SetMin(qint64 min) { fformat.min = min; }
    qint64 Max() const { return fformat.max; }
    void SetMax(qint64 max) { fformat.max = max; }
    int Radix() const { return fformat.radix; }
    // 2, 8, 10 or 16; anything else is ignored.
    void SetRadix(int radix);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void ReadText(const QString &text);
    void ShowValue();

    TNumberFormat fformat;
    qint64 fvalue = 0;
    double fdouble = 0;
};
