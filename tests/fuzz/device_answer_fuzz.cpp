// What the device sends back: answer lines after a command, and the identification text.
#include "answer_checks.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = FuzzLatin1(data, size);
    // The first line names the command the answer is for.
    const qsizetype cut = text.indexOf(u'\n');
    const QString name = cut < 0 ? QStringLiteral("R_CFG") : text.left(cut);
    FuzzCheck(AnswerChecks::CheckAnswer(name, cut < 0 ? text : text.mid(cut + 1)));
    FuzzCheck(AnswerChecks::CheckIdentity(text));
    return 0;
}
