// The provisioning station's window: a tile per slot, readable from across the bench (the socket, the
// tracker's IMEI, its stage in words and colour, a bar for the firmware and the write), and a summary
// line. It only shows: the station (TProvisioningStation) does the work and tells it what changed.
#pragma once

#include "provisioning_station.h"

#include <QFrame>
#include <QHash>
#include <QWidget>

class QGridLayout;
class QLabel;
class QProgressBar;

class TSlotTile : public QFrame {
    Q_OBJECT
public:
    explicit TSlotTile(const TSlotState &state, QWidget *parent = nullptr);
    void Show(const TSlotState &state);

    QString StageText() const;
    QString ImeiText() const;
    QString DetailText() const;
    int ProgressValue() const;
    bool ProgressShown() const;
    QColor Colour() const;

    static QString StageWords(const TSlotState &state);
    static QColor StageColour(TSlotStage stage);

private:
    QLabel *fname, *fpath, *fimei, *fstage, *fdetail;
    QProgressBar *fbar;
};

class TStationWindow : public QWidget, public TStationObserver {
    Q_OBJECT
public:
    TStationWindow(const QString &jobName, const QList<TSlotState> &slotStates, QWidget *parent = nullptr);

    void SlotChanged(const TSlotState &state) override;
    void Recorded(const TAuditRecord &record) override;
    void Warning(const QString &text) override;
    void ShowSummary(const TStationSummary &summary);
    void SetJobName(const QString &jobName);

    TSlotTile *Tile(const QString &slot) const { return ftiles.value(slot); }
    QString SummaryText() const;
    QString LastEventText() const;

private:
    QGridLayout *fgrid;
    QLabel *fsummary, *flast;
    QHash<QString, TSlotTile *> ftiles;
};
