// Text-file helpers every file of the configurator goes through: reading (UTF-8 with mark, or the ANSI
// code page) from an offset, configuration texts with "#include" lines, appending or overwriting,
// cutting a growing log down to its tail, and small path functions. They keep no state: every call
// opens and closes what it needs, and none of them changes the process's current directory.
#pragma once

#include <QByteArray>
#include <QString>

QString ChangeFileExtension(const QString &name, const QString &extension);
bool DirExists(const QString &path);
bool ForceDirs(const QString &path);
QString LoadTextWithIncludes(const QString &fileName, bool includes);
// The one decision on how the bytes of a text file are read: UTF-8 after a byte-order mark, or when
// they are valid UTF-8 with a multi-byte sequence; otherwise the 8-bit code page.
QString DecodeTextFile(const QByteArray &bytes, bool utf8Mark);
// A negative offset counts from the end. `end`, when given, receives the file position after the last
// byte read (-1 when the file cannot be opened), so a follower of the file can go on from there.
QString ReadTextFile(const QString &fileName, qint64 offset, qint64 *end = nullptr);
// Bytes written, or -1 empty path, -2 cannot open or create, -4 write failed.
qint64 WriteTextFile(const QString &fileName, const QString &text, bool overwrite);
// Replaces the file as a whole, in the code page, or leaves it as it was: false with the reason.
bool WriteTextFileWhole(const QString &fileName, const QString &text, QString &error);
bool TrimFileHead(const QString &fileName, qint64 keep);
qint64 FileSizeOf(const QString &fileName);
QString NormalizeDir(const QString &path);
QString FindFiles(const QString &folder, const QString &pattern, bool recursive);
