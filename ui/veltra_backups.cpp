#include "veltra_backups.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TVeltraBackups::TVeltraBackups(const QStringList &paths, QWidget *parent) : QDialog(parent) {
    setWindowTitle(tr("Резервные копии конфигурации"));
    auto *column = new QVBoxLayout(this);
    column->addWidget(new QLabel(paths.isEmpty() ? tr("Для этого трекера резервных копий нет.")
                                                 : tr("Сохранены перед записью или обновлением:"),
                                 this));
    fList = new QListWidget(this);
    fList->setObjectName("BackupList");
    for (const QString &path : paths) {
        auto *item = new QListWidgetItem(QFileInfo(path).fileName(), fList);
        item->setData(Qt::UserRole, path);
        item->setToolTip(path);
    }
    fList->setCurrentRow(0);
    column->addWidget(fList, 1);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
    QPushButton *load = buttons->addButton(tr("Загрузить"), QDialogButtonBox::AcceptRole);
    load->setObjectName("BtnLoad");
    load->setEnabled(!paths.isEmpty());
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TVeltraBackups::ChooseCurrent);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(fList, &QListWidget::itemDoubleClicked, this, &TVeltraBackups::ChooseCurrent);
    resize(420, 300);
}

void TVeltraBackups::ChooseCurrent() {
    const QListWidgetItem *item = fList->currentItem();
    if (!item)
        return;
    accept();
    emit Chosen(item->data(Qt::UserRole).toString());
}
