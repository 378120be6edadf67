// Filters on native tables that SQLite evaluates first: the records a pushed-down filter selects
// are exactly those the expression selects record by record, and they follow changes made
// through another handle or another connection.
#include "engine/filter/sql_filter.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/expr/expression.h"
#include "engine/kce.h"
#include "tests/engine/engine_test_util.h"

namespace {

using kcetest::LastErrorText;
using kcetest::U;
using Names = std::vector<std::string>;

const char* const kFields =
    "NAME,char,10;N,numeric,8,2;I,integer;M,money;H,date;P,logical;D,double";

class SqlFilterTest : public kcetest::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        KDSHANDLE t = Create("EMP", kFields);
        // Row 3 leaves every field empty: numbers read 0, the date is the empty date.
        struct Row {
            const char *name, *n, *i, *m, *h, *p, *d;
        } rows[] = {
            {"SMITH", "1.10", "5", "12.5", "20010915", "T", "0.1"},
            {"SMALL", "-3", "0", "0.0001", "19991231", "F", "-2"},
            {"", "", "", "", "", "", ""},
            {"SM", "100", "100", "100", "20010916", "T", "100"},
            {"JONES A", "1.1", "-5", "-12.5", "20010914", "F", "0.30000000000000004"},
        };
        for (const Row& r : rows) {
            ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
            const char* names[] = {"NAME", "N", "I", "M", "H", "P", "D"};
            const char* values[] = {r.name, r.n, r.i, r.m, r.h, r.p, r.d};
            for (int f = 0; f < 7; ++f) {
                if (*values[f]) Set(t, names[f], values[f]);
            }
            ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
        }
        KdsCloseTable(t);
        table_ = Open("EMP");
    }
    void TearDown() override {
        KdsCloseTable(table_);
        EngineTest::TearDown();
    }

    // Record numbers the handle walks, as text: "1 2 4".
    static std::string Walk(KDSHANDLE h) {
        std::string seen;
        EXPECT_EQ(KdsGotoTop(h), 0u) << LastErrorText();
        for (int guard = 0; !Eof(h) && guard < 100; ++guard) {
            seen += (seen.empty() ? "" : " ") + std::to_string(Recno(h));
            EXPECT_EQ(KdsSkip(h, 1), 0u) << LastErrorText();
        }
        return seen;
    }
    std::string Filtered(const std::string& expr, bool aof) {
        KCESTATUS s =
            aof ? KdsSetAOF(table_, U(expr), KCE_RESOLVE_DYNAMIC) : KdsSetFilter(table_, U(expr));
        EXPECT_EQ(s, 0u) << expr << ": " << LastErrorText();
        std::string seen = Walk(table_);
        aof ? KdsClearAOF(table_) : KdsClearFilter(table_);
        return seen;
    }
    // Whether the table's filter of this text gives SQLite a clause.
    bool Pushed(const std::string& expr) {
        std::vector<kce::ExprField> fields;
        UNSIGNED16 count = 0;
        KdsGetNumFields(table_, &count);
        for (UNSIGNED16 i = 1; i <= count; ++i) {
            UNSIGNED8 name[130];
            UNSIGNED16 len = sizeof name;
            UNSIGNED16 type = 0;
            KdsGetFieldName(table_, i, name, &len);
            std::string n(reinterpret_cast<char*>(name), len);
            KdsGetFieldType(table_, U(n), &type);
            fields.push_back({n, type, 0, 10, 0});
        }
        std::unique_ptr<kce::Expression> e;
        EXPECT_EQ(kce::Expression::Compile(expr, kce::ExprSchema(fields), &e), 0u) << expr;
        return e && !kce::TranslateToSql({e.get()}).where.empty();
    }

    KDSHANDLE table_ = 0;
};

// Each filter selects the same records pushed down as when evaluated record by record (the
// same test inside IIF(), which is never pushed down), as a plain filter and as an optimized one,
// under both exact settings.
TEST_F(SqlFilterTest, PushedDownFiltersSelectWhatTheExpressionSelects) {
    struct Case {
        const char* filter;
        bool pushed;
        const char* inexact;  // the records with the exact setting off
    } cases[] = {
        {"NAME = 'SM'", true, "1 2 4"},
        {"NAME = 'SM   '", true, "4"},
        {"NAME == 'SM'", true, "4"},
        {"NAME = 'JONES A'", true, "5"},
        {"NAME = 'JONES'", true, "5"},
        {"'SMITH' = NAME", false, "1"},
        {"NAME = ''", false, "1 2 3 4 5"},
        {"N = 1.1", true, "1 5"},
        {"N <= 0", true, "2 3"},
        {"N > 1.1", true, "4"},
        {"-5 = I", true, "5"},
        {"I > -1 .AND. I < 6", true, "1 2 3"},
        {"I >= 0 .AND. UPPER(NAME) = 'SMA'", true, "2"},
        {"I = 0 .OR. UPPER(NAME) = 'J'", false, "2 3 5"},
        {"P .OR. I = 0", true, "1 2 3 4"},
        {"P", true, "1 4"},
        {".NOT. P", true, "2 3 5"},
        {"M = 12.5", true, "1"},
        {"M < 0.001", true, "2 3 5"},
        {"M >= -12.5 .AND. M <= 0.0001", true, "2 3 5"},
        {"D = 0.1 + 0.2", false, "5"},
        {"D > 0.3", true, "4 5"},
        {"H > STOD('20010915')", true, "4"},
        {"H < STOD('20000101')", true, "2 3"},
        {"H = STOD('20010914') .OR. H = STOD('20010916')", true, "4 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(Pushed(c.filter), c.pushed);
        const std::string reference = std::string("IIF(") + c.filter + ", .T., .F.)";
        for (UNSIGNED16 exact : {0, 1}) {
            ASSERT_EQ(KdsSetExact22(table_, exact), 0u);
            const std::string expected = Filtered(reference, false);
            if (!exact) {
                EXPECT_EQ(expected, c.inexact);
            }
            EXPECT_EQ(Filtered(c.filter, false), expected) << "plain, exact " << exact;
            EXPECT_EQ(Filtered(c.filter, true), expected) << "optimized, exact " << exact;
        }
    }
}

// The records SQLite selected are asked again once the table changed: through another handle
// of this process, and through another connection to the file (as another process writes).
TEST_F(SqlFilterTest, PushedDownFiltersFollowChanges) {
    ASSERT_EQ(KdsSetFilter(table_, U("I = 7")), 0u) << LastErrorText();
    EXPECT_EQ(Walk(table_), "");

    KDSHANDLE other = Open("EMP");
    ASSERT_EQ(KdsGotoRecord(other, 2), 0u);
    Set(other, "I", "7");
    ASSERT_EQ(KdsWriteRecord(other), 0u) << LastErrorText();
    KdsCloseTable(other);
    EXPECT_EQ(Walk(table_), "2");

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("EMP.kdt").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "UPDATE records SET I = 7 WHERE kdt_recno = 4", nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    EXPECT_EQ(Walk(table_), "2 4");
}

// A table that is encrypted keeps sealed rows: the filter is evaluated record by record there.
TEST_F(SqlFilterTest, EncryptedTablesFilterRecordByRecord) {
    KdsCloseTable(table_);
    table_ = Open("EMP", KCE_OPEN_EXCLUSIVE);
    ASSERT_EQ(KdsEncryptTable(table_, U("secret")), 0u) << LastErrorText();
    EXPECT_EQ(Filtered("NAME = 'SM'", false), "1 2 4");
    EXPECT_EQ(Filtered("I >= 0", true), "1 2 3 4");
}

}  // namespace
