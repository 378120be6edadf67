// The dataset operations that carry values as variants or streams: calculated-field refresh,
// values in another state, the blob byte reader, and the inert search defaults.
#include "dataset/dataset.h"
#include "rtl/streams.h"
#include "rtl/variant.h"

namespace db {

void TDataSet::RefreshInternalCalcFields(TRecordBuffer) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& field = fields_.At(i);
        if (field.FieldKind() == fkInternalCalc) field.SetVariantValue(field.VariantValue());
    }
}

bool TDataSet::Locate(const std::string&, const std::vector<rtl::Variant>&, const TLocateOptions&) {
    return false;
}

std::vector<rtl::Variant> TDataSet::Lookup(const std::string&, const std::vector<rtl::Variant>&,
                                           const std::string&) {
    return {rtl::Variant(false)};
}

std::unique_ptr<rtl::TStream> TDataSet::OpenBlobStream(TField&, TBlobStreamMode) { return nullptr; }

rtl::Variant TDataSet::FieldValueInState(DataSetState state, TField& field) {
    if (field.FieldKind() != fkData && field.FieldKind() != fkInternalCalc) {
        return rtl::Variant::Null();
    }
    DataSetState saved = state_;
    state_ = state;
    try {
        rtl::Variant value = field.VariantValue();
        state_ = saved;
        return value;
    } catch (...) {
        state_ = saved;
        throw;
    }
}

int TDataSet::ReadBlobBytes(int fieldNumber, std::string& bytes) {
    bytes.clear();
    for (int i = 0; i < fields_.Count(); ++i) {
        TField& field = fields_.At(i);
        if (field.FieldNo() != fieldNumber) continue;
        std::unique_ptr<rtl::TStream> stream = OpenBlobStream(field, TBlobStreamMode::bmRead);
        if (!stream) return 0;
        bytes.resize(static_cast<size_t>(stream->Size()));
        stream->SetPosition(0);
        if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        break;
    }
    return static_cast<int>(bytes.size());
}

}  // namespace db
