// The open and save dialogs of the main window. A filter entry shows its name only ("Все файлы"), as
// the engineer knows the dialogs; its patterns choose the files without being shown. The save dialog
// asks before overwriting and gives a name typed without an extension the default one.
#pragma once

#include <QList>
#include <QString>
#include <memory>

class QFileDialog;
class QWidget;

struct TFileFilter {
    QString name;     // what the dialog's list shows
    QString patterns; // e.g. "*.cfg", blank-separated
};

// The filters in Qt's text form ("name (patterns);;..."), as the dialog hook of the tests receives them.
QString FileFiltersText(const QList<TFileFilter> &filters);

// `defaultSuffix` (without the dot) applies to save dialogs; empty for none.
std::unique_ptr<QFileDialog> NewFileDialog(QWidget *parent, bool save, const QString &title,
                                           const QString &proposedPath, const QList<TFileFilter> &filters,
                                           const QString &defaultSuffix);
