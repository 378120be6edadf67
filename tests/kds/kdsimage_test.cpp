// The components' image codec against the engine, over the same bytes: the engine's own empty
// images and emptiness rules (record_image.h, and a real table of each kind through the C
// interface) and the values the engine stores. If either side changes a rule, these fail.
#include "kds/kdsimage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/field_types.h"
#include "engine/record_image.h"
#include "rtl/datetime.h"

namespace {

using kds::image::ImageField;
using kds::image::NativeSlot;
using kds::image::TableKind;

const UNSIGNED8* U(const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); }

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    return out;
}

int32_t NativeDay(int y, int m, int d) {
    return static_cast<int32_t>(rtl::EncodeDate(y, m, d)) + static_cast<int32_t>(rtl::kDateDelta);
}

bool IsBinaryNumber(uint16_t type) {
    return type == KCE_DOUBLE || type == KCE_CURDOUBLE || type == KCE_INTEGER ||
           type == KCE_SHORTINT;
}

// Native images: the engine's record_image rules byte for byte, for every type, on the empty
// image and on bytes that are near it.
TEST(ImageCodec, NativeRulesAreTheEnginesForEveryType) {
    for (const kce::FieldType& t : kce::FieldTypes()) {
        SCOPED_TRACE(t.name);
        kce::FieldDesc desc;
        desc.type = t.code;
        desc.length = t.imageLength != 0 ? t.imageLength : 6;
        const ImageField field{t.code, static_cast<int>(desc.length), 0};

        std::string engine(desc.length, '\x55');
        std::string codec(desc.length, '\x55');
        kce::WriteNativeNull(desc, reinterpret_cast<uint8_t*>(engine.data()));
        kds::image::WriteEmpty(TableKind::Native, field, codec.data());
        EXPECT_EQ(Hex(codec), Hex(engine));

        std::vector<std::string> samples = {engine, std::string(desc.length, '\0'),
                                            std::string(desc.length, ' '),
                                            std::string(desc.length, '\xFF')};
        std::string firstChanged = engine;
        firstChanged[0] ^= 1;
        std::string lastChanged = engine;
        lastChanged.back() ^= 0x40;
        samples.push_back(firstChanged);
        samples.push_back(lastChanged);
        for (const std::string& bytes : samples) {
            EXPECT_EQ(kds::image::IsEmpty(TableKind::Native, field, bytes.data()),
                      kce::IsNativeNullAt(desc, reinterpret_cast<const uint8_t*>(bytes.data())))
                << Hex(bytes);
        }
    }
}

// One field of the table below: how it is created, a value in the engine's text form, and that
// value in the dataset's native form (as a number, or the text for char and raw fields).
struct Sample {
    uint16_t type;
    const char* spec;
    const char* text;
    double native;
    const char* nativeText;
    db::TFieldType dataType;
    int dataSize;
};

const double kSeptember15 = NativeDay(2001, 9, 15);

const Sample kSamples[] = {
    {KCE_LOGICAL, "logical", "T", -1, nullptr, db::ftBoolean, 2},
    {KCE_NUMERIC, "numeric,10,2", "-12.5", -12.5, nullptr, db::ftFloat, 8},
    {KCE_DATE, "date", "20010915", kSeptember15, nullptr, db::ftDate, 4},
    {KCE_STRING, "char,6", "AB", 0, "AB", db::ftString, 7},
    {KCE_MEMO, "memo", "memo text", 0, nullptr, db::ftMemo, 0},
    {KCE_BINARY, "binary", "bin", 0, nullptr, db::ftBlob, 0},
    {KCE_IMAGE, "image", "img", 0, nullptr, db::ftGraphic, 0},
    {KCE_VARCHAR, "varchar", "vc", 0, nullptr, db::ftMemo, 0},
    {KCE_COMPACTDATE, "compactdate", "20010915", kSeptember15, nullptr, db::ftDate, 4},
    {KCE_DOUBLE, "double", "2.5", 2.5, nullptr, db::ftFloat, 8},
    {KCE_INTEGER, "integer", "-7", -7, nullptr, db::ftInteger, 4},
    {KCE_SHORTINT, "shortint", "-3", -3, nullptr, db::ftSmallint, 2},
    {KCE_TIME, "time", "12:34:56.789", 45296789, nullptr, db::ftTime, 4},
    {KCE_TIMESTAMP, "timestamp", "20010915 12:34:56", kSeptember15 * 86400000.0 + 45296000, nullptr,
     db::ftDateTime, 8},
    {KCE_AUTOINC, "autoinc", "", 1, nullptr, db::ftAutoInc, 4},
    {KCE_RAW, "raw,4", "RAWB", 0, "RAWB", db::ftBytes, 4},
    {KCE_CURDOUBLE, "money", "12.3456", 12.3456, nullptr, db::ftCurrency, 8},
};

double NativeAsNumber(uint16_t type, const char* value) {
    switch (type) {
        case KCE_LOGICAL:
        case KCE_SHORTINT: {
            int16_t v;
            std::memcpy(&v, value, 2);
            return v;
        }
        case KCE_DATE:
        case KCE_COMPACTDATE:
        case KCE_INTEGER:
        case KCE_TIME: {
            int32_t v;
            std::memcpy(&v, value, 4);
            return v;
        }
        case KCE_AUTOINC: {
            uint32_t v;
            std::memcpy(&v, value, 4);
            return v;
        }
        default: {
            double v;
            std::memcpy(&v, value, 8);
            return v;
        }
    }
}

struct Kind {
    const char* name;
    UNSIGNED16 engineType;
    TableKind kind;
};

class ImageCodecOnTables : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdsimage-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        ASSERT_EQ(KdsConnect(U(dir_), &connection_), 0u);
        std::string fields;
        for (const Sample& s : kSamples) {
            if (GetParam().kind == TableKind::XBase && !HeldByDbf(s.type)) continue;
            samples_.push_back(&s);
            fields += std::string("F") + std::to_string(s.type) + "," + s.spec + ";";
        }
        ASSERT_EQ(KdsCreateTable(connection_, U("T"), GetParam().engineType, KCE_ANSI, U(fields), 0,
                                 &table_),
                  0u);
        UNSIGNED32 length = 0;
        ASSERT_EQ(KdsGetRecordLength(table_, &length), 0u);
        record_.resize(length);
    }
    void TearDown() override {
        if (table_ != 0) KdsCloseTable(table_);
        if (connection_ != 0) KdsDisconnect(connection_);
        std::filesystem::remove_all(dir_);
    }

    static bool HeldByDbf(uint16_t type) {
        return type != KCE_VARCHAR && type != KCE_COMPACTDATE && type != KCE_SHORTINT &&
               type != KCE_TIME && type != KCE_RAW;
    }

    ImageField FieldOf(int ordinal, UNSIGNED32* offset) {
        UNSIGNED16 type = 0;
        UNSIGNED32 length = 0;
        UNSIGNED16 decimals = 0;
        EXPECT_EQ(KdsGetFieldType(table_, KCE_FIELD_ORDINAL(ordinal), &type), 0u);
        EXPECT_EQ(KdsGetFieldLength(table_, KCE_FIELD_ORDINAL(ordinal), &length), 0u);
        EXPECT_EQ(KdsGetFieldDecimals(table_, KCE_FIELD_ORDINAL(ordinal), &decimals), 0u);
        EXPECT_EQ(KdsGetFieldOffset(table_, KCE_FIELD_ORDINAL(ordinal), offset), 0u);
        return {type, static_cast<int>(length), decimals};
    }

    void ReadRecord() {
        UNSIGNED32 length = static_cast<UNSIGNED32>(record_.size());
        ASSERT_EQ(KdsGetRecord(table_, reinterpret_cast<UNSIGNED8*>(record_.data()), &length), 0u);
    }

    bool EngineSaysEmpty(int ordinal) {
        UNSIGNED16 empty = 0;
        EXPECT_EQ(KdsIsEmpty(table_, KCE_FIELD_ORDINAL(ordinal), &empty), 0u);
        return empty != 0;
    }

    std::string dir_;
    KDSHANDLE connection_ = 0;
    KDSHANDLE table_ = 0;
    std::vector<const Sample*> samples_;
    std::string record_;
};

// The engine's empty record: the codec writes the same bytes and finds every field empty, as the
// engine does. A binary number of a DBF table is the one difference, and a deliberate one: the
// components hold its pending empty value as the native empty image until Post.
TEST_P(ImageCodecOnTables, EmptyImagesAgree) {
    const TableKind kind = GetParam().kind;
    std::string empty(record_.size(), '\x55');
    UNSIGNED32 length = static_cast<UNSIGNED32>(empty.size());
    ASSERT_EQ(KdsGetNullRecord(table_, reinterpret_cast<UNSIGNED8*>(empty.data()), &length), 0u);
    for (size_t i = 0; i < samples_.size(); ++i) {
        SCOPED_TRACE(samples_[i]->spec);
        UNSIGNED32 offset = 0;
        const ImageField field = FieldOf(static_cast<int>(i + 1), &offset);
        const std::string engine = empty.substr(offset, static_cast<size_t>(field.length));
        std::string codec(engine.size(), '\x55');
        kds::image::WriteEmpty(kind, field, codec.data());
        if (kind == TableKind::XBase && IsBinaryNumber(field.type)) {
            EXPECT_TRUE(kds::image::IsPendingEmptyNumber(field, codec.data()));
            EXPECT_FALSE(kds::image::IsEmpty(kind, field, engine.data())) << "zero is a value";
        } else {
            EXPECT_EQ(Hex(codec), Hex(engine));
            EXPECT_TRUE(kds::image::IsEmpty(kind, field, engine.data()));
        }
    }
}

// A stored record with a value in every field: the codec finds each not empty, reads the value
// the engine was given and writes back the very bytes the engine stored.
TEST_P(ImageCodecOnTables, ValuesReadAndWriteTheEnginesBytes) {
    const TableKind kind = GetParam().kind;
    ASSERT_EQ(KdsAppendRecord(table_), 0u);
    for (size_t i = 0; i < samples_.size(); ++i) {
        std::string text = samples_[i]->text;
        if (text.empty()) continue;
        ASSERT_EQ(KdsSetField(table_, KCE_FIELD_ORDINAL(i + 1), U(text),
                              static_cast<UNSIGNED32>(text.size())),
                  0u)
            << samples_[i]->spec;
    }
    ASSERT_EQ(KdsWriteRecord(table_), 0u);
    ASSERT_EQ(KdsGotoTop(table_), 0u);
    ReadRecord();
    for (size_t i = 0; i < samples_.size(); ++i) {
        const Sample& s = *samples_[i];
        SCOPED_TRACE(s.spec);
        UNSIGNED32 offset = 0;
        const ImageField field = FieldOf(static_cast<int>(i + 1), &offset);
        const char* bytes = record_.data() + offset;
        EXPECT_FALSE(EngineSaysEmpty(static_cast<int>(i + 1)));
        EXPECT_FALSE(kds::image::IsEmpty(kind, field, bytes));
        if (kds::image::IsBlobType(field.type)) continue;

        const NativeSlot slot{s.dataType, s.dataSize, nullptr};
        char native[16] = {};
        kds::image::Read(field, bytes, slot, native);
        if (s.nativeText != nullptr) {
            EXPECT_EQ(std::string(native, std::strlen(s.nativeText)), s.nativeText);
        } else {
            EXPECT_NEAR(NativeAsNumber(field.type, native), s.native, 1e-9);
        }
        std::string written(static_cast<size_t>(field.length), '\x55');
        kds::image::Write(field, written.data(), slot, native, kind == TableKind::Native);
        EXPECT_EQ(Hex(written), Hex(std::string(bytes, written.size())));
    }
}

// Bytes set raw in every field (a blank, zeros, the native empty image): where the engine takes
// them, the codec answers emptiness as the engine does, but for the pending empty image of a DBF
// binary number.
TEST_P(ImageCodecOnTables, EmptinessOfRawBytesAgrees) {
    const TableKind kind = GetParam().kind;
    ASSERT_EQ(KdsAppendRecord(table_), 0u);
    for (size_t i = 0; i < samples_.size(); ++i) {
        const int ordinal = static_cast<int>(i + 1);
        UNSIGNED32 offset = 0;
        const ImageField field = FieldOf(ordinal, &offset);
        if (kds::image::IsBlobType(field.type)) continue;
        std::string nativeEmpty(static_cast<size_t>(field.length), '\0');
        kds::image::WriteEmpty(TableKind::Native, field, nativeEmpty.data());
        for (const std::string& raw :
             {std::string(field.length, ' '), std::string(field.length, '\0'), nativeEmpty}) {
            SCOPED_TRACE(std::string(samples_[i]->spec) + ": " + Hex(raw));
            if (KdsSetFieldRaw(table_, KCE_FIELD_ORDINAL(ordinal), U(raw),
                               static_cast<UNSIGNED32>(raw.size())) != 0) {
                continue;  // bytes the field cannot hold
            }
            ReadRecord();
            const char* bytes = record_.data() + offset;
            bool pending = kind == TableKind::XBase &&
                           kds::image::IsPendingEmptyNumber(field, bytes) &&
                           std::memcmp(bytes, nativeEmpty.data(), nativeEmpty.size()) == 0;
            EXPECT_EQ(kds::image::IsEmpty(kind, field, bytes), pending || EngineSaysEmpty(ordinal));
        }
    }
    EXPECT_EQ(KdsCancelUpdate(table_), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImageCodecOnTables,
                         ::testing::Values(Kind{"Native", KCE_KDT, TableKind::Native},
                                           Kind{"Dbf", KCE_CDX, TableKind::XBase}),
                         [](const auto& info) { return std::string(info.param.name); });

// Compact dates whose year needs five digits, and dates the codec reads without the engine's
// text conversion, give the day the engine's text would.
TEST(ImageCodec, CompactDatesAndDateTextsReadAsTheEnginesText) {
    const ImageField compact{KCE_COMPACTDATE, 3, 0};
    const NativeSlot slot{db::ftDate, 4, nullptr};
    int32_t day = 0;
    kds::image::Read(compact, "\x0F\xA3\x2F", slot, &day);
    EXPECT_EQ(day, NativeDay(2001, 9, 15));
    // Year 12001 is kept as its last four digits, 2001.
    const unsigned w = 12001 * 2 + (9 >> 3);
    const char farYear[3] = {static_cast<char>(w >> 8), static_cast<char>(w & 0xFF),
                             static_cast<char>((9 * 32 + 15) & 0xFF)};
    kds::image::Read(compact, farYear, slot, &day);
    EXPECT_EQ(day, NativeDay(2001, 9, 15));

    const ImageField text{KCE_DATE, 8, 0};
    for (const char* date : {"00010101", "99991231", "20000229", "20010915"}) {
        double julian = 0;
        ASSERT_EQ(KdsConvertStringToJulian(U(date), 8, &julian), 0u);
        kds::image::Read(text, date, slot, &day);
        EXPECT_EQ(day, static_cast<int32_t>(julian) - KCE_JULIAN_DAY_ZERO) << date;
        char written[8];
        kds::image::Write(text, written, slot, &day, false);
        EXPECT_EQ(std::string(written, 8), date);
    }
    // Digits naming no day raise the engine's error, as its conversion does.
    EXPECT_THROW(kds::image::Read(text, "20010230", slot, &day), kds::EKDSDatabaseError);
    EXPECT_THROW(kds::image::Read(compact, "\x0F\xA2\x5F", slot, &day), kds::EKDSDatabaseError);
}

// Compact dates are written from the day number as the engine packs them, at both ends of the
// range; Julian day 0 (the empty date) packs as zeros and a day outside years 1 to 9999 is the
// engine's error.
TEST(ImageCodec, CompactDatesWriteTheEnginesBytes) {
    const ImageField compact{KCE_COMPACTDATE, 3, 0};
    const NativeSlot slot{db::ftDate, 4, nullptr};
    const int32_t days[] = {NativeDay(1, 1, 1),     NativeDay(1, 12, 31),  NativeDay(2000, 2, 29),
                            NativeDay(2001, 9, 15), NativeDay(9999, 8, 1), NativeDay(9999, 12, 31)};
    for (int32_t day : days) {
        SCOPED_TRACE(day);
        uint8_t engine[3];
        kce::CompactFromJulian(int64_t(day) + KCE_JULIAN_DAY_ZERO, engine);
        char written[3] = {'\x55', '\x55', '\x55'};
        kds::image::Write(compact, written, slot, &day, true);
        EXPECT_EQ(Hex(std::string(written, 3)),
                  Hex(std::string(reinterpret_cast<const char*>(engine), 3)));
        int32_t back = 0;
        kds::image::Read(compact, written, slot, &back);
        EXPECT_EQ(back, day);
    }
    const int32_t empty = -KCE_JULIAN_DAY_ZERO;
    char written[3] = {'\x55', '\x55', '\x55'};
    kds::image::Write(compact, written, slot, &empty, true);
    EXPECT_EQ(Hex(std::string(written, 3)), "00 00 00 ");
    EXPECT_TRUE(kds::image::IsEmpty(TableKind::Native, compact, written));
    for (int32_t outside : {0, NativeDay(9999, 12, 31) + 1}) {
        EXPECT_THROW(kds::image::Write(compact, written, slot, &outside, true),
                     kds::EKDSDatabaseError)
            << outside;
    }
}

}  // namespace
