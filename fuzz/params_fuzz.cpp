// Fuzz target for the stored form of statement parameters (what a query's ParamData holds):
// any bytes either read into a collection or raise EReadError, never anything else; a form that
// does not read leaves the collection as it was; one that reads writes out a form that reads back
// to the same parameters and writes the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dataset/params.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

namespace {

std::string Written(const db::TParams& params) {
    rtl::TMemoryStream out;
    params.WriteData(out);
    return out.Data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    db::TParams params;
    params.Add("KEPT", db::ftInteger, db::ptInput).SetAsInteger(7);
    const std::string before = Written(params);
    rtl::TStringStream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        params.ReadData(in);
    } catch (const rtl::EReadError&) {
        if (Written(params) != before) std::abort();
        return 0;
    }
    // What was read writes a form of its own kind, stable from then on.
    const std::string once = Written(params);
    db::TParams again;
    rtl::TStringStream back(once);
    try {
        again.ReadData(back);
    } catch (const rtl::EReadError&) {
        std::abort();
    }
    if (back.Position() != back.Size() || Written(again) != once) std::abort();
    if (again.Count() != params.Count()) std::abort();
    return 0;
}
