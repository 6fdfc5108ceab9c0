// What must hold for any text a device sends: the answer clean-up and the identification. Used by
// the fuzz target and the engine's tests.
#pragma once

#include "LuUtils.h"
#include "veltra_commander.h"

#include <QString>

namespace AnswerChecks {

// A cleaned answer is one trimmed line in escaped form; unescaped, its blanks are single.
inline QString CheckAnswer(const QString &name, const QString &collected) {
    QString answer = collected;
    if (!TVeltraCommander::CleanAnswer(name, answer))
        return collected.startsWith(name) ? QStringLiteral("an answer that starts with its name refused")
                                          : QString();
    if (answer.contains(u'\r') || answer.contains(u'\n'))
        return QStringLiteral("cleaned answer holds a line end");
    if (answer != TrimText(answer))
        return QStringLiteral("cleaned answer not trimmed");
    return {};
}

// The identity's IMEI is one word: none of the blanks that end it in the answer (the ASCII ones; a
// no-break space from the code page is part of the word, as the device sent it).
inline QString CheckIdentity(const QString &text) {
    const TVeltraCommander::TIdentity id = TVeltraCommander::ParseIdentity(text);
    static const QString blanks = QStringLiteral(" \t\r\n\v\f");
    for (QChar c : id.imei)
        if (blanks.contains(c))
            return QStringLiteral("IMEI holds a blank");
    if (id.name != TrimText(id.name))
        return QStringLiteral("type not trimmed");
    if (id.present != !text.isEmpty())
        return QStringLiteral("presence does not follow the text");
    return {};
}

} // namespace AnswerChecks
