// The about window: the program's icon and its product name, version, copyright and comment, read
// from the version strings of the program file. The main window's help menu creates it, shows it
// modally and frees it.
#pragma once

#include "common.h"

#include <QDialog>

class TLuHash;

class TVeltraAbout : public QDialog {
    Q_OBJECT
public:
    // `programFile` is the file whose version strings are shown: the running program unless a test
    // points it at another.
    explicit TVeltraAbout(QWidget *parent = nullptr, const QString &programFile = ProgramPath);
};

// The text of the about window for a program's version strings; missing strings leave their lines
// blank.
QString AboutText(const TLuHash &version);
