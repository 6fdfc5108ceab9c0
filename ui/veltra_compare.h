// TVeltraCompare: what a configuration file would change on the connected tracker, one row per
// parameter (key, name, the device's value, the file's value), with the choice to load only those
// differences or the whole file.
#pragma once

#include "param_description.h"

#include <QDialog>
#include <functional>

class TVeltraCompare : public QDialog {
    Q_OBJECT
public:
    // `nameOf` gives a key's display name.
    TVeltraCompare(const QString &fileName, const QList<TConfigDifference> &differences,
                   const std::function<QString(const QString &)> &nameOf, QWidget *parent = nullptr);

signals:
    void LoadDifferences();
    void LoadWholeFile();
};
