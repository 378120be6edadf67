// Fuzz target: kdstool's JSON reader and base64 decoder. Whatever the text, parsing answers a
// value or an error; every string it yields is written back and read again unchanged; decoded
// base64 encodes and decodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/base64.h"
#include "tools/json.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckStrings(const tools::JsonValue& v) {
    if (v.kind == tools::JsonValue::kString) {
        std::string written, error;
        tools::AppendJsonString(written, v.text);
        auto back = tools::ParseJson(written, &error);
        Check(back && back->kind == tools::JsonValue::kString && back->text == v.text);
    }
    for (const auto& item : v.items) CheckStrings(item);
    for (const auto& [key, item] : v.members) CheckStrings(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto value = tools::ParseJson(text, &error);
    Check(value.has_value() == error.empty());
    if (value) CheckStrings(*value);
    if (auto bytes = tools::Base64Decode(text)) {
        auto again = tools::Base64Decode(tools::Base64Encode(*bytes));
        Check(again && *again == *bytes);
    }
    return 0;
}
