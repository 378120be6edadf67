// TStringField: text columns of a fixed maximum size, and the conversions a text column offers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "rtl/datetime.h"
#include "rtl/numconv.h"

namespace db {

TStringField::TStringField(rtl::TComponent* owner) : TField(owner) {
    SetDataType(ftString);
    SetSize(20);
}

void TStringField::SetFieldType(TFieldType type) {
    if (type == ftString || type == ftFixedChar) SetDataType(type);
}

void TStringField::CheckTypeSize(int size) const {
    if (size < 0 || size > kMaxSize) throw EDatabaseError(std::string(msg::kInvalidFieldSize));
}

void TStringField::SetSize(int size) { TField::SetSize(size); }

namespace {

// Room for a field's data: on the stack for the usual short fields, on the heap past that.
// Zero-filled, as the readers and writers of field data expect.
class DataArea {
  public:
    explicit DataArea(size_t size) {
        if (size > sizeof small_) {
            large_.assign(size, '\0');
            data_ = large_.data();
        } else {
            std::memset(small_, 0, size);
        }
    }
    char* Data() { return data_; }

  private:
    char small_[256];
    std::vector<char> large_;
    char* data_ = small_;
};

}  // namespace

std::string TStringField::StringValue() const {
    const size_t size = static_cast<size_t>(DataSize()) + 1;
    DataArea area(size);
    char* data = area.Data();
    if (!ReadData(data)) return {};
    // Field texts are short: a plain loop finds their end sooner than a library call.
    const size_t limit = std::min<size_t>(size, kMaxSize);
    size_t length = 0;
    while (length < limit && data[length] != 0) ++length;
    std::string text(data, length);
    if (transliterate_ && DataSet()) DataSet()->TranslateText(text, text, false);
    return text;
}

void TStringField::SetStringValue(const std::string& value) {
    // The first Size characters, up to a zero character; the rest is dropped without error.
    size_t count = std::min<size_t>(strnlen(value.c_str(), value.size()), Size());
    const char* text = value.data();
    std::string translated;
    if (transliterate_ && DataSet()) {
        translated.assign(value, 0, count);
        DataSet()->TranslateText(translated, translated, true);
        if (translated.size() > static_cast<size_t>(Size())) translated.resize(Size());
        text = translated.data();
        count = translated.size();
    }
    DataArea area(static_cast<size_t>(DataSize()));
    std::memcpy(area.Data(), text, count);
    WriteData(area.Data());
}

int32_t TStringField::IntegerValue() const { return rtl::StrToInt(StringValue()); }
void TStringField::SetIntegerValue(int32_t value) { SetStringValue(rtl::IntToStr(value)); }

double TStringField::FloatValue() const { return rtl::StrToFloat(StringValue()); }
void TStringField::SetFloatValue(double value) { SetStringValue(rtl::FloatToStr(value)); }

rtl::Currency TStringField::CurrencyValue() const { return rtl::DoubleToCurrency(FloatValue()); }
void TStringField::SetCurrencyValue(rtl::Currency value) {
    SetFloatValue(rtl::CurrencyToDouble(value));
}

double TStringField::DateTimeValue() const { return rtl::StrToDateTime(StringValue()); }
void TStringField::SetDateTimeValue(double value) { SetStringValue(rtl::DateTimeToStr(value)); }

bool TStringField::BooleanValue() const {
    std::string text = StringValue();
    if (text.empty()) return false;
    char c = text[0];
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}
void TStringField::SetBooleanValue(bool value) { SetStringValue(value ? "T" : "F"); }

TWideStringField::TWideStringField(rtl::TComponent* owner) : TStringField(owner) {
    SetDataType(ftWideString);
}

void TWideStringField::SetFieldType(TFieldType type) {
    if (type == ftWideString) SetDataType(type);
}

TGuidField::TGuidField(rtl::TComponent* owner) : TStringField(owner) {
    SetDataType(ftGuid);
    SetSize(kGuidSize);
}

void TGuidField::SetFieldType(TFieldType type) {
    if (type == ftGuid) SetDataType(type);
}

void TGuidField::CheckTypeSize(int size) const {
    if (size != kGuidSize) throw EDatabaseError(std::string(msg::kInvalidFieldSize));
}

}  // namespace db
