// TLuHash's text form, as read from a settings, description or configuration file.
#include "LuFiles.h"
#include "fuzz_input.h"
#include "parser_checks.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzCheck(ParserChecks::CheckHashText(FuzzLatin1(data, size)));
    FuzzCheck(ParserChecks::CheckHashText(FuzzUtf8(data, size)));
    // The same bytes through the file reader (decoding, includes of files that do not exist).
    static const QString file = QDir::tempPath() + QStringLiteral("/veltra_hash_text_fuzz.conf");
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write(reinterpret_cast<const char *>(data), qint64(size));
        f.close();
        TLuHash h;
        h.Load(file, true);
        FuzzCheck(ParserChecks::IndexAgrees(h));
    }
    return 0;
}
