// Reads the version strings a program file carries (product name, file version, copyright, ...) into
// a store, one entry per field. The start banner and the about window read the program's own file.
// On Windows they are the program's version resource (version_info.rc.in); elsewhere our executables
// carry them in a marked block written at build time from the project's version (version_info.cpp.in).
#pragma once

#include "LuHash.h"

// Clears the store; true when the file has a version block with a translation entry.
bool ReadVersionInfo(const QString &fileName, TLuHash &store);

// "<internal name> <file version>", the line a program prints for --version; empty without a block.
QString VersionLine(const QString &fileName);

// --help (prints `usage`) and --version as the program's only argument, answered without a display
// so that they work in a terminal and for help2man; false for any other command line.
bool AnswerHelpOrVersion(int argc, char **argv, const char *usage);
