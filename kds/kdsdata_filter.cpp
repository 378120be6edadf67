// Filters, Locate and Lookup of TKdsDataSet.
//
// Filter and Filtered become an engine filter on the table: an optimized one (KdsSetAOF) while
// KdsOptimizedFilters is on, else a plain one (KdsSetFilter). The component does not parse the
// expression, apart from one rewrite: a string literal ending in an asterisk loses it and turns
// the table's exact-match setting off, so that the engine compares only the leading part.
//
// Locate and Lookup fill the filter buffer with the key values and then either seek a raw key on
// an index whose leading fields are exactly the key fields, or install a temporary optimized
// filter built from the values (AND-ed with a filter already installed) and go to the top.
// Either way the table's previous filter and, when nothing is found, its position come back.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dataset/fields.h"
#include "kds/kdsdata.h"
#include "kds/kdsdata_limits.h"
#include "kds/kdsengine.h"
#include "rtl/textutils.h"

namespace kds {

namespace {

constexpr UNSIGNED16 kExactOn = 1;
constexpr UNSIGNED16 kExactOff = 0;
constexpr UNSIGNED16 kConditionCapacity = 10;
constexpr UNSIGNED16 kRawKeyCapacity = 256;
constexpr size_t kMaxCoveredSegments = 100;

std::string TextOf(const std::vector<UNSIGNED8>& buffer, size_t length) {
    size_t end = std::min(length, buffer.size());
    const auto* first = reinterpret_cast<const char*>(buffer.data());
    size_t zero = std::find(first, first + end, '\0') - first;
    return std::string(first, zero);
}

std::vector<std::string> SplitNames(const std::string& names) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= names.size()) {
        size_t end = names.find(';', start);
        if (end == std::string::npos) end = names.size();
        std::string name = rtl::Trim(names.substr(start, end - start));
        if (!name.empty()) out.push_back(name);
        start = end + 1;
    }
    return out;
}

// Whether the key fields occupy index positions 1..k without a gap (any order, repeats allowed);
// the upper-case name of the field at position k goes to lastSegment.
bool Covers(const std::vector<std::string>& keyFields, const std::string& indexFields,
            std::string* lastSegment) {
    std::vector<std::string> segments = SplitNames(indexFields);
    if (segments.size() > kMaxCoveredSegments) segments.resize(kMaxCoveredSegments);
    if (keyFields.empty()) return false;
    std::vector<bool> used(segments.size(), false);
    size_t highest = 0;
    for (const std::string& key : keyFields) {
        size_t at = 0;
        while (at < segments.size() && !rtl::SameText(segments[at], key)) ++at;
        if (at == segments.size()) return false;
        used[at] = true;
        highest = std::max(highest, at + 1);
    }
    for (size_t i = 0; i < highest; ++i) {
        if (!used[i]) return false;
    }
    *lastSegment = rtl::UpperCase(segments[highest - 1]);
    return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

// ---- The filter ---------------------------------------------------------------------------------

std::pair<std::string, UNSIGNED16> TKdsDataSet::PrepareFilterText() {
    UNSIGNED16 exact = kExactOn;
    std::string text = Filter();
    const bool native = EngineTableType() == KCE_KDT;
    if (native) {
        std::vector<UNSIGNED8> work(Filter().size() + 51, 0);
        UNSIGNED16 length = static_cast<UNSIGNED16>(work.size() - 1);
        CheckKdsStatus(
            this, KdsExpressionLongToShort(TableHandle(), KceText(Filter()), work.data(), &length));
        text = TextOf(work, length);
    }
    char open = 0;
    size_t openedAt = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (open == 0) {
            if (c == '\'' || c == '"') {
                open = c;
                openedAt = i;
            }
            continue;
        }
        if (c == '*' && i + 1 < text.size() && text[i + 1] == open) {
            size_t back = i;
            while (back > openedAt && text[back] == '*') --back;
            if (back != openedAt) {
                // The trailing wildcard: the literal is closed by the quote after it.
                text.erase(i, 1);
                exact = kExactOff;
                open = 0;
                continue;  // text[i] is now the closing quote; the scan goes on past it
            }
            continue;
        }
        if (c == open) open = 0;
    }
    if (native) {
        std::vector<UNSIGNED8> work(std::max(text.size(), Filter().size()) + 51, 0);
        UNSIGNED16 length = static_cast<UNSIGNED16>(work.size() - 1);
        CheckKdsStatus(
            this, KdsExpressionShortToLong(TableHandle(), KceText(text), work.data(), &length));
        text = TextOf(work, length);
    }
    return {text, exact};
}

void TKdsDataSet::ActivateFilter() {
    if (Filter().empty()) {
        DeactivateFilter();
        return;
    }
    auto [text, exact] = PrepareFilterText();
    CheckKdsStatus(this, KdsSetExact22(TableHandle(), exact));
    if (!KdsTableOptions().KdsOptimizedFilters()) {
        CheckKdsStatus(this, KdsSetFilter(TableHandle(), KceText(text)));
    } else {
        UNSIGNED16 resolution = KdsTableOptions().KdsAOFResolveImmediate() ? KCE_RESOLVE_IMMEDIATE
                                                                           : KCE_RESOLVE_DYNAMIC;
        CheckKdsStatus(this, KdsSetAOF(TableHandle(), KceText(text), resolution));
    }
}

void TKdsDataSet::DeactivateFilter() {
    KCESTATUS status = KdsTableOptions().KdsOptimizedFilters() ? KdsClearAOF(TableHandle())
                                                               : KdsClearFilter(TableHandle());
    if (status != KCE_NO_FILTER) CheckKdsStatus(this, status);
}

void TKdsDataSet::SetFiltered(bool on) {
    db::TDataSet::SetFiltered(on);
    if (TableHandle() != kNoKdsHandle) {
        if (on) {
            ActivateFilter();
        } else {
            DeactivateFilter();
        }
        if (Active()) First();
    }
}

void TKdsDataSet::SetFilter(const std::string& text) {
    db::TDataSet::SetFilter(text);
    if (Active() && Filtered()) SetFiltered(true);
}

void TKdsTableOptions::SetKdsOptimizedFilters(bool value) {
    if (value == optimizedFilters_) return;
    TKdsDataSet* owner = owner_;
    if (owner == nullptr || !owner->Active() || owner->IsLoading() || !owner->Filtered()) {
        optimizedFilters_ = value;
        return;
    }
    bool old = optimizedFilters_;
    try {
        owner->DeactivateFilter();
        optimizedFilters_ = value;
        owner->ActivateFilter();
        owner->First();
    } catch (...) {
        optimizedFilters_ = old;
        throw;
    }
}

void TKdsDataSet::ActivateScopeAndFilter() {
    if (Scoped()) ActivateScope();
    if (Filtered()) ActivateFilter();
}

bool TKdsDataSet::FindFilteredRecord(bool restart, bool forward) {
    EnsureBrowseMode();
    FireBeforeScroll();
    SetFound(false);
    SyncCursor();
    ForgetCursorPosition();
    const bool temporary = !Filtered();
    UNSIGNED16 atEnd = 1;
    try {
        if (temporary) ActivateFilter();
        if (forward) {
            CheckKdsStatus(this, restart ? KdsGotoTop(OrderHandle()) : KdsSkip(OrderHandle(), 1));
            CheckKdsStatus(this, KdsAtEOF(TableHandle(), &atEnd));
        } else {
            CheckKdsStatus(this,
                           restart ? KdsGotoBottom(OrderHandle()) : KdsSkip(OrderHandle(), -1));
            CheckKdsStatus(this, KdsAtBOF(TableHandle(), &atEnd));
        }
    } catch (...) {
        if (temporary) DeactivateFilter();
        throw;
    }
    if (temporary) DeactivateFilter();
    if (!atEnd) {
        RefillBuffers({db::rmExact, db::rmCenter});
        SetFound(true);
    }
    if (Found()) FireAfterScroll();
    return Found();
}

// ---- Searching by value -----------------------------------------------------------------------

std::string TKdsDataSet::BuildFilterString(const std::vector<db::TField*>& fields,
                                           bool caseInsensitive) {
    if (State() != db::DataSetState::Filter) KdsDatabaseError(this, msg::kBuildFilterString);
    std::string out;
    for (db::TField* field : fields) {
        if (!out.empty()) out += " AND ";
        // A name with a blank in it is written in brackets, as the engine's expressions take it.
        std::string name = field->FieldName();
        if (name.find(' ') != std::string::npos) name = "[" + name + "]";
        if (field->IsBlank()) {
            out += "(empty(" + name + "))";
            continue;
        }
        UNSIGNED16 type = DescriptionOf(field->FieldNo()).FieldType;
        std::string text = field->StringValue();
        std::string literal;
        switch (type) {
            case KCE_LOGICAL:
                literal = field->BooleanValue() ? ".TRUE." : ".FALSE.";
                break;
            case KCE_DATE:
                literal = "ctod(" + Quoted(text) + ")";
                break;
            case KCE_STRING: {
                std::string escaped;
                for (char c : text) {
                    if (c == '"') {
                        escaped += "\"+ Chr(34) + \"";
                    } else {
                        escaped += c;
                    }
                }
                literal = Quoted(escaped);
                break;
            }
            case KCE_TIME:
                literal = "ctot(" + Quoted(text) + ")";
                break;
            case KCE_TIMESTAMP:
                literal = "ctots(" + Quoted(text) + ")";
                break;
            default:
                literal = text;
                break;
        }
        if (type == KCE_STRING && caseInsensitive) {
            out += "(UPPER(" + name + ")=UPPER(" + literal + "))";
        } else {
            out += "(" + name + "=" + literal + ")";
        }
    }
    return out;
}

namespace {

// Whether an index may be used for a search only when its fields are the key fields themselves.
bool IsSpecialIndex(KDSHANDLE index, bool askUnique) {
    std::vector<UNSIGNED8> scope(kRawKeyCapacity + 1, 0);
    for (UNSIGNED16 which : {UNSIGNED16(KCE_TOP), UNSIGNED16(KCE_BOTTOM)}) {
        UNSIGNED16 length = kRawKeyCapacity;
        KCESTATUS status = KdsGetScope(index, which, scope.data(), &length);
        if (status != KCE_NO_SCOPE && !(status == KCE_SUCCESS && length == 0)) return true;
    }
    UNSIGNED8 condition[kConditionCapacity + 1] = {};
    UNSIGNED16 conditionLength = kConditionCapacity;
    KCESTATUS status = KdsGetIndexCondition(index, condition, &conditionLength);
    if ((status == KCE_SUCCESS || status == KCE_INSUFFICIENT_BUFFER) && conditionLength != 0) {
        return true;
    }
    if (askUnique) {
        UNSIGNED16 unique = 0;
        if (KdsIsIndexUnique(index, &unique) == KCE_SUCCESS && unique) return true;
    }
    UNSIGNED16 custom = 0;
    return KdsIsIndexCustom(index, &custom) == KCE_SUCCESS && custom;
}

std::string IndexFieldList(const TKdsDataSet* dataSet, KDSHANDLE index) {
    UNSIGNED16 count = 0;
    CheckKdsStatus(dataSet, KdsGetNumSegments(index, &count));
    std::string fields;
    std::vector<UNSIGNED8> name(kSegmentNameCapacity + 1, 0);
    for (UNSIGNED16 segment = 0; segment < count; ++segment) {
        UNSIGNED16 length = kSegmentNameCapacity;
        CheckKdsStatus(dataSet, KdsGetSegmentFieldname(index, segment, name.data(), &length));
        if (!fields.empty()) fields += ";";
        fields += TextOf(name, length);
    }
    return fields;
}

}  // namespace

bool TKdsDataSet::FindMatchingRecord(const std::string& keyFields,
                                     const std::vector<rtl::Variant>& keyValues,
                                     const db::TLocateOptions& options) {
    EnsureBrowseMode();
    KDSHANDLE saved = 0;
    CheckKdsStatus(this, KdsGetBookmark(TableHandle(), &saved));
    std::vector<db::TField*> fields;
    FieldsNamed(&fields, keyFields);
    const bool caseInsensitive = options.count(db::loCaseInsensitive) != 0;
    const bool partial = options.count(db::loPartialKey) != 0;
    db::DataSetState previous = EnterTempState(db::DataSetState::Filter);
    db::TRecordBuffer savedFilterBuffer = FilterBuffer();
    db::TRecordBuffer buffer = ScratchBuffer();
    SetFilterBuffer(buffer);
    bool found = false;
    try {
        CursorInitRecord(buffer);
        if (fields.size() == 1) {
            fields[0]->SetVariantValue(keyValues.empty() ? rtl::Variant::Null() : keyValues[0]);
        } else {
            for (size_t i = 0; i < fields.size(); ++i) {
                fields[i]->SetVariantValue(i < keyValues.size() ? keyValues[i]
                                                                : rtl::Variant::Null());
            }
        }
        std::vector<std::string> keyNames;
        for (db::TField* field : fields) keyNames.push_back(field->FieldName());

        KDSHANDLE index = 0;
        std::string lastSegment;
        const bool askUnique = TableType() != ttKdsKDT;
        if (!caseInsensitive) {
            if (HasActiveIndex() && IsSpecialIndex(OrderHandle(), askUnique)) {
                if (Covers(keyNames, CurrentIndexFields(), &lastSegment)) index = OrderHandle();
            } else {
                KDSHANDLE handles[kMaxIndexes];
                UNSIGNED16 count = kMaxIndexes;
                CheckKdsStatus(this, KdsGetAllIndexes(TableHandle(), handles, &count));
                for (UNSIGNED16 i = 0; i < count && index == 0; ++i) {
                    if (Covers(keyNames, IndexFieldList(this, handles[i]), &lastSegment) &&
                        !IsSpecialIndex(handles[i], askUnique)) {
                        index = handles[i];
                    }
                }
            }
        }

        if (index != 0) {
            CheckKdsStatus(this, KdsInitRawKey(index));
            for (db::TField* field : fields) {
                const TKCEFieldDef& d = DescriptionOf(field->FieldNo());
                const UNSIGNED8* value = reinterpret_cast<const UNSIGNED8*>(buffer) + d.Offset;
                UNSIGNED32 length = d.Length;
                if (d.FieldType == KCE_STRING) {
                    if (partial && rtl::UpperCase(field->FieldName()) == lastSegment) {
                        while (length > 0 && (value[length - 1] == ' ' || value[length - 1] == 0)) {
                            --length;
                        }
                    }
                    CheckKdsStatus(this,
                                   KdsSetField(index, KceText(field->FieldName()), value, length));
                } else {
                    CheckKdsStatus(
                        this, KdsSetFieldRaw(index, KceText(field->FieldName()), value, length));
                }
            }
            UNSIGNED8 key[kRawKeyCapacity] = {};
            UNSIGNED16 keyLength = kRawKeyCapacity;
            CheckKdsStatus(this, KdsBuildRawKey(index, key, &keyLength));
            UNSIGNED16 seekFound = 0;
            CheckKdsStatus(this,
                           KdsSeek(index, key, keyLength, KCE_RAWKEY, KCE_SOFTSEEK, &seekFound));
            found = seekFound != 0;
        } else {
            std::string expression = BuildFilterString(fields, caseInsensitive);
            bool hadFilter = false;
            std::string installed;
            UNSIGNED16 installedExact = kExactOn;
            if (KdsTableOptions().KdsOptimizedFilters()) {
                UNSIGNED16 length = 0;
                KCESTATUS status = KdsGetAOF(TableHandle(), nullptr, &length);
                if (status == KCE_INSUFFICIENT_BUFFER) {
                    std::vector<UNSIGNED8> text(static_cast<size_t>(length) + 1, 0);
                    UNSIGNED16 capacity = length;
                    CheckKdsStatus(this, KdsGetAOF(TableHandle(), text.data(), &capacity));
                    installed = TextOf(text, capacity);
                    CheckKdsStatus(this, KdsGetExact22(TableHandle(), &installedExact));
                    hadFilter = true;
                    expression += " AND (" + installed + ")";
                } else if (status != KCE_NO_FILTER) {
                    CheckKdsStatus(this, status);
                }
            }
            auto restore = [&] {
                if (hadFilter) {
                    KdsSetExact22(TableHandle(), installedExact);
                    KdsSetAOF(TableHandle(), KceText(installed), KCE_RESOLVE_DYNAMIC);
                } else {
                    KdsClearAOF(TableHandle());
                }
            };
            try {
                CheckKdsStatus(this, KdsSetExact22(TableHandle(), partial ? kExactOff : kExactOn));
                CheckKdsStatus(this,
                               KdsSetAOF(TableHandle(), KceText(expression), KCE_RESOLVE_DYNAMIC));
                CheckKdsStatus(this, KdsGotoTop(OrderHandle()));
                UNSIGNED16 eof = 1;
                CheckKdsStatus(this, KdsAtEOF(TableHandle(), &eof));
                found = eof == 0;
            } catch (...) {
                restore();
                throw;
            }
            restore();
        }
    } catch (...) {
        SetFilterBuffer(savedFilterBuffer);
        LeaveTempState(previous);
        KdsGotoBookmark(TableHandle(), saved);
        throw;
    }
    SetFilterBuffer(savedFilterBuffer);
    LeaveTempState(previous);
    if (!found) KdsGotoBookmark(TableHandle(), saved);
    return found;
}

bool TKdsDataSet::Locate(const std::string& keyFields, const std::vector<rtl::Variant>& keyValues,
                         const db::TLocateOptions& options) {
    FireBeforeScroll();
    bool found = FindMatchingRecord(keyFields, keyValues, options);
    if (found) {
        RefillBuffers({db::rmExact, db::rmCenter});
        FireAfterScroll();
    }
    return found;
}

std::vector<rtl::Variant> TKdsDataSet::Lookup(const std::string& keyFields,
                                              const std::vector<rtl::Variant>& keyValues,
                                              const std::string& resultFields) {
    std::vector<rtl::Variant> result{rtl::Variant::Null()};
    bool allNull = std::all_of(keyValues.begin(), keyValues.end(),
                               [](const rtl::Variant& v) { return v.IsNull(); });
    if (keyValues.empty() || allNull) return result;
    if (FindMatchingRecord(keyFields, keyValues, {})) {
        std::vector<db::TField*> fields;
        FieldsNamed(&fields, resultFields);
        db::DataSetState previous = EnterTempState(db::DataSetState::CalcFields);
        db::TRecordBuffer buffer = NewRecordBuffer();
        try {
            ReadCurrentRecord(buffer, RecordDataSize(), db::FetchMode::Current);
            ComputeCalcFields(buffer);
            result.clear();
            for (db::TField* field : fields) result.push_back(field->VariantValue());
        } catch (...) {
            DisposeRecordBuffer(buffer);
            LeaveTempState(previous);
            ForgetCursorPosition();
            throw;
        }
        DisposeRecordBuffer(buffer);
        LeaveTempState(previous);
    }
    ForgetCursorPosition();
    return result;
}

}  // namespace kds
