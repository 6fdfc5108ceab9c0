// The fuzzer's bytes as the program would see them: a text read in the 8-bit code page (every byte is a
// character), and the same bytes read as UTF-8.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

inline QString FuzzLatin1(const uint8_t *data, size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline QString FuzzUtf8(const uint8_t *data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A failed check is a finding: print it and stop, so that the fuzzer keeps the input.
inline void FuzzCheck(const QString &failure) {
    if (failure.isEmpty())
        return;
    std::fprintf(stderr, "check failed: %s\n", failure.toUtf8().constData());
    std::abort();
}
