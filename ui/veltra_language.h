// The language of the windows. Their texts are written in Russian, which stays the default; English
// comes from a translation built into the program. Log lines are never translated: people and scripts
// read them as they are.
//
// main() installs the language once, after StartUp, before the first window; tests install and remove
// it around the windows they check.
#pragma once

#include <QLocale>
#include <QString>

enum class TInterfaceLanguage { Russian, English };

// The setting lang ("en", "ru", any case) decides; without it an English system locale chooses English.
TInterfaceLanguage ChooseInterfaceLanguage(const QString &setting, const QLocale &system);

// Installs the translation for the language chosen from AppSettings and the system locale, with Qt's
// own translation of its standard dialogs where the system has one.
TInterfaceLanguage InstallInterfaceLanguage();
void InstallInterfaceLanguage(TInterfaceLanguage language);
void RemoveInterfaceLanguage();

// The language installed last (Russian before any).
TInterfaceLanguage InterfaceLanguage();
