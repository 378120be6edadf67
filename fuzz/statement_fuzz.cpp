// Fuzz target for the statement-parameter parser: any text parses without a crash, the result is
// never longer than the text, and no more parameters are found than the text has colons.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dataset/params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    db::TParams params;
    std::string rewritten = params.ParseStatementText(text, true);
    if (rewritten.size() > text.size()) std::abort();
    if (params.Count() > std::count(text.begin(), text.end(), ':')) std::abort();
    // Parsing again without creating must give the same text.
    if (params.ParseStatementText(text, false) != rewritten) std::abort();
    return 0;
}
