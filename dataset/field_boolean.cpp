// TBooleanField: true or false, with configurable texts.
#include <cstdint>

#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "dataset/names.h"
#include "rtl/format.h"

namespace db {

TBooleanField::TBooleanField(rtl::TComponent* owner) : TField(owner) { SetDataType(ftBoolean); }

void TBooleanField::SetDisplayValues(const std::string& values) {
    displayValues_ = values;
    if (values.empty()) {
        trueText_ = "True";
        falseText_ = "False";
        return;
    }
    size_t semicolon = values.find(';');
    if (semicolon == std::string::npos) {
        trueText_ = values;
        falseText_.clear();
    } else {
        trueText_ = values.substr(0, semicolon);
        falseText_ = values.substr(semicolon + 1);
    }
}

bool TBooleanField::BooleanValue() const {
    int16_t data = 0;
    ReadData(&data);
    return data != 0;
}

void TBooleanField::SetBooleanValue(bool value) {
    int16_t data = value ? 1 : 0;
    WriteData(&data);
}

std::string TBooleanField::StringValue() const {
    int16_t data = 0;
    if (!ReadData(&data)) return {};
    return data != 0 ? trueText_ : falseText_;
}

std::string TBooleanField::GetText(bool) const { return StringValue(); }

namespace {
// The text names the beginning of `word` (as many characters as the text has).
bool Abbreviates(const std::string& text, const std::string& word) {
    return !text.empty() && text.size() <= word.size() &&
           SameName(std::string_view(word).substr(0, text.size()), text);
}
}  // namespace

void TBooleanField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        if (falseText_.empty()) {
            SetBooleanValue(false);
        } else if (!trueText_.empty()) {
            Clear();
        } else {
            SetBooleanValue(true);
        }
        return;
    }
    // The false text is tried first: with texts that begin alike, the shared part means false.
    if (Abbreviates(value, falseText_)) {
        SetBooleanValue(false);
    } else if (Abbreviates(value, trueText_)) {
        SetBooleanValue(true);
    } else {
        throw EDatabaseError(rtl::Format(msg::kInvalidBoolValue, {value, DisplayName()}));
    }
}

}  // namespace db
