// The version strings of a program file as the block between two markers that our executables carry
// (version_info.cpp.in), for systems without version resources.
#include "version_block.h"

#include <QFile>

namespace {

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

bool ReadVersionBlock(const QString &fileName, TLuHash &block) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    block.Assign(QString::fromUtf8(FindPayload(file.readAll())), true, QStringLiteral("="), QStringLiteral("\n"));
    return block.Count() > 0;
}
