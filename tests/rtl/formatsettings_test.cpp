#include "rtl/formatsettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "rtl/datetime.h"
#include "rtl/numconv.h"

// glibc keeps a small list of the LOCPATH folders for every locale loaded while LOCPATH is set
// and never frees it; that is the C library's, not ours, so the leak checker is told to skip it.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace rtl {
namespace {

TEST(FormatSettings, CLocaleGivesTheDocumentedDefaults) {
    for (const char* name : {"C", "POSIX", "no_SUCH.locale"}) {
        SCOPED_TRACE(name);
        const TFormatSettings s = FormatSettingsFromLocale(name, name);
        EXPECT_EQ(s.DecimalSeparator, '.');
        EXPECT_EQ(s.TimeSeparator, ':');
        EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
        EXPECT_EQ(s.ShortDateFormat, "MM/dd/yyyy");
        EXPECT_EQ(s.DateSeparator, '/');
    }
}

TEST(FormatSettings, SettersChangeTheProcessWideValuesAndScopesRestoreThem) {
    const TFormatSettings before = FormatSettings();
    {
        TFormatSettingsScope scope(before);
        SetShortDateFormat("dd.MM.yyyy");
        SetDateSeparator('.');
        SetDecimalSeparator(',');
        SetLongTimeFormat("hh:nn");
        SetTimeSeparator('.');
        const TFormatSettings now = FormatSettings();
        EXPECT_EQ(now.ShortDateFormat, "dd.MM.yyyy");
        EXPECT_EQ(now.DateSeparator, '.');
        EXPECT_EQ(now.DecimalSeparator, ',');
        EXPECT_EQ(LongTimeFormat(), "hh:nn");
        EXPECT_EQ(TimeSeparator(), '.');
    }
    EXPECT_EQ(ShortDateFormat(), before.ShortDateFormat);
    EXPECT_EQ(DecimalSeparator(), before.DecimalSeparator);
}

// Conversions read the settings without taking a copy each time; a change made on one thread
// reaches the next conversion on every thread.
TEST(FormatSettings, AChangeReachesTheNextConversionOnEveryThread) {
    TFormatSettingsScope scope(FormatSettings());
    const TDateTime day = EncodeDate(2024, 3, 9);
    SetShortDateFormat("MM/dd/yyyy");
    SetDateSeparator('/');
    std::string before, after;
    std::thread reader([&] { before = DateToStr(day); });
    reader.join();
    EXPECT_EQ(before, "03/09/2024");
    std::thread writer([] {
        SetShortDateFormat("dd.MM.yyyy");
        SetDateSeparator('.');
        SetDecimalSeparator(',');
    });
    writer.join();
    EXPECT_EQ(DateToStr(day), "09.03.2024");
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    std::thread second([&] { after = DateToStr(day) + " " + FloatToStr(2.5); });
    second.join();
    EXPECT_EQ(after, "09.03.2024 2,5");
}

// Real locales, compiled into a private folder (LOCPATH) so the test does not depend on which
// locales the machine has generated.
class LocaleTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/rtl_locales_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
        for (const char* name : {"de_DE", "en_US"}) {
            const std::string cmd = std::string("localedef -i ") + name + " -f UTF-8 " + folder_ +
                                    "/" + name + ".UTF-8 >/dev/null 2>&1";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        }
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder_); }
    void SetUp() override {
        if (const char* v = std::getenv("LOCPATH")) saved_ = v;
        ::setenv("LOCPATH", folder_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_)
            ::setenv("LOCPATH", saved_->c_str(), 1);
        else
            ::unsetenv("LOCPATH");
    }
    static inline std::string folder_;
    std::optional<std::string> saved_;
};

TEST_F(LocaleTest, SeparatorsAndTimeFormatComeFromTheLocale) {
    const TFormatSettings de = FormatSettingsFromLocale("de_DE.UTF-8", "de_DE.UTF-8");
    EXPECT_EQ(de.DecimalSeparator, ',');
    EXPECT_EQ(de.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(de.TimeSeparator, ':');
    const TFormatSettings us = FormatSettingsFromLocale("en_US.UTF-8", "en_US.UTF-8");
    EXPECT_EQ(us.DecimalSeparator, '.');
    EXPECT_EQ(us.LongTimeFormat, "hh:nn:ss AMPM");
    EXPECT_EQ(us.ShortTimeFormat, "hh:nn AMPM");
    EXPECT_EQ(us.TimeAMString, "AM");
    // The two categories are read separately.
    const TFormatSettings mixed = FormatSettingsFromLocale("de_DE.UTF-8", "en_US.UTF-8");
    EXPECT_EQ(mixed.DecimalSeparator, ',');
    EXPECT_EQ(mixed.LongTimeFormat, "hh:nn:ss AMPM");
    // The short date stays until the program sets it.
    EXPECT_EQ(de.ShortDateFormat, "MM/dd/yyyy");
}

}  // namespace
}  // namespace rtl
