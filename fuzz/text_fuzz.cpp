// Fuzz target: the runtime's text parsers and formatters. Whatever the text, each call either
// succeeds or raises the runtime's conversion error; what a parser accepts, the matching
// formatter writes in a form that reads back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtl/datetime.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/numconv.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const rtl::TFormatSettings settings;

    double number;
    if (rtl::TryStrToFloat(text, number, settings)) {
        const std::string written = rtl::FloatToStr(number, settings);
        double back;
        Check(rtl::TryStrToFloat(written, back, settings));
        Check(rtl::FloatToStr(back, settings) == written);
    }

    int64_t integer;
    if (rtl::TryStrToInt64(text, integer))
        Check(rtl::StrToInt64(rtl::IntToStr(integer)) == integer);

    rtl::TDateTime when;
    if (rtl::TryStrToDateTime(text, when, settings)) {
        const std::string written = rtl::DateTimeToStr(when, settings);
        rtl::TDateTime back;
        Check(rtl::TryStrToDateTime(written, back, settings));
        Check(rtl::DateTimeToStr(back, settings) == written);
    }

    // The text as a format: only the runtime's own errors may come out.
    try {
        (void)rtl::FormatDateTime(text, 36965.604224537, settings);
    } catch (const rtl::EConvertError&) {
    }
    try {
        (void)rtl::Format(text, {42, 1.5, "text"});
    } catch (const rtl::EConvertError&) {
    }
    return 0;
}
