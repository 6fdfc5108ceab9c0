// TVeltraBackups: the list of a device's saved configurations (newest first); the chosen one is loaded
// like a configuration file.
#pragma once

#include <QDialog>

class QListWidget;

class TVeltraBackups : public QDialog {
    Q_OBJECT
public:
    TVeltraBackups(const QStringList &paths, QWidget *parent = nullptr);

signals:
    void Chosen(const QString &path);

private:
    void ChooseCurrent();

    QListWidget *fList = nullptr;
};
