// Blob fields: content of any length that travels through the dataset's blob streams, and its
// copies to and from files.
#include <algorithm>
#include <cctype>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "rtl/format.h"
#include "rtl/streams.h"

namespace db {

TBlobField::TBlobField(rtl::TComponent* owner) : TField(owner) { SetDataType(ftBlob); }

TMemoField::TMemoField(rtl::TComponent* owner) : TBlobField(owner) { SetDataType(ftMemo); }

TGraphicField::TGraphicField(rtl::TComponent* owner) : TBlobField(owner) { SetDataType(ftGraphic); }

void TBlobField::SetFieldType(TFieldType type) {
    if (IsBlobType(type)) SetDataType(type);
}

void TBlobField::CheckTypeSize(int size) const {
    if (size < 0) throw EDatabaseError(std::string(msg::kInvalidFieldSize));
}

void TBlobField::SetModified(bool modified) {
    modified_ = modified;
    modifiedRecord_ = modified && DataSet() ? DataSet()->ActiveIndex() : -1;
}

namespace {

std::string ReadWhole(rtl::TStream& stream) {
    std::string bytes(static_cast<size_t>(stream.Size()), '\0');
    stream.SetPosition(0);
    if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return bytes;
}

}  // namespace

std::string TBlobField::StringValue() const {
    auto stream =
        RequireDataSet().OpenBlobStream(const_cast<TBlobField&>(*this), TBlobStreamMode::bmRead);
    if (!stream) return {};
    return ReadWhole(*stream);
}

// Replaces the content: the write stream empties it, and closing the stream stores the bytes.
// The field, not the stream, tells the dataset that the record changed.
void TBlobField::SetStringValue(const std::string& value) {
    TDataSet& ds = RequireDataSet();
    {
        auto stream = ds.OpenBlobStream(*this, TBlobStreamMode::bmWrite);
        if (!stream) AccessError("String");
        if (!value.empty()) stream->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
    }
    SetModified(true);
    ds.NotifyDataEvent(DataEventCode::FieldChange, this);
}

void TBlobField::Clear() { SetStringValue(std::string()); }

bool TBlobField::IsBlank() const {
    TDataSet& ds = RequireDataSet();
    if (modified_ && modifiedRecord_ == ds.ActiveIndex()) {
        auto stream = ds.OpenBlobStream(const_cast<TBlobField&>(*this), TBlobStreamMode::bmRead);
        return !stream || stream->Size() == 0;
    }
    return !ds.ReadFieldData(*this, nullptr);
}

void TBlobField::AssignField(const TField* source) {
    if (source != nullptr && source->IsBlob()) {
        SetStringValue(source->StringValue());
        return;
    }
    TField::AssignField(source);
}

void TBlobField::ReleaseBuffers() {
    if (modified_ && DataSet()) DataSet()->ReleaseBlob(*this);
    modified_ = false;
    modifiedRecord_ = -1;
}

void TBlobField::WriteToFile(const std::string& fileName) const {
    std::string bytes = StringValue();
    std::unique_ptr<rtl::TFileStream> file;
    try {
        file = std::make_unique<rtl::TFileStream>(fileName, rtl::fmCreate | rtl::fmOverwrite);
    } catch (const rtl::EStreamError&) {
        throw rtl::EFCreateError("Cannot create file " + fileName);
    }
    if (!bytes.empty()) file->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    file->SetSize(static_cast<int64_t>(bytes.size()));
}

void TBlobField::ReadFromFile(const std::string& fileName) {
    std::unique_ptr<rtl::TFileStream> file;
    try {
        file =
            std::make_unique<rtl::TFileStream>(fileName, rtl::fmOpenRead | rtl::fmShareDenyWrite);
    } catch (const rtl::EStreamError&) {
        throw rtl::EFOpenError("Cannot open file " + fileName);
    }
    // The file is read whole before the blob is touched, so a failing read leaves it as it was.
    SetStringValue(ReadWhole(*file));
}

std::string TBlobField::GetText(bool) const {
    std::string text = rtl::Format("(%s)", {FieldTypeName(DataType())});
    if (!IsBlank()) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    }
    return text;
}

}  // namespace db
