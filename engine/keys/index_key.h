// The key definition of an index, compiled against a table's fields.
//
// A key text is either a field list ("EMP_CODE;PAY_EFFECTIVE_DATE;ID": one segment per field, in
// that order) or one expression of the expression language ("UPPER(NAME)+DTOS(HIRED)": one
// segment of the expression's type whose segment fields are the fields it reads, in order of
// first appearance). A character expression's width is the length of its value on an empty
// record, as xBase indexes fix it; longer values are cut, shorter ones padded with blanks.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/expression.h"
#include "engine/kce.h"
#include "engine/keys/xbase_key.h"

namespace kce {

// How the keys of an index in an xBase file are made (native indexes need none of it).
struct KeyFileOptions {
    KeyDialect dialect = KeyDialect::kNative;
    // The key length the file states (0 when the index is being created): a character key is
    // cut or padded to it, any other key must have it.
    size_t fileLength = 0;
    // .cdx: keys of NULL-able fields carry a leading marker byte.
    bool nullable = false;
    // .ntx: decimals of a numeric key computed by an expression.
    int decimals = 0;
};

class IndexKey {
  public:
    // Compiles key (and an optional condition: only records satisfying it are in the index).
    // Statuses: expression errors (6500-6599), KCE_FIELD_NOT_INDEXABLE, KCE_KEY_TOO_LONG.
    static KCESTATUS Compile(const ExprSchema& schema, std::string_view key, bool descending,
                             std::string_view condition, std::unique_ptr<IndexKey>* out,
                             const KeyFileOptions& file = {});

    const std::string& KeyText() const { return keyText_; }
    const std::string& ConditionText() const { return conditionText_; }
    bool IsFieldList() const { return fieldList_; }
    bool Descending() const { return descending_; }
    size_t Length() const { return length_; }
    KeyDialect Dialect() const { return file_.dialect; }
    bool Nullable() const { return file_.nullable; }
    // Decimals of a numeric .ntx key.
    int Decimals() const { return segments_.front().xbase.decimals; }
    // The value type of the key's first segment.
    ValueType FirstType() const { return segments_.front().type; }
    // Schema indexes of the segment fields.
    const std::vector<int>& SegmentFields() const { return segmentFields_; }

    // Whether the record belongs in the index (its condition holds, or there is none).
    bool Includes(const ExprRecord& record) const;
    // The full key of a record. A key expression that fails on it gives KCE_INDEX_KEY_FAILED.
    KCESTATUS KeyOf(const ExprRecord& record, std::string* key) const;
    // The key of the first `segments` segment fields of record; the last of them, when it is a
    // character segment of a field list, cut to `lastLength` bytes when lastLength >= 0. An
    // expression key is always whole.
    KCESTATUS PartialKeyOf(const ExprRecord& record, int segments, int lastLength,
                           std::string* key) const;
    // A string key typed by a user, as a key prefix. A character key may span the leading
    // character segments; longer gives KCE_KEY_TOO_LONG. KCE_INVALID_KEY when it does not
    // convert to the key's first type.
    KCESTATUS TextKey(std::string_view text, std::string* key) const;

  private:
    struct Segment {
        std::unique_ptr<Expression> expr;
        ValueType type;
        size_t width;
        XbaseEncoding xbase;
    };
    KCESTATUS CompileXbase(const ExprSchema& schema);
    void SplitConcatenation(const ExprSchema& schema, const std::string& text);
    KeyFileOptions file_;
    std::string keyText_;
    std::string conditionText_;
    bool fieldList_ = false;
    bool descending_ = false;
    size_t length_ = 0;
    size_t charPrefix_ = 0;  // width of the leading character segments
    std::vector<Segment> segments_;
    std::vector<int> segmentFields_;
    std::unique_ptr<Expression> condition_;
};

}  // namespace kce
