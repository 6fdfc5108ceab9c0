// A terminal box fed a busy log: 1 000 000 lines of 80 characters, in 4 KB chunks as a log follower
// delivers them, the event loop running between chunks as in the program. Prints the time of the
// first and of the last 10 000 lines (their ratio stays near 1 when the kept lines are trimmed
// cheaply) and the process's resident memory before and after (the box keeps only its last lines).
#include "LuTtyBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

constexpr int Lines = 1000000;
constexpr int Measured = 10000;
constexpr int Chunk = 4096;

double ResidentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    return -1;
}

QString Line(int i) {
    QString line = QStringLiteral("20260101 120000 [comm] %1 ").arg(i, 7, 10, QChar(u'0'));
    line += QString(80 - line.size(), u'x');
    return line + QStringLiteral("\r\n");
}

// Feeds lines [from, to) in whole chunks; what is left of the last chunk stays in `pending`.
void Feed(TLuTtyBox &box, QString &pending, int from, int to) {
    for (int i = from; i < to; ++i) {
        pending += Line(i);
        if (pending.size() < Chunk)
            continue;
        box.PutString(pending.left(Chunk));
        pending.remove(0, Chunk);
        QCoreApplication::processEvents();
    }
}

qint64 TimedFeed(TLuTtyBox &box, QString &pending, int from, int to) {
    QElapsedTimer clock;
    clock.start();
    Feed(box, pending, from, to);
    return clock.elapsed();
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TLuTtyBox box;
    box.resize(620, 400);
    box.show();
    QCoreApplication::processEvents();
    const double rssBefore = ResidentMb();

    QString pending;
    const qint64 first = TimedFeed(box, pending, 0, Measured);
    Feed(box, pending, Measured, Lines - Measured);
    const qint64 last = TimedFeed(box, pending, Lines - Measured, Lines);
    const double rssAfter = ResidentMb();

    std::printf("first_10000_lines: %lld ms\n", static_cast<long long>(first));
    std::printf("last_10000_lines: %lld ms\n", static_cast<long long>(last));
    std::printf("last_to_first: %.2f ratio\n", first > 0 ? double(last) / double(first) : 0.0);
    std::printf("rss_before: %.1f MB\n", rssBefore);
    std::printf("rss_after: %.1f MB\n", rssAfter);
    std::printf("rss_growth: %.1f MB\n", rssAfter - rssBefore);
    std::printf("lines_kept: %d lines\n", box.document()->blockCount());
    return 0;
}
