// Text conversion per field class, and what a copy by text keeps.
#include <gtest/gtest.h>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "rtl/datetime.h"
#include "rtl/formatsettings.h"
#include "support/dataset_support.h"

namespace dstest {
namespace {

// Under the short date format the program sets, "." decimals and the 24-hour long time.
rtl::TFormatSettings ProgramSettings() {
    rtl::TFormatSettings s;
    s.DecimalSeparator = '.';
    s.DateSeparator = '/';
    s.TimeSeparator = ':';
    s.ShortDateFormat = "MM/dd/yyyy";
    s.LongTimeFormat = "hh:nn:ss";
    return s;
}

class FieldText : public ::testing::Test {
  protected:
    void SetUp() override {
        ds_->Open();
        ds_->Edit();
    }
    db::TField& F(const char* name) { return ds_->FieldNamed(name); }

    rtl::TFormatSettingsScope settings_{ProgramSettings()};
    std::unique_ptr<TMemoryDataSet> ds_ = AllTypes();
};

// One row of "what a copy by text keeps": the source is set by `set`, its StringValue written
// to the target field, and the target read back as text (or the error it raised).
struct CopyCase {
    const char* what;
    const char* source;
    std::function<void(db::TField&)> set;
    const char* target;
    std::string expected;  // the target's text, or the message raised
    bool targetBlank = false;
};

TEST_F(FieldText, CopyByTextKeepsWhatTheTableSays) {
    const double kDate = rtl::EncodeDate(2001, 3, 15);
    const std::vector<CopyCase> cases = {
        {"string to shorter string", "S20", [](db::TField& f) { f.SetStringValue("12345678901"); },
         "S8", "12345678"},
        {"integer to integer", "I", [](db::TField& f) { f.SetIntegerValue(-123456); }, "SI",
         "-123456 is not a valid value for field 'SI'. The allowed range is -32768 to 32767", true},
        {"integer to float", "I", [](db::TField& f) { f.SetIntegerValue(2147483647); }, "F",
         "2147483647"},
        {"integer to currency", "I", [](db::TField& f) { f.SetIntegerValue(-42); }, "C", "-42"},
        {"float keeps 15 digits", "F", [](db::TField& f) { f.SetFloatValue(0.1 + 0.2); }, "F",
         "0.3"},
        {"float rounds the 16th digit", "F",
         [](db::TField& f) { f.SetFloatValue(1234567890.123456789); }, "C", "1234567890.12346"},
        {"currency to float", "C", [](db::TField& f) { f.SetFloatValue(1234.5); }, "F", "1234.5"},
        {"small float in scientific form", "F", [](db::TField& f) { f.SetFloatValue(-2e-7); }, "F",
         "-2E-7"},
        {"whole float to integer", "F", [](db::TField& f) { f.SetFloatValue(12); }, "I", "12"},
        {"fractional float to integer", "F", [](db::TField& f) { f.SetFloatValue(12.5); }, "I",
         "'12.5' is not a valid integer value for field 'I'", true},
        {"date to date", "D", [=](db::TField& f) { f.SetDateTimeValue(kDate); }, "D", "03/15/2001"},
        {"date-time without a time part", "DT",
         [=](db::TField& f) { f.SetDateTimeValue(kDate + 250.0 / 86400000); }, "DT", "03/15/2001"},
        {"date-time with a time part", "DT",
         [=](db::TField& f) { f.SetDateTimeValue(kDate + rtl::EncodeTime(14, 30, 5, 250)); }, "DT",
         "03/15/2001 14:30:05"},
        {"time to time drops milliseconds", "T",
         [](db::TField& f) { f.SetDateTimeValue(rtl::EncodeTime(9, 5, 7, 999)); }, "T", "09:05:07"},
        {"boolean to boolean", "B", [](db::TField& f) { f.SetBooleanValue(true); }, "B", "True"},
        {"boolean to string", "B", [](db::TField& f) { f.SetBooleanValue(false); }, "S8", "False"},
        {"blank to integer", "S8", [](db::TField& f) { f.Clear(); }, "I", "", true},
        {"blank to date", "D", [](db::TField& f) { f.Clear(); }, "D", "", true},
        {"blank to boolean", "B", [](db::TField& f) { f.Clear(); }, "B", "", true},
        {"blank to string writes the empty text", "I", [](db::TField& f) { f.Clear(); }, "S8", ""},
        {"date to string", "D", [=](db::TField& f) { f.SetDateTimeValue(kDate); }, "S20",
         "03/15/2001"},
        {"memo to blob", "M", [](db::TField& f) { f.SetStringValue(std::string("a\0b", 3)); }, "BL",
         std::string("a\0b", 3)},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.what);
        db::TField& src = F(c.source);
        db::TField& dst = F(c.target);
        dst.Clear();
        c.set(src);
        std::string text;
        try {
            dst.SetStringValue(src.StringValue());
            text = dst.StringValue();
        } catch (const rtl::Exception& e) {
            text = e.what();
        }
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(dst.IsBlank(), c.targetBlank);
    }
}

// Texts written to a field: the stored text, or the message raised (no dataset prefix).
struct WriteCase {
    std::string field;
    std::string text;
    std::string expected;
    bool blank = false;
};

TEST_F(FieldText, WritingTextFollowsEachClassRule) {
    const std::vector<WriteCase> cases = {
        {"I", "$1F", "31"},
        {"I", "0x1F", "31"},
        {"I", " 17", "17"},
        {"I", "-2147483648", "-2147483648"},
        {"I", "2147483648", "'2147483648' is not a valid integer value for field 'I'"},
        {"I", "1.5", "'1.5' is not a valid integer value for field 'I'"},
        {"I", "12 ", "'12 ' is not a valid integer value for field 'I'"},
        {"I", "", "", true},
        {"SI", "40000",
         "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767"},
        {"W", "-1", "-1 is not a valid value for field 'W'. The allowed range is 0 to 65535"},
        {"W", "65535", "65535"},
        {"F", " 1.5E3 ", "1500"},
        {"F", "123456789012345", "123456789012345"},
        {"F", "1E15", "1E15"},
        {"F", "0.00001", "0.00001"},
        {"F", "1,5", "'1,5' is not a valid floating point value for field 'F'"},
        {"F", "", "", true},
        {"C", "1234.5", "1234.5"},
        {"B", "f", "False"},
        {"B", "TR", "True"},
        {"B", "true", "True"},
        {"B", "x", "'x' is not a valid boolean value for field 'B'"},
        {"B", "Falsey", "'Falsey' is not a valid boolean value for field 'B'"},
        {"B", "", "", true},
        {"D", "03/15/2001", "03/15/2001"},
        {"D", "2001-03-15", "'2001-03-15' is not a valid date"},
        {"D", "", "", true},
        {"T", "25:00:00", "'25:00:00' is not a valid time"},
        {"DT", "03/15/2001 14:30:05", "03/15/2001 14:30:05"},
        {"DT", "03/15/2001 x", "'03/15/2001 x' is not a valid date and time"},
        {"S8", "", ""},
        {"S8", std::string("ab\0cd", 5), "ab"},
        {"BY", "xy", std::string("xy\0\0", 4)},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.field + " <- '" + c.text + "'");
        db::TField& f = F(c.field.c_str());
        f.Clear();
        std::string text;
        bool raised = false;
        try {
            f.SetStringValue(c.text);
            text = f.StringValue();
        } catch (const rtl::Exception& e) {
            text = e.what();
            raised = true;
        }
        EXPECT_EQ(text, c.expected);
        // A refused text leaves the field as it was: blank here.
        EXPECT_EQ(f.IsBlank(), c.blank || raised);
    }
}

TEST_F(FieldText, FailedWriteKeepsThePreviousValue) {
    F("I").SetIntegerValue(5);
    EXPECT_THROW(F("I").SetStringValue("five"), db::EDatabaseError);
    EXPECT_EQ(F("I").IntegerValue(), 5);
    F("SI").SetIntegerValue(7);
    EXPECT_THROW(F("SI").SetIntegerValue(70000), db::EDatabaseError);
    EXPECT_EQ(F("SI").IntegerValue(), 7);
}

TEST_F(FieldText, RoundingTakesHalvesToEven) {
    const std::vector<std::pair<double, int>> cases = {
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {0.5, 0}, {1.4999, 1}};
    for (auto [value, expected] : cases) {
        F("I").SetFloatValue(value);
        EXPECT_EQ(F("I").IntegerValue(), expected) << value;
        F("F").SetFloatValue(value);
        EXPECT_EQ(F("F").IntegerValue(), expected) << value;
    }
    F("F").SetFloatValue(1.23456);
    EXPECT_EQ(F("F").CurrencyValue().Units, 12346);
}

TEST_F(FieldText, RangeLimitsOfTheFieldReplaceTheClassRange) {
    auto& i = static_cast<db::TIntegerField&>(F("I"));
    i.SetMinValue(1);
    i.SetMaxValue(10);
    EXPECT_NO_THROW(i.SetIntegerValue(10));
    try {
        i.SetIntegerValue(11);
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(),
                     "11 is not a valid value for field 'I'. The allowed range is 1 to 10");
    }
    auto& f = static_cast<db::TFloatField&>(F("F"));
    f.SetMaxValue(1.5);
    try {
        f.SetFloatValue(2.25);
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(),
                     "2.25 is not a valid value for field 'F'. The allowed range is 0 to 1.5");
    }
}

TEST_F(FieldText, StringFieldConvertsItsTextOnDemand) {
    db::TField& s = F("S20");
    s.SetStringValue("42");
    EXPECT_EQ(s.IntegerValue(), 42);
    s.SetFloatValue(2.5);
    EXPECT_EQ(s.StringValue(), "2.5");
    s.SetBooleanValue(true);
    EXPECT_EQ(s.StringValue(), "T");
    for (const char* text : {"yes", "Y", "t", "True"}) {
        s.SetStringValue(text);
        EXPECT_TRUE(s.BooleanValue()) << text;
    }
    for (const char* text : {"no", "", "F", "1"}) {
        s.SetStringValue(text);
        EXPECT_FALSE(s.BooleanValue()) << text;
    }
    s.SetDateTimeValue(rtl::EncodeDate(2001, 3, 15));
    EXPECT_EQ(s.StringValue(), "03/15/2001");
    EXPECT_EQ(s.DateTimeValue(), rtl::EncodeDate(2001, 3, 15));
    s.SetStringValue("abc");
    EXPECT_THROW(s.IntegerValue(), rtl::EConvertError);
}

TEST_F(FieldText, BooleanDisplayValuesReplaceTheTexts) {
    auto& b = static_cast<db::TBooleanField&>(F("B"));
    b.SetDisplayValues("Yes;No");
    b.SetStringValue("n");
    EXPECT_EQ(b.StringValue(), "No");
    b.SetStringValue("YE");
    EXPECT_TRUE(b.BooleanValue());
    // Texts that begin alike: the shared beginning means false.
    b.SetDisplayValues("Same;Sam");
    b.SetStringValue("Sa");
    EXPECT_FALSE(b.BooleanValue());
    // Without a false text the empty text means false.
    b.SetDisplayValues("On");
    b.SetStringValue("");
    EXPECT_FALSE(b.IsBlank());
    EXPECT_EQ(b.StringValue(), "");
}

TEST_F(FieldText, DateTimeValuesSurviveTheNativeForm) {
    // Native forms: day numbers from 1 January of year 1, milliseconds of the day.
    const double value =
        rtl::ComposeDateTime(rtl::EncodeDate(1850, 7, 4), rtl::EncodeTime(6, 0, 0, 0));
    F("DT").SetDateTimeValue(value);
    EXPECT_DOUBLE_EQ(F("DT").DateTimeValue(), value);
    F("D").SetDateTimeValue(value);
    EXPECT_DOUBLE_EQ(F("D").DateTimeValue(), rtl::EncodeDate(1850, 7, 4));
    F("T").SetDateTimeValue(value);
    EXPECT_DOUBLE_EQ(F("T").DateTimeValue(), 0.25);
    F("D").Clear();
    EXPECT_EQ(F("D").DateTimeValue(), 0.0);
}

TEST_F(FieldText, DisplayTextOfBlobsNamesTheirType) {
    EXPECT_EQ(F("M").DisplayText(), "(Memo)");
    F("BL").SetStringValue("x");
    EXPECT_EQ(F("BL").DisplayText(), "(BLOB)");
    F("I").SetOnGetText(
        [](db::TField&, std::string& text, bool display) { text = display ? "shown" : "edited"; });
    EXPECT_EQ(F("I").DisplayText(), "shown");
    EXPECT_EQ(F("I").EditText(), "edited");
}

}  // namespace
}  // namespace dstest
