// TKdsDataSet field data: which buffer a field access uses in each state, and the way from a field
// object to its bytes in the record image (the bytes themselves are the image codec's,
// kdsimage.h). New records get their default expressions here.
//
// A field read touches only the record buffer and asks the engine for the table type once per
// open table (and for a date text that is not eight digits); no record is fetched or written.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "kds/kdsdata.h"
#include "kds/kdsimage.h"
#include "rtl/datetime.h"
#include "rtl/textutils.h"

namespace kds {
namespace {

constexpr double kMSecsPerDay = 86400000.0;

image::ImageField ImageFieldOf(const TKCEFieldDef& d) {
    return {d.FieldType, static_cast<int>(d.Length), d.Decimals};
}

}  // namespace

const TKCEFieldDef& TKdsDataSet::DescriptionOf(int fieldNumber) const {
    return fieldDescriptions_.Item(fieldNumber - 1);
}

db::TRecordBuffer TKdsDataSet::GetRecordBufferForState() {
    switch (State()) {
        case db::DataSetState::Browse:
        case db::DataSetState::BlockRead:
            return IsEmpty() ? nullptr : ActiveBuffer();
        case db::DataSetState::Edit:
        case db::DataSetState::Insert:
        case db::DataSetState::NewValue:
            return ActiveBuffer();
        case db::DataSetState::SetKey:
            return keyBuffers_[static_cast<size_t>(currentKeyBuffer_)].empty()
                       ? nullptr
                       : KeyBuffer(currentKeyBuffer_) + kKeyRecordOffset;
        case db::DataSetState::CalcFields:
        case db::DataSetState::InternalCalc:
            return CalcTarget();
        case db::DataSetState::Filter:
            return FilterBuffer() != nullptr ? FilterBuffer() : ActiveBuffer();
        case db::DataSetState::OldValue:
            return oldRecordImage_.empty() ? nullptr : oldRecordImage_.data();
        default:
            return nullptr;
    }
}

// ---- Null tests
// -------------------------------------------------------------------------------------

image::TableKind TKdsDataSet::ImageKind() { return image::KindOfTableType(OpenTableType()); }

bool TKdsDataSet::IsFieldEmpty(const char* p, int length, int type) {
    return image::IsEmpty(ImageKind(), {static_cast<uint16_t>(type), length, 0}, p);
}

bool TKdsDataSet::IsBlobFieldEmpty(const db::TField& field, db::TRecordBuffer buffer) {
    const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
    int64_t size = ModifiedBlobSize(field, buffer);
    if (size >= 0) return size < 1;
    return IsFieldEmpty(buffer + d.Offset, 0, d.FieldType);
}

// ---- Reading
// ----------------------------------------------------------------------------------------

bool TKdsDataSet::ReadFieldData(const db::TField& field, void* destination) {
    db::TRecordBuffer buffer = GetRecordBufferForState();
    if (buffer == nullptr) return false;
    if (field.FieldNo() > 0) {
        const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
        bool editing = State() == db::DataSetState::Edit || State() == db::DataSetState::Insert;
        bool empty = editing && image::IsBlobType(d.FieldType)
                         ? IsBlobFieldEmpty(field, buffer)
                         : IsFieldEmpty(buffer + d.Offset, static_cast<int>(d.Length), d.FieldType);
        if (destination != nullptr && !empty) ReadFieldValue(field, buffer, destination);
        return !empty;
    }
    switch (State()) {
        case db::DataSetState::Browse:
        case db::DataSetState::Edit:
        case db::DataSetState::Insert:
        case db::DataSetState::CalcFields:
        case db::DataSetState::Filter: {
            const char* flag = buffer + recordLength_ + field.Offset();
            if (*flag != 0 && destination != nullptr) {
                std::memcpy(destination, flag + 1, field.DataSize());
            }
            return *flag != 0;
        }
        default:
            return false;
    }
}

void TKdsDataSet::ReadFieldValue(const db::TField& field, db::TRecordBuffer buffer,
                                 void* destination) {
    const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
    image::Read(ImageFieldOf(d), buffer + d.Offset, {field.DataType(), field.DataSize(), this},
                destination);
}

// ---- Writing
// ----------------------------------------------------------------------------------------

void TKdsDataSet::WriteFieldData(db::TField& field, const void* source) {
    using db::DataSetState;
    DataSetState state = State();
    switch (state) {
        case DataSetState::Edit:
        case DataSetState::Insert:
        case DataSetState::SetKey:
        case DataSetState::CalcFields:
        case DataSetState::Filter:
        case DataSetState::NewValue:
        case DataSetState::InternalCalc:
            break;
        default:
            KdsDatabaseError(this, msg::kNotInEditMode);
    }
    if (state == DataSetState::SetKey && field.FieldNo() < 0 && !IsIndexField(field)) {
        db::DatabaseErrorFmt(msg::kFieldNotIndexed, {field.DisplayName()});
    }
    db::TRecordBuffer buffer = GetRecordBufferForState();
    if (buffer == nullptr) KdsDatabaseError(this, msg::kNotInEditMode);
    if (field.FieldNo() < 1) {
        char* flag = buffer + recordLength_ + field.Offset();
        *flag = source != nullptr ? 1 : 0;
        if (source != nullptr) std::memcpy(flag + 1, source, field.DataSize());
    } else {
        if (state == DataSetState::CalcFields) KdsDatabaseError(this, msg::kNotInEditMode);
        if (field.ReadOnly() && state != DataSetState::SetKey && state != DataSetState::Filter) {
            db::DatabaseErrorFmt(msg::kFieldReadOnly, {field.DisplayName()});
        }
        if (state == DataSetState::Edit || state == DataSetState::Insert) field.Validate(source);
        if (field.FieldKind() != db::fkInternalCalc) {
            WriteFieldValue(field.FieldNo(), field.DataType(), source, buffer);
        }
        if (state == DataSetState::SetKey) {
            const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
            uint16_t mark = 1;
            if (field.DataType() == db::ftString) {
                // 0xFFFF marks a segment not assigned: a longer text counts as 0xFFFE characters,
                // more than any key segment holds.
                const size_t length = source != nullptr
                                          ? strnlen(static_cast<const char*>(source),
                                                    static_cast<size_t>(field.DataSize()))
                                          : 0;
                mark = static_cast<uint16_t>(std::min<size_t>(length, 0xFFFE));
            }
            int position = fieldDescriptions_.PositionOfName(d.Name);
            if (position >= 0) SetKeyAssignedMark(currentKeyBuffer_, position, mark);
        }
    }
    if (state != DataSetState::CalcFields && state != DataSetState::Filter &&
        state != DataSetState::NewValue) {
        NotifyDataEvent(db::DataEventCode::FieldChange, &field);
    }
}

void TKdsDataSet::WriteFieldValue(int fieldNumber, db::TFieldType dataType, const void* source,
                                  db::TRecordBuffer buffer) {
    const TKCEFieldDef& d = DescriptionOf(fieldNumber);
    char* p = buffer + d.Offset;
    if (source == nullptr) {
        image::WriteEmpty(ImageKind(), ImageFieldOf(d), p);
        return;
    }
    image::Write(ImageFieldOf(d), p, {dataType, 0, this}, source, tableType_ == ttKdsKDT);
}

// ---- New records
// ------------------------------------------------------------------------------------

void TKdsDataSet::CursorInitRecord(db::TRecordBuffer buffer) {
    CheckKdsStatus(this, KdsClearRecordBuffer(tableHandle_, reinterpret_cast<UNSIGNED8*>(buffer),
                                              recordLength_));
    // Finding each field by name costs a search of the field list per field and record: it is
    // skipped when no field has a default expression at all (the usual case).
    bool anyDefault = false;
    for (int f = 0; f < Fields().Count() && !anyDefault; ++f) {
        anyDefault = !Fields().At(f).DefaultExpression().empty();
    }
    for (int i = 0; i < fieldDescriptions_.Count(); ++i) {
        const TKCEFieldDef& d = fieldDescriptions_.Item(i);
        if (d.FieldType == KCE_AUTOINC) {
            std::memset(buffer + d.Offset, 0xFF, 4);
            continue;
        }
        if (image::IsBlobType(d.FieldType) || !anyDefault) continue;
        db::TField* field = FieldNamedOrNull(d.Name);
        if (field == nullptr || field->DefaultExpression().empty()) continue;
        std::string e = rtl::Trim(field->DefaultExpression());
        int fieldNumber = i + 1;
        try {
            switch (d.FieldType) {
                case KCE_LOGICAL: {
                    std::string upper = rtl::UpperCase(e);
                    bool on = upper == "TRUE" || upper == "T" || upper == ".T." || upper == "1";
                    int16_t value = on ? -1 : 0;
                    WriteFieldValue(fieldNumber, db::ftBoolean, &value, buffer);
                    break;
                }
                case KCE_NUMERIC:
                case KCE_DOUBLE:
                case KCE_CURDOUBLE: {
                    double value = rtl::StrToFloat(e);
                    WriteFieldValue(fieldNumber, db::ftFloat, &value, buffer);
                    break;
                }
                case KCE_DATE:
                case KCE_COMPACTDATE: {
                    int32_t value =
                        static_cast<int32_t>(std::trunc(rtl::StrToDate(e))) + rtl::kDateDelta;
                    WriteFieldValue(fieldNumber, db::ftDate, &value, buffer);
                    break;
                }
                case KCE_STRING:
                    if (e.size() >= 2 && e.front() == '\'' && e.back() == '\'') {
                        std::string text = e.substr(1, e.size() - 2);
                        WriteFieldValue(fieldNumber, db::ftString, text.c_str(), buffer);
                    }
                    break;
                case KCE_INTEGER:
                case KCE_SHORTINT: {
                    int32_t value = rtl::StrToInt(e);
                    bool outOfRange =
                        value == std::numeric_limits<int32_t>::min() ||
                        (d.FieldType == KCE_SHORTINT && (value > 32767 || value <= -32768));
                    if (outOfRange) {
                        KdsDatabaseError(nullptr, std::string(msg::kDefaultOutOfRange) + e, 0);
                    }
                    WriteFieldValue(fieldNumber, db::ftInteger, &value, buffer);
                    break;
                }
                case KCE_TIME: {
                    double time = rtl::StrToTime(e);
                    double fraction = time - std::floor(time);
                    int32_t value = static_cast<int32_t>(std::llround(fraction * kMSecsPerDay));
                    WriteFieldValue(fieldNumber, db::ftTime, &value, buffer);
                    break;
                }
                case KCE_TIMESTAMP: {
                    double value = (rtl::StrToDateTime(e) + rtl::kDateDelta) * kMSecsPerDay;
                    WriteFieldValue(fieldNumber, db::ftDateTime, &value, buffer);
                    break;
                }
                default:
                    break;
            }
        } catch (const rtl::EConvertError& error) {
            // Raised without the dataset, as the first error was: the message reads the same
            // whichever conversion failed.
            KdsDatabaseError(nullptr,
                             std::string(msg::kDefaultValueError) + field->DisplayName() + ")\r\n" +
                                 error.Message(),
                             0);
        } catch (const EKDSDatabaseError& error) {
            KdsDatabaseError(nullptr,
                             std::string(msg::kDefaultValueError) + field->DisplayName() + ")\r\n" +
                                 error.Message(),
                             0);
        }
    }
    if (BlobCount() > 0 && StateAllowsBlobDiscard()) DiscardBlobCaches(buffer);
}

}  // namespace kds
