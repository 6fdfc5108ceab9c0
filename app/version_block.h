// Between LuVerInfo.cpp and the reader of a program file's version strings for the system built for:
// the marked block of our own executables (version_block_marked.cpp) or the Windows version resource
// (version_block_win.cpp).
#pragma once

#include "LuHash.h"

// The version fields, in the order a store lists them.
extern const char *const VersionFieldNames[13];

// The file's version strings as "Translation" (the list of language and code-page pairs) and
// "<language><code page>.<field>" entries; false when the file has none or cannot be read.
bool ReadVersionBlock(const QString &fileName, TLuHash &block);
