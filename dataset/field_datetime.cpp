// Date, time and date-time fields. They work in value form (a date-time double); the dataset
// converts to and from the native form its descendant stores.
#include "dataset/fields.h"
#include "rtl/datetime.h"
#include "rtl/numconv.h"

namespace db {

TDateTimeField::TDateTimeField(rtl::TComponent* owner) : TField(owner) { SetDataType(ftDateTime); }

TDateField::TDateField(rtl::TComponent* owner) : TDateTimeField(owner) { SetDataType(ftDate); }

TTimeField::TTimeField(rtl::TComponent* owner) : TDateTimeField(owner) { SetDataType(ftTime); }

double TDateTimeField::DateTimeValue() const {
    double value = 0;
    ReadData(&value);
    return value;
}

void TDateTimeField::SetDateTimeValue(double value) { WriteData(&value); }

double TDateTimeField::FloatValue() const { return DateTimeValue(); }
void TDateTimeField::SetFloatValue(double value) { SetDateTimeValue(value); }

rtl::Currency TDateTimeField::CurrencyValue() const {
    return rtl::DoubleToCurrency(DateTimeValue());
}
void TDateTimeField::SetCurrencyValue(rtl::Currency value) {
    SetDateTimeValue(rtl::CurrencyToDouble(value));
}

std::string TDateTimeField::StringValue() const {
    double value = 0;
    if (!ReadData(&value)) return {};
    return FormatValue(value);
}

void TDateTimeField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    SetDateTimeValue(ParseText(value));
}

std::string TDateTimeField::GetText(bool displayText) const {
    double value = 0;
    if (!ReadData(&value)) return {};
    if (displayText && !displayFormat_.empty()) return rtl::FormatDateTime(displayFormat_, value);
    return FormatValue(value);
}

std::string TDateTimeField::FormatValue(double value) const { return rtl::DateTimeToStr(value); }
double TDateTimeField::ParseText(const std::string& text) const { return rtl::StrToDateTime(text); }

std::string TDateField::FormatValue(double value) const { return rtl::DateToStr(value); }
double TDateField::ParseText(const std::string& text) const { return rtl::StrToDate(text); }

std::string TTimeField::FormatValue(double value) const { return rtl::TimeToStr(value); }
double TTimeField::ParseText(const std::string& text) const { return rtl::StrToTime(text); }

}  // namespace db
