#include "veltra_language.h"

#include "LuHash.h"
#include "common.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace {

// Owned here; only the main thread installs and removes them (main() and the tests).
struct TInstalled {
    TInterfaceLanguage language = TInterfaceLanguage::Russian;
    std::unique_ptr<QTranslator> own, qt;
};

TInstalled &Installed() {
    static TInstalled installed;
    return installed;
}

std::unique_ptr<QTranslator> LoadTranslator(const QString &file, const QString &folder) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(file, folder))
        return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator;
}

} // namespace

TInterfaceLanguage ChooseInterfaceLanguage(const QString &setting, const QLocale &system) {
    const QString lang = setting.trimmed().toLower();
    if (lang.startsWith(u"en"))
        return TInterfaceLanguage::English;
    if (!lang.isEmpty())
        return TInterfaceLanguage::Russian;
    return system.language() == QLocale::English ? TInterfaceLanguage::English : TInterfaceLanguage::Russian;
}

TInterfaceLanguage InstallInterfaceLanguage() {
    const QString setting = AppSettings ? AppSettings->GetVal(QStringLiteral("lang")) : QString();
    const TInterfaceLanguage language = ChooseInterfaceLanguage(setting, QLocale::system());
    InstallInterfaceLanguage(language);
    return language;
}

void InstallInterfaceLanguage(TInterfaceLanguage language) {
    RemoveInterfaceLanguage();
    TInstalled &installed = Installed();
    if (language == TInterfaceLanguage::English) {
        installed.own = LoadTranslator(QStringLiteral("veltra_en"), QStringLiteral(":/translations"));
        if (installed.own)
            installed.language = language;
        return;
    }
    // Qt's own texts (file dialogs, the context menu of a text field) are English at the source; they
    // speak Russian too when the system has Qt's translations installed.
    installed.qt =
        LoadTranslator(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

void RemoveInterfaceLanguage() {
    TInstalled &installed = Installed();
    for (auto *translator : {&installed.own, &installed.qt})
        if (*translator) {
            QCoreApplication::removeTranslator(translator->get());
            translator->reset();
        }
    installed.language = TInterfaceLanguage::Russian;
}

TInterfaceLanguage InterfaceLanguage() {
    return Installed().language;
}
