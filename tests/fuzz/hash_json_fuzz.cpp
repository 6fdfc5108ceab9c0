// TLuHash's JSON reading.
#include "fuzz_input.h"
#include "parser_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzCheck(ParserChecks::CheckHashJson(FuzzUtf8(data, size)));
    return 0;
}
