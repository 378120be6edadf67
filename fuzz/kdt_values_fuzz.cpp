// Fuzz target: the native tables' field conversions. The input is both a record image and a
// field text. Every image either decodes to a column value or is refused with a status; every
// text either sets the field or is refused; a text that was taken reads back as a text that sets
// the field to the same value again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/field_text.h"
#include "engine/native/kdt_values.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

const kce::RecordLayout& Layout() {
    static const kce::RecordLayout layout = [] {
        kce::RecordLayout l;
        std::vector<kce::FieldSpec> specs = {{"L", 1, 0, 0},   {"N", 2, 8, 2},   {"D", 3, 0, 0},
                                             {"C", 4, 6, 0},   {"M", 5, 0, 0},   {"CD", 9, 0, 0},
                                             {"DB", 10, 0, 0}, {"IN", 11, 0, 0}, {"SI", 12, 0, 0},
                                             {"TM", 13, 0, 0}, {"TS", 14, 0, 0}, {"AI", 15, 0, 0},
                                             {"R", 16, 3, 0},  {"MO", 17, 0, 0}, {"N0", 2, 4, 0}};
        kce::BuildNativeLayout(specs, &l);
        return l;
    }();
    return layout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kce::RecordLayout& layout = Layout();
    std::vector<uint8_t> image(layout.recordLength, 0);
    std::memcpy(image.data(), data, std::min<size_t>(size, image.size()));
    kce::native::ColumnValue value;
    for (const kce::FieldDesc& f : layout.fields) kce::native::Decode(f, image.data(), &value);

    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const kce::FieldDesc& f : layout.fields) {
        if (kce::IsBlobType(f.type)) continue;
        std::vector<uint8_t> first(layout.recordLength, 0);
        if (kce::ValueFromText(f, text, first.data()) != 0) continue;
        std::string back, again;
        Check(kce::ValueToText(f, first.data(), &back) == 0);
        std::vector<uint8_t> second(layout.recordLength, 0);
        Check(kce::ValueFromText(f, back, second.data()) == 0);
        Check(kce::ValueToText(f, second.data(), &again) == 0);
        Check(again == back);
        // Char values read without trailing blanks (and up to a zero byte), so only their text
        // is stable; every other type gives the very same image again.
        if (f.type != KCE_STRING) {
            Check(std::memcmp(first.data() + f.offset, second.data() + f.offset, f.length) == 0);
        }
    }
    return 0;
}
