// Fuzz target: the filter path. The input is a record image followed by a filter expression;
// the filter is compiled once and tested on the image as a stored record would be, with the
// exact setting on and off. Hostile images must decode without reading outside the record.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/expression.h"
#include "fuzz/fuzz_schema.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(fuzz::kImageLength, 0);
    size_t imageBytes = size < image.size() ? size : image.size();
    if (imageBytes) std::memcpy(image.data(), data, imageBytes);
    std::string text(reinterpret_cast<const char*>(data) + imageBytes, size - imageBytes);

    const kce::ExprSchema& schema = fuzz::Schema();
    std::unique_ptr<kce::Expression> filter;
    if (kce::Expression::Compile(text, schema, &filter) != KCE_SUCCESS) return 0;
    if (filter->Type() != kce::ValueType::kLogical) return 0;
    kce::ImageRecord record(schema, image.data(), image.size());
    record.SetRecNo(1);
    (void)filter->Matches(record, true);
    (void)filter->Matches(record, false);
    return 0;
}
