// The version strings of a program file from its Windows version resource (VERSIONINFO).
#include "version_block.h"

#include <QDir>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

QString QueryString(const std::vector<char> &data, const QString &path) {
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), reinterpret_cast<const wchar_t *>(path.utf16()), &value, &length) || !value)
        return QString();
    // The length counts characters and, for most writers, the closing zero.
    const auto *text = static_cast<const wchar_t *>(value);
    return QString::fromWCharArray(text, int(wcsnlen(text, length)));
}

} // namespace

bool ReadVersionBlock(const QString &fileName, TLuHash &block) {
    const std::wstring name = QDir::toNativeSeparators(fileName).toStdWString();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(name.c_str(), 0, size, data.data()))
        return false;
    void *pairs = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &pairs, &length) || length < 4)
        return false;
    QStringList languages;
    const auto *words = static_cast<const WORD *>(pairs);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2)
        languages << QStringLiteral("%1%2").arg(words[i], 4, 16, QLatin1Char('0')).arg(words[i + 1], 4, 16, QLatin1Char('0')).toUpper();
    block.SetVal(QStringLiteral("Translation"), languages.join(u' '));
    for (const QString &language : languages)
        for (const char *field : VersionFieldNames) {
            const QString value =
                QueryString(data, QStringLiteral("\\StringFileInfo\\%1\\%2").arg(language, QLatin1String(field)));
            if (!value.isEmpty())
                block.SetVal(language + u'.' + QLatin1String(field), value);
        }
    return true;
}
