// What differs between the systems the program runs on, below the windows: system error texts, the
// ANSI code page, whole-file writes and syncs, files followed while others rewrite them, the user's
// configuration folder and whether standard output is a terminal. One backend per system is built:
// LuPlatform_posix.cpp (Linux) or LuPlatform_win.cpp (Windows); the callers never ask which.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

// The calling thread's last system error (errno, GetLastError) and the system's text for a code;
// empty when the system has none.
int LastSystemError();
QString SystemMessage(int code);

// The code page the program's files and the serial line use when the settings name none: on Windows
// the system's ANSI code page ("windows-<GetACP()>"), elsewhere windows-1251.
QString DefaultAnsiCodePage();
// One byte of a single-byte code page as one UTF-16 unit; false when the code page is unknown or the
// byte does not stand for one character by itself (a lead byte, a character outside the BMP). A byte
// the code page leaves undefined gives the character of its own code.
bool DecodeAnsiByte(const QString &codePage, unsigned char byte, char16_t &ch);

// Writes `bytes` with one open, one write and one close: appended at the end as one piece (entries of
// several threads or processes never interleave), or replacing the file. The byte count, -2 when the
// file cannot be opened, -4 when not everything was written. Others may read, write, rename or
// delete the file meanwhile.
qint64 WriteWholeFile(const QString &fileName, const QByteArray &bytes, bool overwrite);
// Moves `replacement` into the place of `target` at once, also while others have `target` open for
// following; false when it could not.
bool ReplaceFileWith(const QString &target, const QString &replacement);
// Waits until the disk holds what was written through the descriptor (fsync); false on failure.
bool SyncDescriptor(int fd);
// Waits until the disk holds the folder entry of a new file; true where the file system keeps entries
// safe by itself.
bool SyncFolderOf(const QString &fileName);

// A descriptor for reading a file that others go on appending to, cutting back or replacing (the log
// follower): the file stays free to be written, renamed and deleted while it is open. -1 on failure.
int OpenSharedForReading(const QString &fileName);
// Whether the name no longer leads to the file open as `fd` (replaced, or deleted); false when it
// cannot be told.
bool NameLeadsElsewhere(int fd, const QString &fileName);

// The user's own configuration folder without a trailing separator: on Windows the roaming
// application-data folder, elsewhere $XDG_CONFIG_HOME or ~/.config.
QString UserConfigFolder();

bool StdoutIsTerminal();
// Writes text to standard output or error as the terminal shows it: a Windows console takes UTF-16,
// everything else (pipes, files, POSIX terminals) the local 8-bit encoding.
void WriteConsoleText(FILE *stream, const QString &text);
