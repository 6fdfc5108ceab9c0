// The description the size benchmarks share: N parameters PAR_00000... in 100 groups grp_0..grp_99,
// each parameter's block body given by the caller.
#pragma once

#include <QString>
#include <functional>

inline QString BenchKey(int i) {
    return QStringLiteral("PAR_%1").arg(i, 5, 10, QChar(u'0'));
}

inline QString BenchDescription(int params, const std::function<QString(int)> &blockOf) {
    QString text = QStringLiteral("__GROUPS =");
    for (int g = 0; g < 100; ++g)
        text += QStringLiteral(" grp_%1").arg(g);
    text += u'\n';
    const int perGroup = params / 100;
    for (int g = 0; g < 100; ++g) {
        text += QStringLiteral("grp_%1 = {\n  name = Group %1\n  params =").arg(g);
        for (int i = g * perGroup; i < (g + 1) * perGroup; ++i)
            text += u' ' + BenchKey(i);
        text += QStringLiteral("\n}\n");
    }
    for (int i = 0; i < params; ++i)
        text += BenchKey(i) + QStringLiteral(" = {\n  ") + blockOf(i) + QStringLiteral("\n}\n");
    return text;
}
