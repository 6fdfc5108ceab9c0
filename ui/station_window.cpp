#include "station_window.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

namespace {

QLabel *NewLabel(QWidget *parent, int pointSize, bool bold) {
    auto *label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

// A recorded outcome in the window's words.
QString OutcomeWords(const QString &result) {
    if (result == u"done")
        return TSlotTile::tr("готово");
    if (result == u"interrupted")
        return TSlotTile::tr("прервано");
    if (result == u"refused")
        return TSlotTile::tr("отказ в записи");
    if (result == u"mismatched")
        return TSlotTile::tr("расхождение при проверке");
    return TSlotTile::tr("ошибка");
}

} // namespace

TSlotTile::TSlotTile(const TSlotState &state, QWidget *parent) : QFrame(parent) {
    setObjectName(QStringLiteral("slotTile"));
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(260, 170);
    setAutoFillBackground(true);
    fname = NewLabel(this, 20, true);
    fstage = NewLabel(this, 24, true);
    fpath = NewLabel(this, 8, false);
    fimei = NewLabel(this, 12, false);
    fdetail = NewLabel(this, 9, false);
    fbar = new QProgressBar(this);
    fbar->setTextVisible(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(fname);
    layout->addWidget(fpath);
    layout->addWidget(fimei);
    layout->addWidget(fstage);
    layout->addWidget(fbar);
    layout->addWidget(fdetail);
    layout->addStretch();
    Show(state);
}

QString TSlotTile::StageWords(const TSlotState &s) {
    switch (s.stage) {
    case TSlotStage::Waiting: return tr("Ожидание трекера");
    case TSlotStage::Identifying: return tr("Определение");
    case TSlotStage::Skipped: return tr("Уже настроен");
    case TSlotStage::Backup: return tr("Резервная копия");
    case TSlotStage::Firmware: return tr("Прошивка");
    case TSlotStage::Writing: return tr("Запись %1 из %2").arg(s.written).arg(s.toWrite);
    case TSlotStage::Verifying: return tr("Проверка");
    case TSlotStage::Done: return tr("Готово");
    case TSlotStage::Failed: return tr("Ошибка");
    }
    return QString();
}

// Grey waits, amber works, green is done, red needs a person: told apart from across the room.
QColor TSlotTile::StageColour(TSlotStage stage) {
    switch (stage) {
    case TSlotStage::Waiting: return QColor(0xCF, 0xD8, 0xDC);
    case TSlotStage::Done: return QColor(0x2E, 0x9D, 0x3A);
    case TSlotStage::Skipped: return QColor(0x7C, 0xC5, 0x7F);
    case TSlotStage::Failed: return QColor(0xD3, 0x2F, 0x2F);
    case TSlotStage::Firmware: return QColor(0x42, 0x8F, 0xE0);
    default: return QColor(0xFF, 0xC1, 0x2E);
    }
}

void TSlotTile::Show(const TSlotState &s) {
    QPalette p = palette();
    const QColor colour = StageColour(s.stage);
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::WindowText, colour.lightness() < 140 ? Qt::white : Qt::black);
    setPalette(p);
    fname->setText(s.name);
    fpath->setText(s.path);
    fimei->setText(s.imei.isEmpty() ? QString() : QStringLiteral("IMEI ") + s.imei);
    fstage->setText(StageWords(s));
    const bool writing = s.stage == TSlotStage::Writing && s.toWrite > 0;
    const bool firmware = s.stage == TSlotStage::Firmware;
    fbar->setVisible(writing || firmware);
    fbar->setRange(0, writing ? s.toWrite : 100);
    fbar->setValue(writing ? s.written : s.percent);
    fbar->setFormat(writing ? QStringLiteral("%v / %m") : QStringLiteral("%p%"));
    QString detail = s.detail;
    if (s.stage == TSlotStage::Waiting && !s.lastResult.isEmpty())
        detail = tr("Предыдущий трекер: %1").arg(OutcomeWords(s.lastResult));
    fdetail->setText(detail);
}

QString TSlotTile::StageText() const {
    return fstage->text();
}

QString TSlotTile::ImeiText() const {
    return fimei->text();
}

QString TSlotTile::DetailText() const {
    return fdetail->text();
}

int TSlotTile::ProgressValue() const {
    return fbar->value();
}

bool TSlotTile::ProgressShown() const {
    return !fbar->isHidden();
}

QColor TSlotTile::Colour() const {
    return palette().color(QPalette::Window);
}

TStationWindow::TStationWindow(const QString &jobName, const QList<TSlotState> &slotStates, QWidget *parent)
    : QWidget(parent) {
    SetJobName(jobName);
    fgrid = new QGridLayout;
    fsummary = NewLabel(this, 14, true);
    flast = NewLabel(this, 10, false);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fgrid, 1);
    layout->addWidget(fsummary);
    layout->addWidget(flast);
    const int columns = std::clamp(int(std::ceil(std::sqrt(double(slotStates.size())))), 1, 4);
    for (const TSlotState &state : slotStates) {
        auto *tile = new TSlotTile(state, this);
        const int index = int(ftiles.size());
        fgrid->addWidget(tile, index / columns, index % columns);
        ftiles.insert(state.name, tile);
    }
    ShowSummary({});
}

void TStationWindow::SetJobName(const QString &jobName) {
    setWindowTitle(tr("VELTRA - Станция: %1").arg(jobName));
}

void TStationWindow::SlotChanged(const TSlotState &state) {
    if (TSlotTile *tile = ftiles.value(state.name))
        tile->Show(state);
}

void TStationWindow::Recorded(const TAuditRecord &record) {
    flast->setText(QStringLiteral("%1: %2 — %3").arg(record.slot, record.imei, OutcomeWords(record.result)) +
                   (record.reason.isEmpty() ? QString() : QStringLiteral(" (") + record.reason + u')'));
}

void TStationWindow::Warning(const QString &text) {
    flast->setText(text);
}

void TStationWindow::ShowSummary(const TStationSummary &s) {
    fsummary->setText(tr("Готово: %1    Ошибки: %2    Пропущено: %3    В работе: %4    Трекеров в час: %5")
                          .arg(s.done)
                          .arg(s.failed)
                          .arg(s.skipped)
                          .arg(s.inProgress)
                          .arg(s.perHour, 0, 'f', 1));
}

QString TStationWindow::SummaryText() const {
    return fsummary->text();
}

QString TStationWindow::LastEventText() const {
    return flast->text();
}
