#include "engine/record_image.h"

#include <cctype>
#include <charconv>
#include <cstring>

#include "engine/status.h"
#include "engine/text.h"

namespace kce {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool ParseUnsigned(std::string_view s, uint32_t* out) {
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && p == s.data() + s.size();
}

// Letters, digits, '_' and blanks, starting with a letter or '_' and not ending with a blank.
// Expressions write a name that holds a blank in brackets: [FIELD NAME].
bool ValidName(std::string_view name) {
    if (name.empty() || name.back() == ' ') return false;
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!std::isalpha(first) && first != '_') return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && u != '_' && u != ' ') return false;
    }
    return true;
}

}  // namespace

int RecordLayout::Find(std::string_view name) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (SameText(fields[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

KCESTATUS ParseFieldList(std::string_view text, std::vector<FieldSpec>* out) {
    out->clear();
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view item = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (item.empty()) continue;
        std::string_view parts[4];
        int count = 0;
        size_t p = 0;
        while (count < 5) {
            size_t comma = item.find(',', p);
            std::string_view part =
                item.substr(p, comma == std::string_view::npos ? item.npos : comma - p);
            if (count == 4)
                return Fail(KCE_INVALID_ARGUMENT, "too many parts in '" + std::string(item) + "'");
            parts[count++] = Trim(part);
            if (comma == std::string_view::npos) break;
            p = comma + 1;
        }
        FieldSpec spec;
        spec.name = std::string(parts[0]);
        if (count < 2) {
            return Fail(KCE_INVALID_ARGUMENT, "field '" + spec.name + "' has no type");
        }
        uint32_t code = 0;
        if (ParseUnsigned(parts[1], &code)) {
            spec.type = code <= 0xFFFF && FindFieldType(UNSIGNED16(code)) ? UNSIGNED16(code) : 0;
        } else {
            spec.type = FieldTypeFromName(parts[1]);
        }
        if (!FindFieldType(spec.type)) {
            return Fail(KCE_UNKNOWN_FIELD_TYPE,
                        "field '" + spec.name + "', type '" + std::string(parts[1]) + "'");
        }
        if (count >= 3 && !parts[2].empty() && !ParseUnsigned(parts[2], &spec.length)) {
            return Fail(KCE_INVALID_FIELD_LENGTH,
                        "field '" + spec.name + "', length '" + std::string(parts[2]) + "'");
        }
        uint32_t decimals = 0;
        if (count >= 4 && !parts[3].empty()) {
            if (!ParseUnsigned(parts[3], &decimals) || decimals > 0xFFFF) {
                return Fail(KCE_INVALID_FIELD_LENGTH,
                            "field '" + spec.name + "', decimals '" + std::string(parts[3]) + "'");
            }
        }
        spec.decimals = static_cast<UNSIGNED16>(decimals);
        out->push_back(std::move(spec));
    }
    if (out->empty()) return Fail(KCE_NO_FIELDS);
    return KCE_SUCCESS;
}

KCESTATUS BuildNativeLayout(const std::vector<FieldSpec>& specs, RecordLayout* out) {
    RecordLayout layout;
    if (specs.empty()) return Fail(KCE_NO_FIELDS);
    uint64_t offset = 0;
    for (const FieldSpec& spec : specs) {
        const std::string& name = spec.name;
        if (name.size() > kMaxFieldNameLength) {
            return Fail(KCE_FIELD_NAME_TOO_LONG,
                        "field '" + name.substr(0, 40) + "...' has " + std::to_string(name.size()) +
                            " characters, at most " + std::to_string(kMaxFieldNameLength));
        }
        if (!ValidName(name)) {
            return Fail(
                KCE_INVALID_ARGUMENT,
                "field name '" + name +
                    "': letters, digits, '_' and inner blanks only, not starting with a digit");
        }
        if (layout.Find(name) >= 0) return Fail(KCE_DUPLICATE_FIELD_NAME, "field '" + name + "'");
        const FieldType* type = FindFieldType(spec.type);
        if (!type) {
            return Fail(KCE_UNKNOWN_FIELD_TYPE,
                        "field '" + name + "', type " + std::to_string(spec.type));
        }
        FieldDesc desc;
        desc.name = name;
        desc.type = spec.type;
        uint32_t fixed = type->imageLength;
        std::string where = "field '" + name + "' (" + FieldTypeName(spec.type) + ")";
        if (fixed) {
            // The length of a fixed-size type may be given, but only as its own size (a
            // timestamp's 8) or, for memo-like types, as any value (it is not the value's size).
            desc.length = fixed;
            if (spec.decimals) return Fail(KCE_INVALID_FIELD_LENGTH, where + " has no decimals");
        } else if (spec.type == KCE_NUMERIC) {
            if (spec.length < 1 || spec.length > 32) {
                return Fail(
                    KCE_INVALID_FIELD_LENGTH,
                    where + ": length " + std::to_string(spec.length) + ", must be 1 to 32");
            }
            if (spec.decimals && uint32_t(spec.decimals) + 2 > spec.length) {
                return Fail(KCE_INVALID_FIELD_LENGTH, where + ": " + std::to_string(spec.decimals) +
                                                          " decimals need a length of at least " +
                                                          std::to_string(spec.decimals + 2));
            }
            if (spec.decimals > 15) {
                return Fail(KCE_INVALID_FIELD_LENGTH, where + ": at most 15 decimals");
            }
            desc.length = spec.length;
            desc.decimals = spec.decimals;
        } else {  // char, raw
            if (spec.length < 1 || spec.length > 65000) {
                return Fail(
                    KCE_INVALID_FIELD_LENGTH,
                    where + ": length " + std::to_string(spec.length) + ", must be 1 to 65000");
            }
            if (spec.decimals) return Fail(KCE_INVALID_FIELD_LENGTH, where + " has no decimals");
            desc.length = spec.length;
        }
        desc.offset = static_cast<UNSIGNED32>(offset);
        offset += desc.length;
        if (offset > kMaxRecordLength) {
            return Fail(KCE_RECORD_TOO_LONG, "the record needs more than " +
                                                 std::to_string(kMaxRecordLength) +
                                                 " bytes at field '" + name + "'");
        }
        layout.fields.push_back(std::move(desc));
    }
    layout.recordLength = static_cast<UNSIGNED32>(offset);
    *out = std::move(layout);
    return KCE_SUCCESS;
}

KCESTATUS ResolveField(const RecordLayout& layout, const UNSIGNED8* field, std::string_view table,
                       int* index) {
    uintptr_t value = reinterpret_cast<uintptr_t>(field);
    if (value == 0) return Fail(KCE_INVALID_ARGUMENT, "no field given");
    if (value < 65536) {
        if (value > layout.fields.size()) {
            return Fail(KCE_FIELD_NOT_FOUND, "field number " + std::to_string(value) +
                                                 " in table '" + std::string(table) + "' (" +
                                                 std::to_string(layout.fields.size()) + " fields)");
        }
        *index = static_cast<int>(value - 1);
        return KCE_SUCCESS;
    }
    std::string_view name(reinterpret_cast<const char*>(field));
    int found = layout.Find(name);
    if (found < 0) {
        return Fail(KCE_FIELD_NOT_FOUND,
                    "field '" + std::string(name) + "' in table '" + std::string(table) + "'");
    }
    *index = found;
    return KCE_SUCCESS;
}

void WriteNativeNull(const FieldDesc& f, uint8_t* image) {
    uint8_t* p = image + f.offset;
    switch (f.type) {
        case KCE_LOGICAL:
            p[0] = ' ';
            break;
        case KCE_DOUBLE:
        case KCE_CURDOUBLE:
            std::memset(p, 0, 8);
            p[0] = 0x20;
            p[7] = 0x80;
            break;
        case KCE_INTEGER:
            StoreU32(p, 0x80000000u);
            break;
        case KCE_SHORTINT:
            StoreU16(p, 0x8000);
            break;
        case KCE_TIME:
        case KCE_AUTOINC:
            StoreU32(p, 0xFFFFFFFFu);
            break;
        case KCE_TIMESTAMP:
            StoreU32(p, 0);
            StoreU32(p + 4, 0xFFFFFFFFu);
            break;
        default:
            std::memset(p, 0, f.length);
            break;
    }
}

void NativeNullRecord(const RecordLayout& layout, uint8_t* image) {
    for (const FieldDesc& f : layout.fields) WriteNativeNull(f, image);
}

bool IsNativeNull(const FieldDesc& f, const uint8_t* image) {
    return IsNativeNullAt(f, image + f.offset);
}

bool IsNativeNullAt(const FieldDesc& f, const uint8_t* p) {
    auto allZero = [&](uint32_t n) {
        for (uint32_t i = 0; i < n; ++i)
            if (p[i]) return false;
        return true;
    };
    switch (f.type) {
        case KCE_LOGICAL:
            return p[0] == ' ';
        case KCE_NUMERIC:
        case KCE_DATE:
        case KCE_STRING:
        case KCE_COMPACTDATE:
        case KCE_RAW:
            return allZero(f.length);
        case KCE_MEMO:
        case KCE_BINARY:
        case KCE_IMAGE:
        case KCE_VARCHAR:
            return LoadU32(p) == 0;
        case KCE_DOUBLE:
        case KCE_CURDOUBLE: {
            static const uint8_t kNull[8] = {0x20, 0, 0, 0, 0, 0, 0, 0x80};
            return std::memcmp(p, kNull, 8) == 0;
        }
        case KCE_INTEGER:
            return LoadU32(p) == 0x80000000u;
        case KCE_SHORTINT:
            return LoadU16(p) == 0x8000;
        case KCE_TIME:
        case KCE_AUTOINC:
            return LoadU32(p) == 0xFFFFFFFFu;
        case KCE_TIMESTAMP:
            return LoadU32(p) == 0;
        default:
            return true;
    }
}

}  // namespace kce
