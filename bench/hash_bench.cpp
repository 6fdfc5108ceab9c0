// Times the key/value store on texts of 10 000, 20 000 and 40 000 lines (block values included) and
// prints the ratio time(40 000) / time(10 000) per operation: a linear store stays near 4.
#include "LuHash.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

namespace {

QString BuildText(int lines)
{
    QString text;
    int written = 0;
    for (int i = 0; written < lines; ++i) {
        if (i % 50 == 49) {
            text += QStringLiteral("block_%1 = {\r  inner_a = %1\r  inner_b = text %1\r}\r").arg(i);
            written += 4;
        } else {
            text += QStringLiteral("Param_%1 = value number %1\r").arg(i);
            ++written;
        }
    }
    return text;
}

// Best of three runs, in milliseconds.
double TimeMs(const std::function<void()> &op)
{
    double best = 1e100;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        op();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

struct TTimes {
    double assign, lookup, asText, save, load;
};

TTimes Measure(int lines, const QString &dir)
{
    const QString text = BuildText(lines);
    TLuHash h;
    TTimes t{};
    t.assign = TimeMs([&] { h.CleanAssign(text, true); });
    volatile qint64 found = 0;
    t.lookup = TimeMs([&] {
        for (int i = 0; i < h.Count(); ++i)
            found = found + h.KeyIndex(h.GetKey(i));
    });
    t.asText = TimeMs([&] { (void)h.AsText("=", "\r\n"); });
    const QString file = dir + QStringLiteral("/bench_%1.cfg").arg(lines);
    t.save = TimeMs([&] { h.Save(file, "="); });
    TLuHash loaded;
    t.load = TimeMs([&] { loaded.Clear(); loaded.Load(file, true); });
    if (loaded.Count() != h.Count())
        std::printf("error: loaded %d entries of %d\n", loaded.Count(), h.Count());
    return t;
}

void Print(const char *op, int lines, double ms) { std::printf("%s_%d: %.2f ms\n", op, lines, ms); }

} // namespace

int main()
{
    QTemporaryDir dir;
    const int sizes[] = {10000, 20000, 40000};
    TTimes results[3];
    for (int i = 0; i < 3; ++i) {
        results[i] = Measure(sizes[i], dir.path());
        Print("assign", sizes[i], results[i].assign);
        Print("keyindex_all", sizes[i], results[i].lookup);
        Print("astext", sizes[i], results[i].asText);
        Print("save", sizes[i], results[i].save);
        Print("load", sizes[i], results[i].load);
    }
    const TTimes &a = results[0], &c = results[2];
    std::printf("ratio_assign_40k_10k: %.2f x\n", c.assign / a.assign);
    std::printf("ratio_keyindex_40k_10k: %.2f x\n", c.lookup / a.lookup);
    std::printf("ratio_astext_40k_10k: %.2f x\n", c.asText / a.asText);
    std::printf("ratio_save_40k_10k: %.2f x\n", c.save / a.save);
    std::printf("ratio_load_40k_10k: %.2f x\n", c.load / a.load);
    return 0;
}
