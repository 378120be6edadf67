// Visual FoxPro tables written by python3-dbf, through TKdsTable: null values of every nullable
// field read as blank (never as the numbers of their empty images), a new record posts with its
// fields left blank, and a value cleared through the components is stored as null.
#include <gtest/gtest.h>

#include <fstream>

#include "dataset/fields.h"
#include "tests/kds/edit_tables.h"
#include "tests/support/processes.h"

namespace kdstest {
namespace {

// Runs a python3-dbf script in `folder`; answers its standard output.
std::string Python(const std::string& folder, const std::string& script) {
    std::ofstream(folder + "/script.py") << script;
    testsupport::Result r = testsupport::RunProgram(
        {"/bin/sh", "-c", "cd '" + folder + "' && /usr/bin/python3 script.py"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return r.out;
}

// A table of every nullable field kind: the first record has values, the second only nulls.
const char* const kMakeTable = R"(
import dbf, datetime
t = dbf.Table('people.dbf',
    'NAME C(10) NULL; AGE I NULL; PAY Y NULL; RATE B NULL; QTY N(5,0) NULL; AMT F(8,2) NULL;'
    ' SEEN T NULL; BORN D NULL', dbf_type='vfp')
t.open(dbf.READ_WRITE)
t.append(('ann', 41, 12.5, 1.5, 3, 2.25, datetime.datetime(2020, 1, 2, 3, 4, 5),
          datetime.date(1980, 5, 6)))
t.append((dbf.Null,) * 8)
t.close()
)";

// Prints each record's values as python3-dbf reads them, one record a line.
const char* const kDumpTable = R"(
import dbf
t = dbf.Table('people.dbf')
t.open(dbf.READ_ONLY)
for r in t:
    print('|'.join('null' if v is dbf.Null else str(v).strip() for v in r))
t.close()
)";

const char* const kFields[] = {"NAME", "AGE", "PAY", "RATE", "QTY", "AMT", "SEEN", "BORN"};

class VfpNullTest : public testing::Test {
  protected:
    void SetUp() override {
        Python(folder.Path(), kMakeTable);
        table = TableOn(folder.Path(), "people.dbf", kCdx);
        table->Open();
    }
    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

TEST_F(VfpNullTest, NullsReadAsBlankAndValuesAsWritten) {
    for (const char* name : kFields) {
        EXPECT_FALSE(table->FieldNamed(name).IsBlank()) << name;
    }
    EXPECT_EQ(table->FieldNamed("AGE").StringValue(), "41");
    EXPECT_EQ(table->FieldNamed("PAY").StringValue(), "12.5");
    EXPECT_EQ(table->FieldNamed("RATE").StringValue(), "1.5");
    EXPECT_EQ(table->FieldNamed("QTY").StringValue(), "3");
    EXPECT_EQ(table->FieldNamed("AMT").StringValue(), "2.25");
    table->Next();
    for (const char* name : kFields) {
        EXPECT_TRUE(table->FieldNamed(name).IsBlank()) << name;
        EXPECT_EQ(table->FieldNamed(name).StringValue(), "") << name;
    }
}

// Append with only NAME given posts (every other field stays null); clearing AGE and PAY of the
// first record stores nulls there; python3-dbf reads what was posted.
TEST_F(VfpNullTest, NewRecordsPostBlankAndClearedValuesAreStoredAsNull) {
    table->Append();
    table->FieldNamed("NAME").SetStringValue("cy");
    table->Post();
    table->First();
    table->Edit();
    table->FieldNamed("AGE").Clear();
    table->FieldNamed("PAY").Clear();
    table->Post();
    table->Last();
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "cy");
    EXPECT_TRUE(table->FieldNamed("AGE").IsBlank());
    table->Close();
    EXPECT_EQ(Python(folder.Path(), kDumpTable),
              "ann|null|null|1.5|3|2.25|2020-01-02 03:04:05|1980-05-06\n"
              "null|null|null|null|null|null|null|null\n"
              "cy|null|null|null|null|null|null|null\n");
}

}  // namespace
}  // namespace kdstest
