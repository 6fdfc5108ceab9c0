// Checking and comparing configurations at size: a description of N parameters of every kind and a
// configuration file of N entries, checked offline (parse + check) and compared with a device's
// configuration that differs in every tenth value. Prints milliseconds for N = 10 000 (target: under
// 100 each) and 20 000, and their ratio (2.0 is linear).
#include "bench_description.h"
#include "param_description.h"

#include <QElapsedTimer>
#include <cstdio>

namespace {

const char *const Kinds[] = {"type = int\n  min = 0\n  max = 100000", "type = lookup\n  values = a|b|c",
                             "type = ip", "type = duration", "type = check\n  count = 3\n  values = x,y,z",
                             "max_len = 16"};
const char *const Values[] = {"%1", "b", "10.0.0.1", "30s", "101", "text"};

struct TFigures {
    qint64 check, diff;
    bool right;
};

TFigures Measure(int count) {
    TLuHash description;
    const QString text = BenchDescription(count, [](int i) { return QString::fromLatin1(Kinds[i % 6]); });
    description.Assign(text, true, StdKeySeparators, QStringLiteral("\n"));

    QString file;
    TLuHash device;
    for (int i = 0; i < count; ++i) {
        const QString value = QString::fromLatin1(Values[i % 6]).replace(QStringLiteral("%1"), QString::number(i));
        file += BenchKey(i) + u'=' + value + QStringLiteral("\r\n");
        device.SetVal(BenchKey(i), i % 10 ? value : QStringLiteral("other"));
    }

    QElapsedTimer clock;
    clock.start();
    const QList<TConfigProblem> problems = CheckConfigEntries(ConfigEntries(file), description);
    const qint64 check = clock.restart();
    TLuHash fileConfig;
    fileConfig.Assign(file, true, StdKeySeparators, QStringLiteral("\r\n"));
    const QList<TConfigDifference> differences = CompareConfigs(device, fileConfig);
    const qint64 diff = clock.elapsed();
    return {check, diff, problems.isEmpty() && differences.size() == count / 10};
}

} // namespace

int main() {
    const TFigures small = Measure(10000);
    const TFigures large = Measure(20000);
    const auto line = [](const char *name, qint64 a, qint64 b) {
        std::printf("%s: %lld ms at 10000, %lld ms at 20000, ratio %.2f\n", name, static_cast<long long>(a),
                    static_cast<long long>(b), a > 0 ? double(b) / double(a) : 0.0);
    };
    line("check", small.check, large.check);
    line("diff", small.diff, large.diff);
    return small.right && large.right ? 0 : 1;
}
