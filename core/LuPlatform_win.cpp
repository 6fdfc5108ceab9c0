// The Windows backend of LuPlatform.h, on the Win32 API.
#include "LuPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlobj.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>

namespace {

std::wstring NativeName(const QString &fileName) {
    return QDir::toNativeSeparators(fileName).toStdWString();
}

// "windows-1251", "cp1251", "1251" and "Locale" name Windows code pages; 0 for any other name.
UINT CodePageNumber(const QString &name) {
    if (name.compare(QLatin1String("Locale"), Qt::CaseInsensitive) == 0 ||
        name.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0)
        return GetACP();
    // The names other systems give the single-byte code pages Windows knows by number.
    static const struct {
        const char *name;
        UINT number;
    } named[] = {{"latin1", 28591}, {"KOI8-R", 20866}, {"KOI8-U", 21866}, {"IBM866", 866}, {"macintosh", 10000}};
    for (const auto &page : named)
        if (name.compare(QLatin1String(page.name), Qt::CaseInsensitive) == 0)
            return page.number;
    if (name.startsWith(QLatin1String("ISO-8859-"), Qt::CaseInsensitive)) {
        bool ok = false;
        const uint part = name.mid(9).toUInt(&ok);
        return ok && part >= 1 && part <= 15 && IsValidCodePage(28590 + part) ? UINT(28590 + part) : 0;
    }
    QString digits = name;
    for (const char *prefix : {"windows-", "cp", "ibm"})
        if (digits.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
            digits = digits.mid(int(qstrlen(prefix)));
    bool ok = false;
    const uint number = digits.toUInt(&ok);
    return ok && IsValidCodePage(number) ? UINT(number) : 0;
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!GetFileInformationByHandle(a, &ia) || !GetFileInformationByHandle(b, &ib))
        return true;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

int LastSystemError() {
    return int(GetLastError());
}

QString SystemMessage(int code) {
    wchar_t buf[1024];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   DWORD(code), LANG_USER_DEFAULT, buf, 1024, nullptr);
    return QString::fromWCharArray(buf, int(n));
}

QString DefaultAnsiCodePage() {
    return QStringLiteral("windows-%1").arg(GetACP());
}

bool DecodeAnsiByte(const QString &codePage, unsigned char byte, char16_t &ch) {
    const UINT number = CodePageNumber(codePage);
    CPINFO info{};
    if (number == 0 || !GetCPInfo(number, &info) || info.MaxCharSize != 1)
        return false;
    const char raw = char(byte);
    wchar_t out[2] = {};
    // Without MB_ERR_INVALID_CHARS an undefined byte comes back as the code page's default character;
    // with it, the call fails and the byte keeps its own code.
    const int n = MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &raw, 1, out, 2);
    if (n > 1)
        return false;
    ch = n == 1 ? char16_t(out[0]) : char16_t(byte);
    return true;
}

qint64 WriteWholeFile(const QString &fileName, const QByteArray &bytes, bool overwrite) {
    // FILE_APPEND_DATA alone makes every write go to the end of the file, as O_APPEND does.
    const HANDLE h = CreateFileW(NativeName(fileName).c_str(), overwrite ? GENERIC_WRITE : FILE_APPEND_DATA,
                                 ShareAll, nullptr, overwrite ? CREATE_ALWAYS : OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -2;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && qint64(written) == bytes.size() ? qint64(written) : -4;
}

bool ReplaceFileWith(const QString &target, const QString &replacement) {
    if (MoveFileExW(NativeName(replacement).c_str(), NativeName(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    // A file others hold open (a log the log window follows) cannot be replaced on Windows: its
    // content is, in place, and its followers see it shrink and read it again from the start.
    QFile source(replacement);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = source.readAll();
    source.close();
    if (WriteWholeFile(target, bytes, true) != bytes.size())
        return false;
    QFile::remove(replacement);
    return true;
}

bool SyncDescriptor(int fd) {
    return _commit(fd) == 0;
}

bool SyncFolderOf(const QString &) {
    // NTFS journals its folder entries; a folder cannot be flushed through a file handle.
    return true;
}

int OpenSharedForReading(const QString &fileName) {
    const HANDLE h = CreateFileW(NativeName(fileName).c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    const int fd = _open_osfhandle(intptr_t(h), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd;
}

bool NameLeadsElsewhere(int fd, const QString &fileName) {
    const HANDLE open = HANDLE(_get_osfhandle(fd));
    const HANDLE named = CreateFileW(NativeName(fileName).c_str(), 0, ShareAll, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (open == INVALID_HANDLE_VALUE || named == INVALID_HANDLE_VALUE) {
        if (named != INVALID_HANDLE_VALUE)
            CloseHandle(named);
        return false;
    }
    const bool elsewhere = !SameFile(open, named);
    CloseHandle(named);
    return elsewhere;
}

QString UserConfigFolder() {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return QDir::fromNativeSeparators(QString::fromWCharArray(path));
    const QString env = qEnvironmentVariable("APPDATA");
    return env.size() <= 259 ? QDir::fromNativeSeparators(env) : QString();
}

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

void WriteConsoleText(FILE *stream, const QString &text) {
    const HANDLE console = HANDLE(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        std::fflush(stream);
        DWORD written = 0;
        WriteConsoleW(console, text.utf16(), DWORD(text.size()), &written, nullptr);
        return;
    }
    std::fputs(text.toLocal8Bit().constData(), stream);
}
