#include "LuNumEdt.h"

#include "LuUtils.h"

#include <QKeyEvent>
#include <QLocale>

TLuNumEdit::TLuNumEdit(QWidget *parent) : QLineEdit(QStringLiteral("0"), parent) {
    fformat.decimalPoint = QLocale().decimalPoint().at(0);
    resize(65, sizeHint().height());
    connect(this, &QLineEdit::textChanged, this, &TLuNumEdit::ReadText);
}

void TLuNumEdit::SetAsInteger(qint64 value) {
    if (!fformat.InRange(double(value)))
        return;
    fvalue = value;
    fdouble = double(value);
    ShowValue();
}

void TLuNumEdit::SetAsDouble(double value) {
    if (!fformat.InRange(value))
        return;
    fdouble = value;
    if (fformat.intNumber)
        fvalue = qint64(value);
    ShowValue();
}

void TLuNumEdit::SetIntNumber(bool intNumber) {
    if (intNumber == fformat.intNumber)
        return;
    fformat.intNumber = intNumber;
    ShowValue();
}

void TLuNumEdit::SetRadix(int radix) {
    if (radix != 2 && radix != 8 && radix != 10 && radix != 16)
        return;
    fformat.radix = radix;
    ShowValue();
}

void TLuNumEdit::ShowValue() {
    if (!fformat.intNumber) {
        setText(QLocale().toString(fdouble, 'g', QLocale::FloatingPointShortest));
        return;
    }
    setText(IntToBase(0, fformat.radix, fvalue));
}

void TLuNumEdit::ReadText(const QString &text) {
    if (fformat.intNumber) {
        fvalue = TextToInt(text, fformat.radix, 0);
        fdouble = double(fvalue);
    } else {
        fdouble = TextToFloat(text);
        fvalue = qint64(fdouble);
    }
}

void TLuNumEdit::keyPressEvent(QKeyEvent *event) {
    const QString typed = event->text();
    // Keys without a printable character (moves, deletion, shortcuts) and backspace keep their meaning.
    if (typed.size() != 1 || !typed[0].isPrint() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QChar ch = typed[0];
    const int selStart = hasSelectedText() ? selectionStart() : cursorPosition();
    if (!NumberKeyAccepted(fformat, text(), cursorPosition(), selStart, int(selectedText().size()), ch)) {
        event->accept();
        return;
    }
    if (ch == u'.')
        ch = fformat.decimalPoint;
    insert(QString(ch.toUpper()));
    event->accept();
}
