// Errors of the data-access layer: engine statuses raised with the engine's code and text, the
// dataset name prefix and fields, and the rule that one pending error is never replaced.
#include "kds/kdsengine.h"

#include <gtest/gtest.h>

#include "kds/kdscnnct.h"
#include "kds/kdsengineerror.h"
#include "kds/kdsset.h"
#include "kds_fixture.h"
#include "rtl/datetime.h"

namespace {

using kds::CheckKdsStatus;
using kds::EKDSDatabaseError;
using kdstest::KdsTest;
using kdstest::kKdt;

// A status the engine gives for a handle that names nothing, with its text recorded.
KCESTATUS FailingEngineCall() { return KdsGotoTop(987654); }

std::string EngineText(KCESTATUS status) {
    UNSIGNED32 code = status;
    UNSIGNED8 text[KCE_MAX_ERROR_LEN + 1] = {};
    UNSIGNED16 length = KCE_MAX_ERROR_LEN;
    KdsGetLastError(&code, text, &length);
    return std::string(reinterpret_cast<char*>(text), length);
}

using KdsErrorTest = KdsTest;

// The dataset error, the connection's KdsError and the settings' KdsError all take their text
// from the one engine answer for the same status.
TEST_F(KdsErrorTest, EveryComponentErrorTakesTheOneEngineAnswer) {
    const KCESTATUS status = FailingEngineCall();
    ASSERT_NE(status, 0u);
    const kds::EngineError last = kds::EngineErrorOf(status, kds::EngineErrorSource::LastError);
    EXPECT_TRUE(last.known);
    EXPECT_EQ(last.code, static_cast<int32_t>(status));
    EXPECT_EQ(last.text, EngineText(status));
    try {
        CheckKdsStatus(nullptr, status);
        ADD_FAILURE() << "no exception";
    } catch (const EKDSDatabaseError& error) {
        EXPECT_EQ(error.Message(), last.text);
        EXPECT_EQ(error.ErrorCode(), last.code);
    }
    EXPECT_EQ(kds::kdscnnct::KdsError(status).Message(), last.text);

    const kds::EngineError fixed = kds::EngineErrorOf(status, kds::EngineErrorSource::StatusText);
    EXPECT_TRUE(fixed.known);
    EXPECT_FALSE(fixed.text.empty());
    EXPECT_EQ(kds::kdsset::KdsError(status).Message(), fixed.text);
}

TEST_F(KdsErrorTest, EngineFailureInADataSetCarriesItsNameCodeAndPlace) {
    auto* table = NewTable("KdsTable2", "MISSING", kKdt);
    try {
        table->Open();
        FAIL() << "opening a missing table succeeded";
    } catch (const EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), KCE_FILE_NOT_FOUND);
        std::string engineText = EngineText(KCE_FILE_NOT_FOUND);
        EXPECT_EQ(e.Message(), "KdsTable2: " + engineText);
        EXPECT_EQ(e.DataSetName(), "KdsTable2");
        EXPECT_EQ(e.DataSetOwnerName(), "Form1");
        EXPECT_EQ(e.DatabaseName(), Dir());
        EXPECT_EQ(e.DatabasePath(), Dir());
        EXPECT_EQ(e.TableName(), "MISSING");
        EXPECT_EQ(e.ColumnName(), "");
    }
    EXPECT_FALSE(table->Active());
    EXPECT_FALSE(EKDSDatabaseError::Pending());
}

TEST_F(KdsErrorTest, EngineFailureWithoutADataSetIsTheEngineTextAlone) {
    KCESTATUS status = FailingEngineCall();
    ASSERT_NE(status, 0u);
    std::string expected = EngineText(status);
    try {
        CheckKdsStatus(nullptr, status);
        FAIL();
    } catch (const EKDSDatabaseError& e) {
        EXPECT_EQ(e.Message(), expected);
        EXPECT_EQ(e.ErrorCode(), static_cast<int32_t>(status));
        EXPECT_EQ(e.DataSetName(), "");
        EXPECT_EQ(e.DatabasePath(), "");
    }
    EXPECT_NO_THROW(CheckKdsStatus(nullptr, 0));
}

TEST_F(KdsErrorTest, WhileOneErrorIsHandledNoSecondIsRaisedAndNoneIsPrefixed) {
    auto* table1 = NewTable("KdsTable1", "T1", kKdt);
    try {
        CheckKdsStatus(table1, FailingEngineCall());
        FAIL();
    } catch (const EKDSDatabaseError& first) {
        EXPECT_TRUE(EKDSDatabaseError::Pending());
        // Clean-up failing in the handler stays silent.
        EXPECT_NO_THROW(CheckKdsStatus(table1, FailingEngineCall()));
        // An error made explicitly meanwhile keeps exactly its own text and no dataset fields.
        EKDSDatabaseError second(table1, "wrapped", 42);
        EXPECT_EQ(second.Message(), "wrapped");
        EXPECT_EQ(second.ErrorCode(), 42);
        EXPECT_EQ(second.DataSetName(), "");
        EXPECT_EQ(second.TableName(), "");
        // Copies of the first share its pending mark: dropping one keeps the flag.
        { EKDSDatabaseError copy = first; }
        EXPECT_TRUE(EKDSDatabaseError::Pending());
    }
    EXPECT_FALSE(EKDSDatabaseError::Pending());
    EXPECT_THROW(CheckKdsStatus(table1, FailingEngineCall()), EKDSDatabaseError);
}

TEST_F(KdsErrorTest, ColumnNameIsTakenFromColumnErrorsOnly) {
    auto* table = NewTable("KdsTable1", "T1", kKdt);
    struct Case {
        int32_t code;
        std::string message;
        std::string column;
    };
    const Case cases[] = {
        {5147, "bad value for column \"NAME\" in row 3", "NAME"},
        {5149, "column \"EMP_NO\"", "EMP_NO"},
        {5148, "Column \"NAME\"", ""},  // the word is lower case
        {5147, "column NAME", ""},      // no quote
        {5121, "column \"NAME\"", ""},  // other codes have no column
        {5147, "column \"UNTERMINATED", "UNTERMINATED"},
    };
    for (const Case& c : cases) {
        EKDSDatabaseError e(table, c.message, c.code);
        EXPECT_EQ(e.ColumnName(), c.column) << c.message;
        EXPECT_EQ(e.Message(), "KdsTable1: " + c.message);
    }
}

TEST(KdsEngineDoor, VersionTextAndDisplayCallbackReachTheEngine) {
    kds::TEngineVersion v = kds::EngineVersion();
    std::string text = kds::EngineVersionText();
    std::string minor = (v.Minor < 10 ? "0" : "") + std::to_string(v.Minor);
    EXPECT_TRUE(text.starts_with("KCE " + std::to_string(v.Major) + "." + minor)) << text;

    struct Shown {
        std::string title, text;
    } shown;
    kds::SetEngineDisplayCallback(
        [](const char* title, const char* text, void* context) {
            auto* s = static_cast<Shown*>(context);
            s->title = title;
            s->text = text;
        },
        &shown);
    FailingEngineCall();
    KdsShowError(kdstest::U("Title"));
    kds::SetEngineDisplayCallback(nullptr, nullptr);
    EXPECT_EQ(shown.title, "Title");
    EXPECT_FALSE(shown.text.empty());
}

}  // namespace
