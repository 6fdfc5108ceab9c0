#include "file_dialog.h"

#include <QFileDialog>

QString FileFiltersText(const QList<TFileFilter> &filters) {
    QStringList entries;
    for (const TFileFilter &filter : filters)
        entries << filter.name + QStringLiteral(" (") + filter.patterns + u')';
    return entries.join(QStringLiteral(";;"));
}

std::unique_ptr<QFileDialog> NewFileDialog(QWidget *parent, bool save, const QString &title,
                                           const QString &proposedPath, const QList<TFileFilter> &filters,
                                           const QString &defaultSuffix) {
    auto dialog = std::make_unique<QFileDialog>(parent, title, proposedPath, FileFiltersText(filters));
    // The shown names are the filters' names alone: Qt strips the last "(patterns)" of each entry.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save)
        dialog->setDefaultSuffix(defaultSuffix);
    return dialog;
}
