// TLuLed: the status strip's lamp, lit green while a tracker is connected and dark silver otherwise.
#pragma once

#include <QWidget>

class TLuLed : public QWidget {
    Q_OBJECT
public:
    explicit TLuLed(QWidget *parent = nullptr);
    bool Lit() const { return flit; }
    void SetLit(bool lit);
    QSize sizeHint() const override { return {12, 21}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool flit = false;
};
