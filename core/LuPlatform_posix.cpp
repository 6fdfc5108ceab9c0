// The POSIX backend of LuPlatform.h.
#include "LuPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// strerror_r comes in two flavours: XSI returns a status and fills the buffer, GNU returns the text.
[[maybe_unused]] const char *ErrorMessage(int status, const char *buf) {
    return status == 0 ? buf : "";
}
[[maybe_unused]] const char *ErrorMessage(const char *text, const char *) {
    return text;
}

QByteArray NativeName(const QString &fileName) {
    return QFile::encodeName(fileName);
}

} // namespace

int LastSystemError() {
    return errno;
}

QString SystemMessage(int code) {
    char buf[1024] = "";
    const QString text = QString::fromLocal8Bit(ErrorMessage(strerror_r(code, buf, sizeof buf), buf));
    // glibc invents "Unknown error <n>" for codes it has no text for; that is no message at all.
    return text.startsWith(QLatin1String("Unknown error")) ? QString() : text;
}

QString DefaultAnsiCodePage() {
    return QStringLiteral("windows-1251");
}

bool DecodeAnsiByte(const QString &codePage, unsigned char byte, char16_t &ch) {
    const QByteArray codec = codePage.toLatin1();
    QStringDecoder decoder(codec.constData());
    if (!decoder.isValid())
        return false;
    const char raw = char(byte);
    const QString text = decoder.decode(QByteArrayView(&raw, 1));
    if (text.size() != 1)
        return false;
    ch = text[0] == QChar::ReplacementCharacter ? char16_t(byte) : text[0].unicode();
    return true;
}

qint64 WriteWholeFile(const QString &fileName, const QByteArray &bytes, bool overwrite) {
    // O_APPEND makes each call one write at the end of the file.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_APPEND);
    const int fd = ::open(NativeName(fileName).constData(), flags, 0666);
    if (fd < 0)
        return -2;
    ssize_t written;
    do
        written = ::write(fd, bytes.constData(), size_t(bytes.size()));
    while (written < 0 && errno == EINTR);
    ::close(fd);
    return written == bytes.size() ? written : -4;
}

bool ReplaceFileWith(const QString &target, const QString &replacement) {
    return ::rename(NativeName(replacement).constData(), NativeName(target).constData()) == 0;
}

bool SyncDescriptor(int fd) {
    return ::fsync(fd) == 0;
}

bool SyncFolderOf(const QString &fileName) {
    const int fd = ::open(NativeName(QFileInfo(fileName).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

int OpenSharedForReading(const QString &fileName) {
    return ::open(NativeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
}

bool NameLeadsElsewhere(int fd, const QString &fileName) {
    struct stat open {
    }, named{};
    if (::fstat(fd, &open) != 0 || ::stat(NativeName(fileName).constData(), &named) != 0)
        return false;
    return open.st_ino != named.st_ino || open.st_dev != named.st_dev;
}

QString UserConfigFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

bool StdoutIsTerminal() {
    return ::isatty(::fileno(stdout)) != 0;
}

void WriteConsoleText(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}
