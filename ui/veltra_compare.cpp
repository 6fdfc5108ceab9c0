#include "veltra_compare.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidgetItem *Cell(const QString &text, bool present = true) {
    auto *item = new QTableWidgetItem(present ? text : TVeltraCompare::tr("(нет)"));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (!present)
        item->setForeground(Qt::gray);
    return item;
}

} // namespace

TVeltraCompare::TVeltraCompare(const QString &fileName, const QList<TConfigDifference> &differences,
                               const std::function<QString(const QString &)> &nameOf, QWidget *parent)
    : QDialog(parent) {
    setWindowTitle(tr("Сравнение с файлом %1").arg(QFileInfo(fileName).fileName()));
    auto *column = new QVBoxLayout(this);
    column->addWidget(new QLabel(differences.isEmpty() ? tr("Конфигурация трекера совпадает с файлом.")
                                                       : tr("Отличий: %1").arg(differences.size()),
                                 this));
    auto *table = new QTableWidget(int(differences.size()), 4, this);
    table->setObjectName("Differences");
    table->setHorizontalHeaderLabels({tr("Параметр"), tr("Название"), tr("В трекере"), tr("В файле")});
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < differences.size(); ++row) {
        const TConfigDifference &d = differences[row];
        table->setItem(row, 0, Cell(d.key));
        table->setItem(row, 1, Cell(nameOf(d.key)));
        table->setItem(row, 2, Cell(d.deviceValue, d.onDevice));
        table->setItem(row, 3, Cell(d.fileValue, d.inFile));
    }
    table->resizeColumnsToContents();
    column->addWidget(table, 1);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
    QPushButton *onlyDifferences = buttons->addButton(tr("Загрузить отличия"), QDialogButtonBox::AcceptRole);
    onlyDifferences->setObjectName("BtnLoadDifferences");
    onlyDifferences->setEnabled(!differences.isEmpty());
    QPushButton *whole = buttons->addButton(tr("Загрузить файл"), QDialogButtonBox::ActionRole);
    whole->setObjectName("BtnLoadFile");
    column->addWidget(buttons);
    connect(onlyDifferences, &QPushButton::clicked, this, [this] {
        accept();
        emit LoadDifferences();
    });
    connect(whole, &QPushButton::clicked, this, [this] {
        accept();
        emit LoadWholeFile();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(640, 380);
}
