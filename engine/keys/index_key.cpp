#include "engine/keys/index_key.h"

#include <algorithm>

#include "engine/field_types.h"
#include "engine/keys/raw_key.h"
#include "engine/status.h"

namespace kce {

namespace {

// Every field empty: what fixes the width of a character key expression.
class EmptyRecord : public ExprRecord {
  public:
    explicit EmptyRecord(const ExprSchema& schema) : schema_(schema) {}
    Value FieldValue(int index) const override {
        const ExprField& f = schema_.Fields()[index];
        Value v;
        ValueTypeOfField(f.type, &v.type);
        if (v.type == ValueType::kCharacter && !IsBlobType(UNSIGNED16(f.type))) {
            v.text.assign(size_t(std::max(0, f.length)), ' ');
        }
        return v;
    }
    bool Deleted() const override { return false; }
    uint32_t RecNo() const override { return 0; }

  private:
    const ExprSchema& schema_;
};

// Every character field full: what a trimming key expression is as wide as, in xBase files.
class FullRecord : public ExprRecord {
  public:
    explicit FullRecord(const ExprSchema& schema) : schema_(schema) {}
    Value FieldValue(int index) const override {
        const ExprField& f = schema_.Fields()[index];
        Value v;
        ValueTypeOfField(f.type, &v.type);
        if (v.type == ValueType::kCharacter && !IsBlobType(UNSIGNED16(f.type))) {
            v.text.assign(size_t(std::max(0, f.length)), 'X');
        }
        return v;
    }
    bool Deleted() const override { return false; }
    uint32_t RecNo() const override { return 0; }

  private:
    const ExprSchema& schema_;
};

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

void CollectFields(const ExprNode& n, std::vector<int>* out) {
    if (n.kind == ExprNodeKind::kField &&
        std::find(out->begin(), out->end(), n.field) == out->end()) {
        out->push_back(n.field);
    }
    for (const auto& a : n.args) CollectFields(*a, out);
}

}  // namespace

KCESTATUS IndexKey::Compile(const ExprSchema& schema, std::string_view key, bool descending,
                            std::string_view condition, std::unique_ptr<IndexKey>* out,
                            const KeyFileOptions& file) {
    auto k = std::unique_ptr<IndexKey>(new IndexKey());
    k->keyText_ = Trim(key);
    k->conditionText_ = Trim(condition);
    k->descending_ = descending;
    k->file_ = file;
    if (k->keyText_.empty()) return Fail(KCE_EXPR_EMPTY, "the index has no key");
    if (file.dialect != KeyDialect::kNative) {
        if (KCESTATUS s = k->CompileXbase(schema)) return s;
        *out = std::move(k);
        return KCE_SUCCESS;
    }

    // A field list when every ';'-separated part names a field.
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t cut = k->keyText_.find(';', start);
        parts.push_back(Trim(k->keyText_.substr(start, cut - start)));
        if (cut == std::string::npos) break;
        start = cut + 1;
    }
    k->fieldList_ = std::all_of(parts.begin(), parts.end(),
                                [&](const std::string& p) { return schema.Find(p) >= 0; });
    if (!k->fieldList_ && parts.size() > 1) {
        for (const std::string& p : parts) {
            if (schema.Find(p) < 0) {
                return Fail(KCE_EXPR_UNKNOWN_FIELD,
                            "no field named '" + p + "' in index key \"" + k->keyText_ + "\"");
            }
        }
    }
    if (!k->fieldList_) parts.assign(1, k->keyText_);

    EmptyRecord empty(schema);
    for (const std::string& p : parts) {
        Segment seg;
        if (KCESTATUS s = Expression::Compile(p, schema, &seg.expr)) return s;
        seg.type = seg.expr->Type();
        if (k->fieldList_) {
            const ExprField& f = schema.Fields()[schema.Find(p)];
            if (IsBlobType(UNSIGNED16(f.type))) {
                return Fail(KCE_FIELD_NOT_INDEXABLE,
                            "field '" + f.name + "' holds memo or binary data");
            }
            k->segmentFields_.push_back(schema.Find(p));
            seg.width = KeyWidth(seg.type, size_t(std::max(0, f.length)));
        } else {
            CollectFields(seg.expr->Root(), &k->segmentFields_);
            for (int fi : k->segmentFields_) {
                if (seg.type == ValueType::kCharacter &&
                    IsBlobType(UNSIGNED16(schema.Fields()[fi].type))) {
                    return Fail(KCE_FIELD_NOT_INDEXABLE, "field '" + schema.Fields()[fi].name +
                                                             "' holds memo or binary data");
                }
            }
            size_t charWidth = 0;
            if (seg.type == ValueType::kCharacter) {
                Value v;
                if (seg.expr->Evaluate(empty, true, &v) != KCE_SUCCESS) {
                    return Fail(KCE_INDEX_KEY_FAILED,
                                "index key \"" + k->keyText_ +
                                    "\" has no width on an empty record: " + LastFailureDetail());
                }
                charWidth = std::max<size_t>(1, v.text.size());
            }
            seg.width = KeyWidth(seg.type, charWidth);
        }
        k->length_ += seg.width;
        k->segments_.push_back(std::move(seg));
    }
    for (const Segment& seg : k->segments_) {
        if (seg.type != ValueType::kCharacter) break;
        k->charPrefix_ += seg.width;
    }
    if (k->length_ > kMaxKeyLength) {
        return Fail(KCE_KEY_TOO_LONG, "index key \"" + k->keyText_ + "\" needs " +
                                          std::to_string(k->length_) + " bytes, at most " +
                                          std::to_string(kMaxKeyLength) + " are allowed");
    }
    if (!k->conditionText_.empty()) {
        if (KCESTATUS s = Expression::Compile(k->conditionText_, schema, &k->condition_)) return s;
        if (k->condition_->Type() != ValueType::kLogical) {
            return Fail(KCE_EXPR_NOT_LOGICAL, "index condition \"" + k->conditionText_ + "\" is " +
                                                  ValueTypeName(k->condition_->Type()));
        }
    }
    *out = std::move(k);
    return KCE_SUCCESS;
}

KCESTATUS IndexKey::CompileXbase(const ExprSchema& schema) {
    const KeyDialect dialect = file_.dialect;
    std::string text = XbaseExpression(keyText_, schema, dialect);
    Segment seg;
    if (KCESTATUS s = Expression::Compile(text, schema, &seg.expr)) return s;
    seg.type = seg.expr->Type();
    const ExprNode& root = seg.expr->Root();
    const ExprField* bare =
        root.kind == ExprNodeKind::kField ? &schema.Fields()[size_t(root.field)] : nullptr;
    fieldList_ = bare != nullptr;
    CollectFields(root, &segmentFields_);
    for (int fi : segmentFields_) {
        if (seg.type == ValueType::kCharacter && IsBlobType(schema.Fields()[size_t(fi)].type) &&
            fieldList_) {
            return Fail(KCE_FIELD_NOT_INDEXABLE, "field '" + schema.Fields()[size_t(fi)].name +
                                                     "' holds memo or binary data");
        }
    }
    XbaseEncoding& enc = seg.xbase;
    enc.type = seg.type;
    const size_t marker = file_.nullable ? 1 : 0;
    const size_t stated = file_.fileLength > marker ? file_.fileLength - marker : 0;
    switch (seg.type) {
        case ValueType::kCharacter: {
            if (stated) {
                enc.width = stated;
                break;
            }
            size_t width = 1;
            for (int pass = 0; pass < 2; ++pass) {
                Value v;
                KCESTATUS s = pass == 0 ? seg.expr->Evaluate(EmptyRecord(schema), true, &v)
                                        : seg.expr->Evaluate(FullRecord(schema), true, &v);
                if (s) {
                    return Fail(
                        KCE_INDEX_KEY_FAILED,
                        "index key \"" + keyText_ + "\" has no width: " + LastFailureDetail());
                }
                width = std::max(width, v.text.size());
            }
            enc.width = width;
            break;
        }
        case ValueType::kNumeric:
            if (dialect == KeyDialect::kCdx) {
                enc.integer = bare && (bare->type == KCE_INTEGER || bare->type == KCE_AUTOINC);
                enc.width = enc.integer ? 4 : 8;
            } else if (bare && bare->type == KCE_NUMERIC) {
                enc.width = size_t(bare->length);
                enc.decimals = bare->decimals;
            } else {
                enc.width = stated ? stated : 10;
                enc.decimals = file_.decimals;
            }
            break;
        case ValueType::kDate:
        case ValueType::kDateTime:
            enc.width = 8;
            break;
        case ValueType::kLogical:
            enc.width = 1;
            break;
    }
    seg.width = enc.width;
    length_ = enc.width + marker;
    if (file_.fileLength && length_ != file_.fileLength) {
        return Fail(KCE_INDEX_MISMATCH, "index key \"" + keyText_ + "\" makes " +
                                            std::to_string(length_) + "-byte keys, the file has " +
                                            std::to_string(file_.fileLength));
    }
    if (seg.type == ValueType::kCharacter) charPrefix_ = length_;
    segments_.push_back(std::move(seg));
    if (!file_.nullable) SplitConcatenation(schema, text);
    if (!conditionText_.empty()) {
        std::string cond = XbaseExpression(conditionText_, schema, dialect);
        if (KCESTATUS s = Expression::Compile(cond, schema, &condition_)) return s;
        if (condition_->Type() != ValueType::kLogical) {
            return Fail(KCE_EXPR_NOT_LOGICAL, "index condition \"" + conditionText_ + "\" is " +
                                                  ValueTypeName(condition_->Type()));
        }
    }
    return KCE_SUCCESS;
}

// A character key that is a concatenation of terms each reading one field of its own
// ("EMPLOYEECO+DTOS(EFFECTIVED)") gets one segment per term, so that a raw key built from the
// leading fields matches as a prefix, as with a field list.
void IndexKey::SplitConcatenation(const ExprSchema& schema, const std::string& text) {
    if (segments_.front().type != ValueType::kCharacter) return;
    std::vector<std::string> parts;
    int depth = 0;
    char quote = 0;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '+' && depth == 0) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        } else if (c == '-' && depth == 0) {
            return;  // a trimming concatenation moves blanks: keep it whole
        }
    }
    parts.push_back(text.substr(start));
    if (parts.size() < 2) return;
    std::vector<Segment> segs;
    std::vector<int> fields;
    size_t total = 0;
    for (const std::string& part : parts) {
        Segment seg;
        if (Expression::Compile(part, schema, &seg.expr) != KCE_SUCCESS) return;
        seg.type = seg.expr->Type();
        if (seg.type != ValueType::kCharacter) return;
        std::vector<int> read;
        CollectFields(seg.expr->Root(), &read);
        if (read.size() != 1 || std::find(fields.begin(), fields.end(), read[0]) != fields.end())
            return;
        fields.push_back(read[0]);
        size_t width = 0;
        Value v;
        if (seg.expr->Evaluate(EmptyRecord(schema), true, &v) != KCE_SUCCESS) return;
        width = v.text.size();
        if (seg.expr->Evaluate(FullRecord(schema), true, &v) != KCE_SUCCESS) return;
        if (v.text.size() != width || width == 0) return;  // its width must not vary
        seg.width = width;
        seg.xbase.type = ValueType::kCharacter;
        seg.xbase.width = width;
        total += width;
        segs.push_back(std::move(seg));
    }
    if (total != length_) return;
    segments_ = std::move(segs);
    segmentFields_ = std::move(fields);
    fieldList_ = true;
}

bool IndexKey::Includes(const ExprRecord& record) const {
    return !condition_ || condition_->Matches(record, true);
}

KCESTATUS IndexKey::KeyOf(const ExprRecord& record, std::string* key) const {
    return PartialKeyOf(record, int(segments_.size()), -1, key);
}

KCESTATUS IndexKey::PartialKeyOf(const ExprRecord& record, int segments, int lastLength,
                                 std::string* key) const {
    key->clear();
    if (!fieldList_) segments = int(segments_.size());
    segments = std::clamp(segments, 0, int(segments_.size()));
    for (int i = 0; i < segments; ++i) {
        const Segment& seg = segments_[size_t(i)];
        Value v;
        if (seg.expr->Evaluate(record, true, &v) != KCE_SUCCESS) {
            return Fail(KCE_INDEX_KEY_FAILED,
                        "index key \"" + keyText_ + "\": " + LastFailureDetail());
        }
        size_t width = seg.width;
        if (fieldList_ && i == segments - 1 && lastLength >= 0 &&
            seg.type == ValueType::kCharacter) {
            width = std::min(width, size_t(lastLength));
        }
        if (file_.dialect == KeyDialect::kNative) {
            AppendKeyValue(v, width, key);
        } else {
            if (file_.nullable && i == 0) key->push_back(char(0x80));
            XbaseEncoding enc = seg.xbase;
            enc.width = width;
            AppendXbaseKey(v, enc, file_.dialect, key);
        }
    }
    if (descending_) ComplementKey(key);
    return KCE_SUCCESS;
}

KCESTATUS IndexKey::TextKey(std::string_view text, std::string* key) const {
    key->clear();
    const Segment& first = segments_.front();
    if (file_.dialect != KeyDialect::kNative && first.type != ValueType::kCharacter) {
        // Through the raw-key form of the value, then into the file's encoding.
        std::string raw;
        if (!EncodeTextKey(text, first.type, &raw)) {
            return Fail(KCE_INVALID_KEY, "'" + std::string(text) + "' is not a " +
                                             ValueTypeName(first.type) + " key for index key \"" +
                                             keyText_ + "\"");
        }
        Value v;
        if (!DecodeKeyValue(raw, first.type, &v)) {
            return Fail(KCE_INVALID_KEY,
                        "'" + std::string(text) + "' for index key \"" + keyText_ + "\"");
        }
        if (file_.nullable) key->push_back(char(0x80));
        AppendXbaseKey(v, first.xbase, file_.dialect, key);
        if (descending_) ComplementKey(key);
        return KCE_SUCCESS;
    }
    if (file_.nullable) key->push_back(char(0x80));
    if (!EncodeTextKey(text, segments_.front().type, key)) {
        return Fail(KCE_INVALID_KEY, "'" + std::string(text) + "' is not a " +
                                         ValueTypeName(segments_.front().type) +
                                         " key for index key \"" + keyText_ + "\"");
    }
    size_t limit = segments_.front().type == ValueType::kCharacter ? charPrefix_ : length_;
    if (key->size() > limit) {
        return Fail(KCE_KEY_TOO_LONG, "key of " + std::to_string(key->size()) +
                                          " bytes for index key \"" + keyText_ + "\" of " +
                                          std::to_string(limit) + " bytes");
    }
    if (descending_) ComplementKey(key);
    return KCE_SUCCESS;
}

}  // namespace kce
