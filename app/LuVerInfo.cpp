#include "LuVerInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

const char *const FieldNames[] = {
    "Comments",     "CompanyName",    "FileDescription", "FileVersion",      "FileAllocation",
    "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFilename", "PrivateBuild",
    "ProductName",  "ProductVersion", "SpecialBuild",
};

constexpr qsizetype MaxBlockSize = 4096;

// The markers are put together at run time so that this reader's own code never holds a complete
// marker that the search could mistake for a block.
QByteArray Marker(const char *which) {
    return QByteArray("\x7F"
                      "VELTRA-VERINFO-") +
           which + '\x7F';
}

// The payload between the first begin marker that is followed by an end marker within the size limit.
QByteArray FindPayload(const QByteArray &data) {
    const QByteArray begin = Marker("BEGIN");
    const QByteArray end = Marker("END");
    for (qsizetype at = data.indexOf(begin); at >= 0; at = data.indexOf(begin, at + 1)) {
        const qsizetype from = at + begin.size();
        const qsizetype to = data.indexOf(end, from);
        if (to > from && to - from <= MaxBlockSize)
            return data.mid(from, to - from);
    }
    return QByteArray();
}

} // namespace

bool ReadVersionInfo(const QString &fileName, TLuHash &store) {
    store.Clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    TLuHash block;
    block.Assign(QString::fromUtf8(FindPayload(file.readAll())), true, QStringLiteral("="),
                 QStringLiteral("\n"));
    // Only the first language of the translation list is used, as on systems with real resources.
    const QString language = ExtractField(1, block.GetVal("Translation"), QStringLiteral(" ,"));
    if (language.isEmpty())
        return false;
    for (const char *name : FieldNames) {
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
