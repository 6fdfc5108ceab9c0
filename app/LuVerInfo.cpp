#include "LuVerInfo.h"

#include "version_block.h"

#include <QCoreApplication>
#include <cstdio>

const char *const VersionFieldNames[13] = {
    "Comments",     "CompanyName",    "FileDescription", "FileVersion",      "FileAllocation",
    "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFilename", "PrivateBuild",
    "ProductName",  "ProductVersion", "SpecialBuild",
};

bool ReadVersionInfo(const QString &fileName, TLuHash &store) {
    store.Clear();
    TLuHash block;
    if (!ReadVersionBlock(fileName, block))
        return false;
    // Only the first language of the translation list is used, as on systems with real resources.
    const QString language = ExtractField(1, block.GetVal("Translation"), QStringLiteral(" ,"));
    if (language.isEmpty())
        return false;
    for (const char *name : VersionFieldNames) {
        const QString key = language + u'.' + QLatin1String(name);
        if (block.KeyIndex(key) >= 0)
            store.SetVal(QLatin1String(name), block.GetVal(key));
    }
    return true;
}

QString VersionLine(const QString &fileName) {
    TLuHash version;
    if (!ReadVersionInfo(fileName, version))
        return QString();
    return version.GetVal("InternalName") + u' ' + version.GetVal("FileVersion");
}

bool AnswerHelpOrVersion(int argc, char **argv, const char *usage) {
    const QByteArray option = argc == 2 ? QByteArray(argv[1]) : QByteArray();
    if (option != "--help" && option != "--version")
        return false;
    QCoreApplication core(argc, argv);
    if (option == "--help")
        std::fputs(usage, stdout);
    else
        std::printf("%s\n", qPrintable(VersionLine(QCoreApplication::applicationFilePath())));
    return true;
}
