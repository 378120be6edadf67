#include "rtl/variant.h"

#include <gtest/gtest.h>

#include <cmath>

#include "rtl/exceptions.h"

namespace rtl {
namespace {

template <typename F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const EVariantError& e) {
        return e.Message();
    }
    return "(no exception)";
}

TEST(Variant, EachKindReadsAsTheOthers) {
    TFormatSettingsScope scope(TFormatSettings{});
    const TDateTime date = ComposeDateTime(EncodeDate(2001, 3, 15), EncodeTime(14, 30, 5, 0));
    struct Case {
        Variant value;
        TVarType type;
        const char* text;
        int64_t integer;
        double number;
        bool boolean;
    };
    const Case cases[] = {
        {Variant(), varEmpty, "", 0, 0.0, false},
        {Variant(true), varBoolean, "True", 1, 1.0, true},
        {Variant(-42), varInteger, "-42", -42, -42.0, true},
        {Variant(int64_t{5000000000}), varInt64, "5000000000", 5000000000, 5e9, true},
        {Variant(2.5), varDouble, "2.5", 2, 2.5, true},
        {Variant(3.5), varDouble, "3.5", 4, 3.5, true},
        {Variant(DoubleToCurrency(1234.5)), varCurrency, "1234.5", 1234, 1234.5, true},
        {Variant::FromDateTime(date), varDate, "03/15/2001 14:30:05", 36966, date, true},
        {Variant("12"), varString, "12", 12, 12.0, true},
        {Variant(" 1.5E3 "), varString, " 1.5E3 ", 1500, 1500.0, true},
        {Variant("false"), varString, "false", -1, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.value.VarType(), c.type);
        EXPECT_EQ(c.value.AsString(), c.text);
        EXPECT_EQ(c.value.AsBoolean(), c.boolean);
        if (c.integer != -1) {
            EXPECT_EQ(c.value.AsInt64(), c.integer);
            EXPECT_EQ(c.value.AsDouble(), c.number);
        }
    }
    EXPECT_EQ(Variant("03/15/2001").AsDateTime(), EncodeDate(2001, 3, 15));
    EXPECT_EQ(Variant(7).AsCurrency().Units, 70000);
    const std::vector<uint8_t> bytes{0, 1, 255};
    EXPECT_EQ(Variant(bytes).AsBytes(), bytes);
    EXPECT_EQ(Variant(bytes).AsString(), std::string("\0\1\xFF", 3));
    EXPECT_EQ(Variant(std::string("ab")).AsBytes(), (std::vector<uint8_t>{'a', 'b'}));
}

TEST(Variant, FailedConversionsNameBothTypes) {
    EXPECT_EQ(MessageOf([] { Variant::Null().AsString(); }),
              "Could not convert variant of type (Null) into type (String)");
    EXPECT_EQ(MessageOf([] { Variant("abc").AsInteger(); }),
              "Could not convert variant of type (String) into type (Integer)");
    EXPECT_EQ(MessageOf([] { Variant("maybe").AsBoolean(); }),
              "Could not convert variant of type (String) into type (Boolean)");
    EXPECT_EQ(MessageOf([] { Variant("13/45/2001").AsDateTime(); }),
              "Could not convert variant of type (String) into type (Date)");
    EXPECT_EQ(MessageOf([] { Variant(std::vector<uint8_t>{1}).AsDouble(); }),
              "Could not convert variant of type (Array of Byte) into type (Double)");
    EXPECT_EQ(MessageOf([] { Variant(3e9).AsInteger(); }),
              "Arithmetic overflow converting variant of type (Double) into type (Integer)");
    EXPECT_EQ(MessageOf([] { Variant(int64_t{1} << 40).AsInteger(); }),
              "Arithmetic overflow converting variant of type (Int64) into type (Integer)");
    EXPECT_EQ(MessageOf([] { Variant(1e300).AsCurrency(); }),
              "Arithmetic overflow converting variant of type (Double) into type (Currency)");
    EXPECT_THROW(Variant(std::nan("")).AsInt64(), EInvalidCast);
}

TEST(Variant, EqualityNeedsTheSameTypeAndValue) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Variant::Null(), Variant::Null());
    EXPECT_FALSE(Variant() == Variant::Null());
    EXPECT_EQ(Variant("a"), Variant(std::string("a")));
    EXPECT_FALSE(Variant(1) == Variant(1.0));
    EXPECT_FALSE(Variant(1.0) == Variant::FromDateTime(1.0));
    EXPECT_EQ(Variant(int16_t{3}).VarType(), varInteger);
    EXPECT_EQ(Variant(uint32_t{3}).VarType(), varInt64);
}

}  // namespace
}  // namespace rtl
