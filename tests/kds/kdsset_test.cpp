#include "kds/kdsset.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/kce.h"
#include "rtl/formatsettings.h"

namespace {

using kds::TKdsServerTypes;
using kds::TKdsSettings;

const UNSIGNED8* Bytes(const char* text) { return reinterpret_cast<const UNSIGNED8*>(text); }

std::string EngineDateFormat() {
    UNSIGNED8 buf[32];
    UNSIGNED16 len = sizeof buf;
    EXPECT_EQ(KdsGetDateFormat(buf, &len), 0u);
    return std::string(reinterpret_cast<char*>(buf), len);
}

UNSIGNED16 EngineValue(KCESTATUS (*get)(UNSIGNED16*)) {
    UNSIGNED16 value = 0;
    EXPECT_EQ(get(&value), 0u);
    return value;
}

// Every test starts from the same engine and process settings and leaves them so.
class KdsSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rtl::TFormatSettings start = rtl::FormatSettings();
        start.ShortDateFormat = "MM/dd/yyyy";
        start.DateSeparator = '/';
        rtl::SetFormatSettings(start);
        ResetEngine();
    }
    void TearDown() override {
        ResetEngine();
        rtl::SetFormatSettings(saved_);
    }
    static void ResetEngine() {
        ASSERT_EQ(KdsSetDateFormat(Bytes("MM/dd/ccyy")), 0u);
        ASSERT_EQ(KdsSetDecimals(2), 0u);
        ASSERT_EQ(KdsShowDeleted(1), 0u);
        ASSERT_EQ(KdsSetServerType(1), 0u);
        ASSERT_EQ(KdsCacheOpenTables(0), 0u);
        ASSERT_EQ(KdsCacheOpenCursors(25), 0u);
    }

    rtl::TFormatSettings saved_ = rtl::FormatSettings();
};

TEST_F(KdsSettingsTest, CreationAppliesStartingSettingsAndReadsTheEngine) {
    ASSERT_EQ(KdsSetDecimals(4), 0u);
    ASSERT_EQ(KdsShowDeleted(0), 0u);
    ASSERT_EQ(KdsCacheOpenCursors(3), 0u);
    ASSERT_EQ(KdsCacheOpenTables(9), 0u);
    TKdsSettings settings(nullptr);
    EXPECT_EQ(settings.DateFormat(), "MM/dd/yyyy");
    EXPECT_EQ(EngineDateFormat(), "MM/dd/yyyy");
    EXPECT_EQ(rtl::ShortDateFormat(), "MM/dd/yyyy");
    EXPECT_EQ(settings.NumDecimals(), 4);
    EXPECT_FALSE(settings.ShowDeleted());
    EXPECT_TRUE(settings.SetAppDate());
    EXPECT_EQ(settings.KdsServerTypes(), (TKdsServerTypes{kds::stKDS_REMOTE, kds::stKDS_KIS}));
    EXPECT_EQ(EngineValue(KdsGetServerType), 6);
    EXPECT_EQ(settings.NumCachedCursors(), 25);
    EXPECT_EQ(EngineValue(KdsGetCacheOpenCursors), 25);
    // A table cache of 0 is the starting value: the engine is not told.
    EXPECT_EQ(settings.NumCachedTables(), 0);
    EXPECT_EQ(EngineValue(KdsGetCacheOpenTables), 9);
    EXPECT_EQ(settings.NumOpenTables(), 0);
}

TEST_F(KdsSettingsTest, CreationFallsBackWhenTheEngineRefusesTheProcessFormat) {
    rtl::SetShortDateFormat("yyyy");
    TKdsSettings settings(nullptr);
    EXPECT_EQ(settings.DateFormat(), "MM/dd/ccyy");
    EXPECT_EQ(EngineDateFormat(), "MM/dd/ccyy");
    EXPECT_EQ(rtl::ShortDateFormat(), "yyyy");
}

TEST_F(KdsSettingsTest, DateFormatReachesEngineAndProcessFormats) {
    struct Case {
        const char* name;
        bool loading;
        bool appDateBefore;  // SetAppDate before DateFormat
        const char* format;
        bool appDateAfter;  // SetAppDate after DateFormat
        const char* engineFormat;
        const char* shortDateFormat;
        char separator;
    };
    const Case cases[] = {
        {"stored form", true, true, "MM/dd/ccyy", true, "MM/dd/ccyy", "MM/dd/yyyy", '/'},
        {"without SetAppDate", false, false, "dd.MM.yy", false, "dd.MM.yy", "MM/dd/yyyy", '.'},
        {"stored SetAppDate false undoes", true, true, "dd-MM-CCYY", false, "dd-MM-CCYY",
         "MM/dd/yyyy", '-'},
        {"SetAppDate false later keeps", false, true, "dd-MM-CCYY", false, "dd-MM-CCYY",
         "dd-MM-yyyy", '-'},
        {"last separator wins", false, true, "ccyy.MM-dd", true, "ccyy.MM-dd", "yyyy.MM-dd", '-'},
        {"empty means the default", false, true, "", true, "MM/dd/ccyy", "MM/dd/yyyy", '/'},
        {"cut to 11 characters", false, true, "dd/MM/ccyy//", true, "dd/MM/ccyy/", "dd/MM/yyyy/",
         '/'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        TKdsSettings settings(nullptr);
        if (c.loading) settings.BeginLoading();
        settings.SetSetAppDate(c.appDateBefore);
        settings.SetDateFormat(c.format);
        settings.SetSetAppDate(c.appDateAfter);
        if (c.loading) settings.EndLoading();
        EXPECT_EQ(settings.DateFormat(), c.engineFormat);
        EXPECT_EQ(EngineDateFormat(), c.engineFormat);
        EXPECT_EQ(rtl::ShortDateFormat(), c.shortDateFormat);
        EXPECT_EQ(rtl::DateSeparator(), c.separator);
    }
}

TEST_F(KdsSettingsTest, StoredSetAppDateFalseWithoutDateFormatKeepsTheProcessFormat) {
    TKdsSettings settings(nullptr);
    settings.BeginLoading();
    settings.SetSetAppDate(false);
    settings.EndLoading();
    EXPECT_EQ(rtl::ShortDateFormat(), "MM/dd/yyyy");
}

TEST_F(KdsSettingsTest, OnlyOneInstanceLivesAtATime) {
    rtl::TComponent owner(nullptr);
    auto first = std::make_unique<TKdsSettings>(&owner);
    try {
        TKdsSettings second(&owner);
        ADD_FAILURE() << "a second instance was created";
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "Only one KdsSettings component is allowed per application");
    }
    EXPECT_EQ(TKdsSettings::InstanceCount(), 1);
    EXPECT_EQ(owner.ComponentCount(), 1);
    first.reset();
    EXPECT_EQ(TKdsSettings::InstanceCount(), 0);
    TKdsSettings again(nullptr);
    EXPECT_EQ(TKdsSettings::InstanceCount(), 1);
}

TEST_F(KdsSettingsTest, ServerTypesNeedAtLeastOneType) {
    TKdsSettings settings(nullptr);
    settings.SetKdsServerTypes({kds::stKDS_LOCAL});
    EXPECT_EQ(EngineValue(KdsGetServerType), 1);
    try {
        settings.SetKdsServerTypes({});
        ADD_FAILURE() << "the empty set was accepted";
    } catch (const kds::KdsSettingsError& e) {
        EXPECT_STREQ(e.what(), "At least one server type must be selected.");
    }
    EXPECT_EQ(settings.KdsServerTypes(), TKdsServerTypes{kds::stKDS_LOCAL});
    EXPECT_EQ(EngineValue(KdsGetServerType), 1);
    settings.SetKdsServerTypes({kds::stKDS_REMOTE, kds::stKDS_LOCAL, kds::stKDS_KIS});
    EXPECT_EQ(EngineValue(KdsGetServerType), 7);
}

TEST_F(KdsSettingsTest, CacheSizesRefuseNegativeValues) {
    TKdsSettings settings(nullptr);
    settings.SetNumCachedTables(0);
    settings.SetNumCachedCursors(10);
    EXPECT_EQ(EngineValue(KdsGetCacheOpenCursors), 10);
    settings.SetNumCachedTables(5);
    EXPECT_EQ(EngineValue(KdsGetCacheOpenTables), 5);
    try {
        settings.SetNumCachedTables(-1);
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "NumCachedTables value must be greater than zero.");
    }
    try {
        settings.SetNumCachedCursors(-1);
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "NumCachedCursors value must be greater than zero.");
    }
    EXPECT_EQ(settings.NumCachedTables(), 5);
    EXPECT_EQ(settings.NumCachedCursors(), 10);
}

TEST_F(KdsSettingsTest, EngineRefusalsRaiseTheEngineTextAndKeepTheOldValue) {
    TKdsSettings settings(nullptr);
    settings.SetNumDecimals(3);
    EXPECT_EQ(EngineValue(KdsGetDecimals), 3);
    try {
        settings.SetNumDecimals(-1);
        ADD_FAILURE();
    } catch (const kds::kdsset::KdsError& e) {
        EXPECT_STREQ(e.what(), "an argument is not valid");
    }
    EXPECT_EQ(settings.NumDecimals(), 3);
    EXPECT_EQ(settings.LastErrorCode(), static_cast<UNSIGNED32>(KCE_INVALID_ARGUMENT));
    try {
        settings.SetDateFormat("nonsense");
        ADD_FAILURE();
    } catch (const kds::kdsset::KdsError& e) {
        EXPECT_STREQ(e.what(), "the date format is not valid");
    }
    EXPECT_EQ(settings.DateFormat(), "MM/dd/yyyy");
    EXPECT_EQ(rtl::ShortDateFormat(), "MM/dd/yyyy");
    settings.SetShowDeleted(false);
    EXPECT_EQ(EngineValue(KdsGetDeleted), 0);
}

TEST_F(KdsSettingsTest, ErrorWithoutEngineTextShowsTheEnginesOwnBox) {
    struct Shown {
        std::string title, text;
    } shown;
    KdsSetDisplayCallback(
        [](const char* title, const char* text, void* context) {
            *static_cast<Shown*>(context) = {title, text};
        },
        &shown);
    kds::kdsset::KdsError error(424242);
    KdsSetDisplayCallback(nullptr, nullptr);
    EXPECT_STREQ(error.what(), "");
    EXPECT_EQ(shown.title, "Kds Exception Error");
    EXPECT_NE(shown.text.find("424242"), std::string::npos);
}

}  // namespace
