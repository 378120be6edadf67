// Fuzz target: the expression parser, type checker, short form and key compiler. Whatever the
// text, each call returns a status; a compiled expression evaluates on an empty record.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/expression.h"
#include "engine/keys/index_key.h"
#include "fuzz/fuzz_schema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const kce::ExprSchema& schema = fuzz::Schema();

    std::unique_ptr<kce::Expression> expr;
    if (kce::Expression::Compile(text, schema, &expr) == KCE_SUCCESS) {
        std::vector<uint8_t> image(fuzz::kImageLength, 0);
        kce::ImageRecord record(schema, image.data(), image.size());
        kce::Value v;
        (void)expr->Evaluate(record, true, &v);
        (void)expr->Evaluate(record, false, &v);
    }

    // The short form round-trips every text that holds no field ordinal of its own.
    std::string shortForm, longForm;
    if (text.find('@') == std::string::npos &&
        kce::ExpressionLongToShort(text, schema, &shortForm) == KCE_SUCCESS) {
        if (kce::ExpressionShortToLong(shortForm, schema, &longForm) != KCE_SUCCESS ||
            longForm.size() != text.size()) {
            std::abort();
        }
    }

    std::unique_ptr<kce::IndexKey> key;
    if (kce::IndexKey::Compile(schema, text, false, "", &key) == KCE_SUCCESS) {
        std::vector<uint8_t> image(fuzz::kImageLength, 0);
        kce::ImageRecord record(schema, image.data(), image.size());
        std::string k;
        if (key->KeyOf(record, &k) == KCE_SUCCESS && k.size() != key->Length()) std::abort();
    }
    return 0;
}
