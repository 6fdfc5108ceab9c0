#include "LuFiles.h"

#include "LuPlatform.h"
#include "LuStrings.h"
#include "LuUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr qint64 MinTrimExcess = 10240;

bool IsPathSeparator(QChar ch) {
    return ch == u'\\' || ch == u'/';
}

QString IncludeName(const QString &line) {
    int p = 8; // past "#include"
    while (p < line.size() && (line[p] == u'\t' || line[p] == u' ' || line[p] == u'='))
        ++p;
    return line.mid(p, 999);
}

// A bare include name is looked up beside the including file, so a set of configuration files can be
// moved as a whole; a name with a folder in it is taken as it stands.
QString ResolveInclude(const QString &name, const QString &includingFile) {
    if (std::any_of(name.cbegin(), name.cend(), IsPathSeparator))
        return name;
    return QFileInfo(includingFile).dir().filePath(name);
}

// chain holds the files being included right now, so a file that includes itself, directly or through
// others, is cut off there; the same file included twice side by side is loaded twice.
QString LoadIncluding(const QString &fileName, bool includes, QSet<QString> &chain) {
    const QFileInfo info(fileName);
    const QString canonical = info.canonicalFilePath();
    if (!info.isFile() || chain.contains(canonical))
        return QString();
    chain.insert(canonical);
    QString result;
    TLuStringList lines(ReadTextFile(fileName, 0));
    for (int i = 0; i < lines.Count(); ++i) {
        const QString line = TrimText(lines[i]);
        if (line.isEmpty())
            continue;
        if (includes && line.left(8).toLower() == QLatin1String("#include")) {
            const QString name = IncludeName(line);
            if (!name.isEmpty()) {
                result += LoadIncluding(ResolveInclude(name, fileName), includes, chain);
                continue;
            }
        }
        if (line.startsWith(u'#') || line.startsWith(u'/') || line.startsWith(u';'))
            continue;
        result += line + u'\r';
    }
    chain.remove(canonical);
    return result;
}

// Lines (ended by CR LF, LF or CR) whose end lies beyond the first `excess` characters, each counted
// with a two-character line end, written back with CR LF.
QString LinesBeyond(const QString &text, qint64 excess) {
    QString kept;
    qint64 pos = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        pos += end - start + 2;
        if (pos > excess) {
            kept += QStringView(text).mid(start, end - start);
            kept += QStringLiteral("\r\n");
        }
        const bool crlf = end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n';
        start = end + (crlf ? 2 : 1);
    }
    return kept;
}

QString TempFileOf(const QString &fileName) {
    const QFileInfo info(fileName);
    return info.dir().filePath(ChangeFileExtension(info.fileName(), QStringLiteral(".$$$")));
}

void CollectFiles(const QString &dir, const QRegularExpression &re, bool recursive, QStringList &found) {
    const QFileInfoList entries = QDir(dir).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        // Linked folders are not entered: a link back to a parent would never end.
        if (entry.isDir()) {
            if (recursive && !entry.isSymLink() && !name.startsWith(u'.'))
                CollectFiles(dir + name + QDir::separator(), re, recursive, found);
        } else if (re.match(name).hasMatch()) {
            found.append(dir + name);
        }
    }
}

} // namespace

QString ChangeFileExtension(const QString &name, const QString &extension) {
    const QString ext = extension.startsWith(u'.') ? extension : u'.' + extension;
    const qsizetype dot = name.lastIndexOf(u'.');
    return (dot >= 0 ? name.left(dot) : name) + ext;
}

// Asked of the file system rather than by entering the folder: other threads open relative paths
// while this runs, so the current directory must never move.
bool DirExists(const QString &path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool ForceDirs(const QString &path) {
    const QChar sep = QDir::separator();
    QString prefix = !path.isEmpty() && IsPathSeparator(path[0]) ? QString(sep) : QString();
    const QStringList parts = QString(path).replace(u'\\', u'/').split(u'/');
    for (const QString &part : parts) {
        const QString name = TrimText(part);
        if (name.isEmpty())
            continue;
        prefix += name + sep;
        // mkpath, unlike mkdir, also succeeds when someone else created the folder in the meantime.
        if (!QDir().mkpath(prefix))
            return false;
    }
    return true;
}

QString LoadTextWithIncludes(const QString &fileName, bool includes) {
    QSet<QString> chain;
    return LoadIncluding(fileName, includes, chain);
}

QString DecodeTextFile(const QByteArray &bytes, bool utf8Mark) {
    if (utf8Mark)
        return QString::fromUtf8(bytes);
    // Without a mark, bytes that are valid UTF-8 and hold at least one multi-byte sequence are UTF-8:
    // what every editor on a Linux desktop writes. Cyrillic in the 8-bit code page practically never
    // forms valid multi-byte sequences (its letters are lead bytes followed by letters, not by the
    // 0x80-0xBF continuation bytes), so such files stay read as before.
    const bool anyHighByte = std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    if (anyHighByte) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (!decoder.hasError())
            return text;
    }
    return FromAnsiText(bytes);
}

QString ReadTextFile(const QString &fileName, qint64 offset, qint64 *end) {
    if (end)
        *end = -1;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const bool utf8 = file.read(3) == QByteArrayLiteral("\xEF\xBB\xBF");
    if (!utf8)
        file.seek(0);
    if (offset > 0)
        file.seek(offset);
    else if (offset < 0 && file.size() + offset >= 0)
        file.seek(file.size() + offset);
    // Decoded as a whole, so a character split across read blocks comes out in one piece.
    QString text = DecodeTextFile(file.readAll(), utf8);
    if (end)
        *end = file.pos();
    // NUL bytes are dropped rather than ending the text: a log that lost power keeps a run of NULs in
    // its middle, and what was appended after them must still be shown and parsed.
    text.remove(QChar(u'\0'));
    return text;
}

qint64 WriteTextFile(const QString &fileName, const QString &text, bool overwrite) {
    if (fileName.isEmpty())
        return -1;
    // One open, one write, one close: the logs append a line at a time, often thousands in a row, and
    // entries of different threads or processes interleave only as a whole.
    return WriteWholeFile(fileName, ToAnsiText(text), overwrite);
}

qint64 FileSizeOf(const QString &fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.size() : -1;
}

bool TrimFileHead(const QString &fileName, qint64 keep) {
    const qint64 excess = FileSizeOf(fileName) - keep;
    if (excess < MinTrimExcess)
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    file.close();
    const QString temp = TempFileOf(fileName);
    if (WriteTextFile(temp, LinesBeyond(FromAnsiText(bytes), excess), true) < 0) {
        QFile::remove(temp);
        return false;
    }
    // One step, so that the file is never missing; a failure leaves it and the temporary file as they
    // are, and is not reported.
    ReplaceFileWith(fileName, temp);
    return true;
}

QString NormalizeDir(const QString &path) {
    QString dir = TrimText(path);
    if (dir.size() < 2)
        return QString();
    const QChar sep = QDir::separator();
    dir.replace(u'\\', sep).replace(u'/', sep);
    const QString doubled(2, sep);
    const bool network = dir.startsWith(doubled);
    dir.replace(doubled, QString(sep));
    if (network)
        dir.prepend(sep);
    if (!dir.endsWith(sep))
        dir += sep;
    return dir;
}

bool WriteTextFileWhole(const QString &fileName, const QString &text, QString &error) {
    // QSaveFile writes a temporary file beside the target and renames it over the target only once
    // everything is on disk: a crash or a full disk never leaves half a file under the name.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    const QByteArray bytes = ToAnsiText(text);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

QString FindFiles(const QString &folder, const QString &pattern, bool recursive) {
    const QRegularExpression re(pattern, QRegularExpression::CaseInsensitiveOption);
    if (!re.isValid())
        return QString();
    QStringList found;
    CollectFiles(NormalizeDir(folder), re, recursive, found);
    return found.join(QStringLiteral("\r\n"));
}
