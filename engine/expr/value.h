// Values of the expression language and the record interface that expressions read fields from.
//
// Five value types: character (bytes), numeric (double), date (Julian day, 0 the empty date),
// logical, and datetime (Julian day plus milliseconds of the day; a time of day alone has day 0).
// An empty (null) field reads as the empty value of its type: blanks of the field's width, 0, the
// empty date, false, the empty datetime. That is what EMPTY() tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kce {

enum class ValueType : uint8_t { kCharacter, kNumeric, kDate, kLogical, kDateTime };

const char* ValueTypeName(ValueType type);

struct Value {
    ValueType type = ValueType::kLogical;
    bool logical = false;
    double number = 0;
    int64_t day = 0;  // Julian day of a date or datetime; 0 is the empty date
    int64_t ms = 0;   // milliseconds of the day of a datetime
    std::string text;

    static Value Character(std::string s) {
        Value v;
        v.type = ValueType::kCharacter;
        v.text = std::move(s);
        return v;
    }
    static Value Numeric(double n) {
        Value v;
        v.type = ValueType::kNumeric;
        v.number = n;
        return v;
    }
    static Value Date(int64_t julian) {
        Value v;
        v.type = ValueType::kDate;
        v.day = julian;
        return v;
    }
    static Value Logical(bool b) {
        Value v;
        v.logical = b;
        return v;
    }
    static Value DateTime(int64_t julian, int64_t msOfDay) {
        Value v;
        v.type = ValueType::kDateTime;
        v.day = julian;
        v.ms = msOfDay;
        return v;
    }
};

// One field as expressions and keys see it: engine field type code (1 logical ... 17 money), and
// where its bytes stand in the raw record image.
struct ExprField {
    std::string name;
    int type = 0;
    int offset = 0;
    int length = 0;
    int decimals = 0;
};

// The fields of a table, for name lookup at compile time.
class ExprSchema {
  public:
    ExprSchema() = default;
    explicit ExprSchema(std::vector<ExprField> fields) : fields_(std::move(fields)) {}

    const std::vector<ExprField>& Fields() const { return fields_; }
    // Index of the field with this name (letter case ignored), or -1.
    int Find(std::string_view name) const;

  private:
    std::vector<ExprField> fields_;
};

// The value type a field of an engine type reads as; false for a type code outside 1..17.
bool ValueTypeOfField(int engineType, ValueType* out);

// The record an expression is evaluated on.
class ExprRecord {
  public:
    virtual ~ExprRecord() = default;
    // The value of field `index` of the schema the expression was compiled against.
    virtual Value FieldValue(int index) const = 0;
    virtual bool Deleted() const = 0;
    virtual uint32_t RecNo() const = 0;
};

// Reads the fields from a raw record image (the engine's image layout, byte for byte). Memo and
// blob contents are not in the image; a reader may supply them, otherwise they read as "".
class ImageRecord : public ExprRecord {
  public:
    using BlobReader = std::string (*)(void* context, int fieldIndex);

    ImageRecord(const ExprSchema& schema, const uint8_t* image, size_t length)
        : schema_(schema), image_(image), length_(length) {}

    void SetImage(const uint8_t* image, size_t length) {
        image_ = image;
        length_ = length;
    }
    void SetRecNo(uint32_t recNo) { recNo_ = recNo; }
    void SetDeleted(bool deleted) { deleted_ = deleted; }
    void SetBlobReader(BlobReader reader, void* context) {
        blobReader_ = reader;
        blobContext_ = context;
    }

    Value FieldValue(int index) const override;
    bool Deleted() const override { return deleted_; }
    uint32_t RecNo() const override { return recNo_; }

  private:
    const ExprSchema& schema_;
    const uint8_t* image_;
    size_t length_;
    uint32_t recNo_ = 0;
    bool deleted_ = false;
    BlobReader blobReader_ = nullptr;
    void* blobContext_ = nullptr;
};

// Decodes one field of a raw image (the bytes at field.offset, field.length long).
Value DecodeField(const ExprField& field, const uint8_t* bytes);

// Text helpers shared by the evaluator and the keys.
std::string RightTrim(std::string_view s);
// Reads a leading number: blanks, sign, digits, point, digits, exponent, rounded correctly to the
// nearest double (the same text always gives the same value as other programs compute). Sets
// *used to the characters read, 0 when there is no number (the value is then 0).
double ReadNumberText(std::string_view s, size_t* used);
// The leading number as VAL() reads it; 0 when none.
double ParseLeadingNumber(std::string_view s);
// Milliseconds of the day from "HH:MM[:SS[.mmm]]" with an optional AM/PM; -1 when not a time.
int64_t ParseTimeOfDay(std::string_view s);

}  // namespace kce
