#include "rtl/formatsettings.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace rtl
