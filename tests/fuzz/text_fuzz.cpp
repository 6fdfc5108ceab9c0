// Escaped texts (device answers, stored values) and dates in free text.
#include "fuzz_input.h"
#include "parser_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = FuzzUtf8(data, size);
    FuzzCheck(ParserChecks::CheckEscapes(text));
    FuzzCheck(ParserChecks::CheckEscapes(FuzzLatin1(data, size)));
    FuzzCheck(ParserChecks::CheckDateTime(text));
    if (size >= 7)
        FuzzCheck(ParserChecks::CheckDateRoundTrip(1000 + (data[0] << 8 | data[1]) % 9000, 1 + data[2] % 12,
                                                   1 + data[3] % 28, data[4] % 24, data[5] % 60, data[6] % 60));
    return 0;
}
