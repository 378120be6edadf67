// Raw byte fields of a fixed size (TBytesField) or with a length word (TVarBytesField).
#include <cstring>
#include <vector>

#include "dataset/db_errors.h"
#include "dataset/fields.h"

namespace db {

TBytesField::TBytesField(rtl::TComponent* owner) : TBinaryField(owner) {
    SetDataType(ftBytes);
    SetSize(16);
}

TVarBytesField::TVarBytesField(rtl::TComponent* owner) : TBytesField(owner) {
    SetDataType(ftVarBytes);
}

void TBinaryField::CheckTypeSize(int size) const {
    // A fixed-size column needs at least one byte; the length word limits variable ones.
    int minimum = DataType() == ftVarBytes ? 0 : 1;
    if (size < minimum || size > 65535 - 2) {
        throw EDatabaseError(std::string(msg::kInvalidFieldSize));
    }
}

std::string TBinaryField::StringValue() const {
    std::vector<char> data(DataSize());
    if (!ReadData(data.data())) return {};
    return std::string(data.data(), data.size());
}

void TBinaryField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    std::vector<char> data(DataSize(), '\0');
    std::memcpy(data.data(), value.data(), std::min<size_t>(value.size(), data.size()));
    WriteData(data.data());
}

std::string TBinaryField::GetText(bool) const { return StringValue(); }

std::string TVarBytesField::StringValue() const {
    std::vector<char> data(DataSize());
    if (!ReadData(data.data())) return {};
    uint16_t length = 0;
    std::memcpy(&length, data.data(), sizeof length);
    length = std::min<uint16_t>(length, static_cast<uint16_t>(Size()));
    return std::string(data.data() + 2, length);
}

void TVarBytesField::SetStringValue(const std::string& value) {
    if (value.empty()) {
        Clear();
        return;
    }
    std::vector<char> data(DataSize(), '\0');
    uint16_t length = static_cast<uint16_t>(std::min<size_t>(value.size(), Size()));
    std::memcpy(data.data(), &length, sizeof length);
    std::memcpy(data.data() + 2, value.data(), length);
    WriteData(data.data());
}

}  // namespace db
