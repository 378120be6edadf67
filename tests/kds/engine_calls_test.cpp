// What a field read costs: every engine call the components make is counted here (the test
// program is linked with the linker's --wrap for each of them). Reading field values of the
// active record again must not go back to the engine, and posting must not walk the table.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "kds/kdstable.h"
#include "kds_fixture.h"

namespace {

std::map<std::string, int>& EngineCalls() {
    static std::map<std::string, int> calls;
    return calls;
}

void CountEngineCall(const char* name) { ++EngineCalls()[name]; }

}  // namespace

// One counting wrapper per engine call of the components; __real_ is the engine's own.
extern "C" {
KCESTATUS __real_KdsGetDeleted(UNSIGNED16* shown);
KCESTATUS __wrap_KdsGetDeleted(UNSIGNED16* shown) {
    CountEngineCall("KdsGetDeleted");
    return __real_KdsGetDeleted(shown);
}

KCESTATUS __real_KdsCacheOpenTables(UNSIGNED16 count);
KCESTATUS __wrap_KdsCacheOpenTables(UNSIGNED16 count) {
    CountEngineCall("KdsCacheOpenTables");
    return __real_KdsCacheOpenTables(count);
}

KCESTATUS __real_KdsCacheOpenCursors(UNSIGNED16 count);
KCESTATUS __wrap_KdsCacheOpenCursors(UNSIGNED16 count) {
    CountEngineCall("KdsCacheOpenCursors");
    return __real_KdsCacheOpenCursors(count);
}

KCESTATUS __real_KdsGetVersion(UNSIGNED32* major, UNSIGNED32* minor, UNSIGNED8* letter,
                               UNSIGNED8* desc, UNSIGNED16* descLen);
KCESTATUS __wrap_KdsGetVersion(UNSIGNED32* major, UNSIGNED32* minor, UNSIGNED8* letter,
                               UNSIGNED8* desc, UNSIGNED16* descLen) {
    CountEngineCall("KdsGetVersion");
    return __real_KdsGetVersion(major, minor, letter, desc, descLen);
}

KCESTATUS __real_KdsConvertJulianToString(double julian, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS __wrap_KdsConvertJulianToString(double julian, UNSIGNED8* buf, UNSIGNED16* len) {
    CountEngineCall("KdsConvertJulianToString");
    return __real_KdsConvertJulianToString(julian, buf, len);
}

KCESTATUS __real_KdsConvertStringToJulian(const UNSIGNED8* text, UNSIGNED16 len, double* julian);
KCESTATUS __wrap_KdsConvertStringToJulian(const UNSIGNED8* text, UNSIGNED16 len, double* julian) {
    CountEngineCall("KdsConvertStringToJulian");
    return __real_KdsConvertStringToJulian(text, len, julian);
}

KCESTATUS __real_KdsConnect60(const UNSIGNED8* path, UNSIGNED16 serverTypes, const UNSIGNED8* user,
                              const UNSIGNED8* password, UNSIGNED32 options, KDSHANDLE* connection);
KCESTATUS __wrap_KdsConnect60(const UNSIGNED8* path, UNSIGNED16 serverTypes, const UNSIGNED8* user,
                              const UNSIGNED8* password, UNSIGNED32 options,
                              KDSHANDLE* connection) {
    CountEngineCall("KdsConnect60");
    return __real_KdsConnect60(path, serverTypes, user, password, options, connection);
}

KCESTATUS __real_KdsConnect(const UNSIGNED8* path, KDSHANDLE* connection);
KCESTATUS __wrap_KdsConnect(const UNSIGNED8* path, KDSHANDLE* connection) {
    CountEngineCall("KdsConnect");
    return __real_KdsConnect(path, connection);
}

KCESTATUS __real_KdsDisconnect(KDSHANDLE connection);
KCESTATUS __wrap_KdsDisconnect(KDSHANDLE connection) {
    CountEngineCall("KdsDisconnect");
    return __real_KdsDisconnect(connection);
}

KCESTATUS __real_KdsGetServerName(KDSHANDLE connection, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS __wrap_KdsGetServerName(KDSHANDLE connection, UNSIGNED8* buf, UNSIGNED16* len) {
    CountEngineCall("KdsGetServerName");
    return __real_KdsGetServerName(connection, buf, len);
}

KCESTATUS __real_KdsGetConnectionType(KDSHANDLE connection, UNSIGNED16* type);
KCESTATUS __wrap_KdsGetConnectionType(KDSHANDLE connection, UNSIGNED16* type) {
    CountEngineCall("KdsGetConnectionType");
    return __real_KdsGetConnectionType(connection, type);
}

KCESTATUS __real_KdsFindFirstTable(KDSHANDLE connection, const UNSIGNED8* pattern, UNSIGNED8* name,
                                   UNSIGNED16* len, KDSHANDLE* search);
KCESTATUS __wrap_KdsFindFirstTable(KDSHANDLE connection, const UNSIGNED8* pattern, UNSIGNED8* name,
                                   UNSIGNED16* len, KDSHANDLE* search) {
    CountEngineCall("KdsFindFirstTable");
    return __real_KdsFindFirstTable(connection, pattern, name, len, search);
}

KCESTATUS __real_KdsFindNextTable(KDSHANDLE search, UNSIGNED8* name, UNSIGNED16* len);
KCESTATUS __wrap_KdsFindNextTable(KDSHANDLE search, UNSIGNED8* name, UNSIGNED16* len) {
    CountEngineCall("KdsFindNextTable");
    return __real_KdsFindNextTable(search, name, len);
}

KCESTATUS __real_KdsFindClose(KDSHANDLE search);
KCESTATUS __wrap_KdsFindClose(KDSHANDLE search) {
    CountEngineCall("KdsFindClose");
    return __real_KdsFindClose(search);
}

KCESTATUS __real_KdsOpenTable(KDSHANDLE connection, const UNSIGNED8* name, const UNSIGNED8* alias,
                              UNSIGNED16 tableType, UNSIGNED16 charType, UNSIGNED16 lockType,
                              UNSIGNED16 rightsCheck, UNSIGNED32 options, KDSHANDLE* table);
KCESTATUS __wrap_KdsOpenTable(KDSHANDLE connection, const UNSIGNED8* name, const UNSIGNED8* alias,
                              UNSIGNED16 tableType, UNSIGNED16 charType, UNSIGNED16 lockType,
                              UNSIGNED16 rightsCheck, UNSIGNED32 options, KDSHANDLE* table) {
    CountEngineCall("KdsOpenTable");
    return __real_KdsOpenTable(connection, name, alias, tableType, charType, lockType, rightsCheck,
                               options, table);
}

KCESTATUS __real_KdsCloseTable(KDSHANDLE table);
KCESTATUS __wrap_KdsCloseTable(KDSHANDLE table) {
    CountEngineCall("KdsCloseTable");
    return __real_KdsCloseTable(table);
}

KCESTATUS __real_KdsGetTableType(KDSHANDLE table, UNSIGNED16* type);
KCESTATUS __wrap_KdsGetTableType(KDSHANDLE table, UNSIGNED16* type) {
    CountEngineCall("KdsGetTableType");
    return __real_KdsGetTableType(table, type);
}

KCESTATUS __real_KdsGetRecordLength(KDSHANDLE table, UNSIGNED32* length);
KCESTATUS __wrap_KdsGetRecordLength(KDSHANDLE table, UNSIGNED32* length) {
    CountEngineCall("KdsGetRecordLength");
    return __real_KdsGetRecordLength(table, length);
}

KCESTATUS __real_KdsGetNumFields(KDSHANDLE table, UNSIGNED16* count);
KCESTATUS __wrap_KdsGetNumFields(KDSHANDLE table, UNSIGNED16* count) {
    CountEngineCall("KdsGetNumFields");
    return __real_KdsGetNumFields(table, count);
}

KCESTATUS __real_KdsGetFieldName(KDSHANDLE table, UNSIGNED16 ordinal, UNSIGNED8* buf,
                                 UNSIGNED16* len);
KCESTATUS __wrap_KdsGetFieldName(KDSHANDLE table, UNSIGNED16 ordinal, UNSIGNED8* buf,
                                 UNSIGNED16* len) {
    CountEngineCall("KdsGetFieldName");
    return __real_KdsGetFieldName(table, ordinal, buf, len);
}

KCESTATUS __real_KdsGetFieldType(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* type);
KCESTATUS __wrap_KdsGetFieldType(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* type) {
    CountEngineCall("KdsGetFieldType");
    return __real_KdsGetFieldType(table, field, type);
}

KCESTATUS __real_KdsGetFieldLength(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* length);
KCESTATUS __wrap_KdsGetFieldLength(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* length) {
    CountEngineCall("KdsGetFieldLength");
    return __real_KdsGetFieldLength(table, field, length);
}

KCESTATUS __real_KdsGetFieldDecimals(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* decimals);
KCESTATUS __wrap_KdsGetFieldDecimals(KDSHANDLE table, const UNSIGNED8* field,
                                     UNSIGNED16* decimals) {
    CountEngineCall("KdsGetFieldDecimals");
    return __real_KdsGetFieldDecimals(table, field, decimals);
}

KCESTATUS __real_KdsGetFieldOffset(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* offset);
KCESTATUS __wrap_KdsGetFieldOffset(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* offset) {
    CountEngineCall("KdsGetFieldOffset");
    return __real_KdsGetFieldOffset(table, field, offset);
}

KCESTATUS __real_KdsGetBookmarkLength(KDSHANDLE table, UNSIGNED32* length);
KCESTATUS __wrap_KdsGetBookmarkLength(KDSHANDLE table, UNSIGNED32* length) {
    CountEngineCall("KdsGetBookmarkLength");
    return __real_KdsGetBookmarkLength(table, length);
}

KCESTATUS __real_KdsGotoTop(KDSHANDLE table);
KCESTATUS __wrap_KdsGotoTop(KDSHANDLE table) {
    CountEngineCall("KdsGotoTop");
    return __real_KdsGotoTop(table);
}

KCESTATUS __real_KdsGotoBottom(KDSHANDLE table);
KCESTATUS __wrap_KdsGotoBottom(KDSHANDLE table) {
    CountEngineCall("KdsGotoBottom");
    return __real_KdsGotoBottom(table);
}

KCESTATUS __real_KdsSkip(KDSHANDLE table, SIGNED32 count);
KCESTATUS __wrap_KdsSkip(KDSHANDLE table, SIGNED32 count) {
    CountEngineCall("KdsSkip");
    return __real_KdsSkip(table, count);
}

KCESTATUS __real_KdsAtEOF(KDSHANDLE table, UNSIGNED16* atEof);
KCESTATUS __wrap_KdsAtEOF(KDSHANDLE table, UNSIGNED16* atEof) {
    CountEngineCall("KdsAtEOF");
    return __real_KdsAtEOF(table, atEof);
}

KCESTATUS __real_KdsAtBOF(KDSHANDLE table, UNSIGNED16* atBof);
KCESTATUS __wrap_KdsAtBOF(KDSHANDLE table, UNSIGNED16* atBof) {
    CountEngineCall("KdsAtBOF");
    return __real_KdsAtBOF(table, atBof);
}

KCESTATUS __real_KdsGotoRecord(KDSHANDLE table, UNSIGNED32 recno);
KCESTATUS __wrap_KdsGotoRecord(KDSHANDLE table, UNSIGNED32 recno) {
    CountEngineCall("KdsGotoRecord");
    return __real_KdsGotoRecord(table, recno);
}

KCESTATUS __real_KdsGetRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len);
KCESTATUS __wrap_KdsGetRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len) {
    CountEngineCall("KdsGetRecord");
    return __real_KdsGetRecord(table, buf, len);
}

KCESTATUS __real_KdsGetRecordNum(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* recno);
KCESTATUS __wrap_KdsGetRecordNum(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* recno) {
    CountEngineCall("KdsGetRecordNum");
    return __real_KdsGetRecordNum(table, option, recno);
}

KCESTATUS __real_KdsGetRecordCount(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* count);
KCESTATUS __wrap_KdsGetRecordCount(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* count) {
    CountEngineCall("KdsGetRecordCount");
    return __real_KdsGetRecordCount(table, option, count);
}

KCESTATUS __real_KdsGetBookmark60(KDSHANDLE table, UNSIGNED8* bookmark, UNSIGNED32* len);
KCESTATUS __wrap_KdsGetBookmark60(KDSHANDLE table, UNSIGNED8* bookmark, UNSIGNED32* len) {
    CountEngineCall("KdsGetBookmark60");
    return __real_KdsGetBookmark60(table, bookmark, len);
}

KCESTATUS __real_KdsGotoBookmark(KDSHANDLE table, KDSHANDLE bookmark);
KCESTATUS __wrap_KdsGotoBookmark(KDSHANDLE table, KDSHANDLE bookmark) {
    CountEngineCall("KdsGotoBookmark");
    return __real_KdsGotoBookmark(table, bookmark);
}

KCESTATUS __real_KdsCompareBookmarks(const UNSIGNED8* bookmark1, const UNSIGNED8* bookmark2,
                                     SIGNED32* result);
KCESTATUS __wrap_KdsCompareBookmarks(const UNSIGNED8* bookmark1, const UNSIGNED8* bookmark2,
                                     SIGNED32* result) {
    CountEngineCall("KdsCompareBookmarks");
    return __real_KdsCompareBookmarks(bookmark1, bookmark2, result);
}

KCESTATUS __real_KdsIsRecordVisible(KDSHANDLE table, UNSIGNED16* visible);
KCESTATUS __wrap_KdsIsRecordVisible(KDSHANDLE table, UNSIGNED16* visible) {
    CountEngineCall("KdsIsRecordVisible");
    return __real_KdsIsRecordVisible(table, visible);
}

KCESTATUS __real_KdsIsRecordDeleted(KDSHANDLE table, UNSIGNED16* deleted);
KCESTATUS __wrap_KdsIsRecordDeleted(KDSHANDLE table, UNSIGNED16* deleted) {
    CountEngineCall("KdsIsRecordDeleted");
    return __real_KdsIsRecordDeleted(table, deleted);
}

KCESTATUS __real_KdsRefreshRecord(KDSHANDLE table);
KCESTATUS __wrap_KdsRefreshRecord(KDSHANDLE table) {
    CountEngineCall("KdsRefreshRecord");
    return __real_KdsRefreshRecord(table);
}

KCESTATUS __real_KdsGetNullRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len);
KCESTATUS __wrap_KdsGetNullRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len) {
    CountEngineCall("KdsGetNullRecord");
    return __real_KdsGetNullRecord(table, buf, len);
}

KCESTATUS __real_KdsClearRecordBuffer(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32 len);
KCESTATUS __wrap_KdsClearRecordBuffer(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32 len) {
    CountEngineCall("KdsClearRecordBuffer");
    return __real_KdsClearRecordBuffer(table, buf, len);
}

KCESTATUS __real_KdsGetLastAutoinc(KDSHANDLE table, UNSIGNED32* value);
KCESTATUS __wrap_KdsGetLastAutoinc(KDSHANDLE table, UNSIGNED32* value) {
    CountEngineCall("KdsGetLastAutoinc");
    return __real_KdsGetLastAutoinc(table, value);
}

KCESTATUS __real_KdsGetField(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED8* buf,
                             UNSIGNED32* len, UNSIGNED16 option);
KCESTATUS __wrap_KdsGetField(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED8* buf,
                             UNSIGNED32* len, UNSIGNED16 option) {
    CountEngineCall("KdsGetField");
    return __real_KdsGetField(table, field, buf, len, option);
}

KCESTATUS __real_KdsIsEmpty(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* empty);
KCESTATUS __wrap_KdsIsEmpty(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* empty) {
    CountEngineCall("KdsIsEmpty");
    return __real_KdsIsEmpty(table, field, empty);
}

KCESTATUS __real_KdsZapTable(KDSHANDLE table);
KCESTATUS __wrap_KdsZapTable(KDSHANDLE table) {
    CountEngineCall("KdsZapTable");
    return __real_KdsZapTable(table);
}

KCESTATUS __real_KdsEnableEncryption(KDSHANDLE table, const UNSIGNED8* password);
KCESTATUS __wrap_KdsEnableEncryption(KDSHANDLE table, const UNSIGNED8* password) {
    CountEngineCall("KdsEnableEncryption");
    return __real_KdsEnableEncryption(table, password);
}

KCESTATUS __real_KdsGetAllIndexes(KDSHANDLE table, KDSHANDLE* handles, UNSIGNED16* count);
KCESTATUS __wrap_KdsGetAllIndexes(KDSHANDLE table, KDSHANDLE* handles, UNSIGNED16* count) {
    CountEngineCall("KdsGetAllIndexes");
    return __real_KdsGetAllIndexes(table, handles, count);
}

KCESTATUS __real_KdsOpenIndex(KDSHANDLE table, const UNSIGNED8* file, KDSHANDLE* handles,
                              UNSIGNED16* count);
KCESTATUS __wrap_KdsOpenIndex(KDSHANDLE table, const UNSIGNED8* file, KDSHANDLE* handles,
                              UNSIGNED16* count) {
    CountEngineCall("KdsOpenIndex");
    return __real_KdsOpenIndex(table, file, handles, count);
}

KCESTATUS __real_KdsGetIndexCondition(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS __wrap_KdsGetIndexCondition(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len) {
    CountEngineCall("KdsGetIndexCondition");
    return __real_KdsGetIndexCondition(index, buf, len);
}

KCESTATUS __real_KdsGetIndexFlags(KDSHANDLE index, UNSIGNED32* flags);
KCESTATUS __wrap_KdsGetIndexFlags(KDSHANDLE index, UNSIGNED32* flags) {
    CountEngineCall("KdsGetIndexFlags");
    return __real_KdsGetIndexFlags(index, flags);
}

KCESTATUS __real_KdsGetIndexPageSize(KDSHANDLE index, UNSIGNED16* size);
KCESTATUS __wrap_KdsGetIndexPageSize(KDSHANDLE index, UNSIGNED16* size) {
    CountEngineCall("KdsGetIndexPageSize");
    return __real_KdsGetIndexPageSize(index, size);
}

KCESTATUS __real_KdsGetRelKeyPos(KDSHANDLE index, double* position);
KCESTATUS __wrap_KdsGetRelKeyPos(KDSHANDLE index, double* position) {
    CountEngineCall("KdsGetRelKeyPos");
    return __real_KdsGetRelKeyPos(index, position);
}

KCESTATUS __real_KdsSetRelKeyPos(KDSHANDLE index, double position);
KCESTATUS __wrap_KdsSetRelKeyPos(KDSHANDLE index, double position) {
    CountEngineCall("KdsSetRelKeyPos");
    return __real_KdsSetRelKeyPos(index, position);
}

KCESTATUS __real_KdsGetScope(KDSHANDLE index, UNSIGNED16 which, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS __wrap_KdsGetScope(KDSHANDLE index, UNSIGNED16 which, UNSIGNED8* buf, UNSIGNED16* len) {
    CountEngineCall("KdsGetScope");
    return __real_KdsGetScope(index, which, buf, len);
}
}  // extern "C"

namespace {

using kdstest::KdsTest;

using KdsEngineCallTest = KdsTest;

// Reads every field of every record of the table `reads` times; answers the engine calls made
// by the reads alone.
std::map<std::string, int> CallsOfFieldReads(kds::TKdsTable& table, int reads, int& fieldReads) {
    std::map<std::string, int> total;
    fieldReads = 0;
    for (table.First(); !table.AtEOF(); table.Next()) {
        EngineCalls().clear();
        for (int r = 0; r < reads; ++r) {
            for (int i = 0; i < table.NumFields(); ++i) {
                db::TField& field = table.FieldAt(i);
                if (field.IsBlob()) continue;
                (void)field.StringValue();
                ++fieldReads;
            }
        }
        for (auto& [name, count] : EngineCalls()) total[name] += count;
    }
    return total;
}

// What reading the fields again costs, beyond reading them once: calls that grow with the
// number of reads, by name. The engine's text conversions (KdsConvert...) work on the value
// alone and are left out; anything else here goes to the engine for every read.
std::map<std::string, int> CallsThatGrowWithReads(kds::TKdsTable& table) {
    int once = 0, often = 0;
    std::map<std::string, int> first = CallsOfFieldReads(table, 1, once);
    std::map<std::string, int> more = CallsOfFieldReads(table, 5, often);
    EXPECT_EQ(often, 5 * once);
    std::map<std::string, int> grown;
    for (auto& [name, count] : more) {
        if (name.rfind("KdsConvert", 0) == 0) continue;
        auto it = first.find(name);
        if (count > (it == first.end() ? 0 : it->second)) grown[name] = count;
    }
    return grown;
}

// Field reads work on the record buffer that navigation filled: reading the fields of a record
// five times asks the engine nothing more than reading them once, on a native table and on a
// DBF one, and the same component reopened on a table of another kind reads by that kind's rules
// (an empty character field of a DBF table holds blanks, which read as empty there).
TEST_F(KdsEngineCallTest, ReadingFieldsAgainAsksTheEngineNothingMore) {
    MakeTable("ALLTYPES", kdstest::kKdt,
              "L,logical;N,numeric,8,2;D,date;C,char,12;CD,compactdate;DBL,double;INT,integer;"
              "SI,shortint;T,time;TS,timestamp;AI,autoinc;R,raw,4;Y,money;M,memo",
              {{"T", "12.5", "20010915", "AB", "", "1.5", "7", "-3", "10:20:30", "", "", "abcd",
                "9.25", "note"},
               {}});
    MakeTable("DBFTYPES", kdstest::kCdx,
              "L,logical;N,numeric,8,2;D,date;C,char,12;DBL,double;INT,integer;Y,money",
              {{"T", "12.5", "20010915", "AB", "1.5", "7", "9.25"}, {}});
    kds::TKdsTable* table = NewTable("KdsTable1", "ALLTYPES", kdstest::kKdt);
    table->Open();
    EXPECT_EQ(CallsThatGrowWithReads(*table), (std::map<std::string, int>{}));
    table->First();
    EXPECT_EQ(table->FieldNamed("C").StringValue(), "AB");
    EXPECT_EQ(table->FieldNamed("D").StringValue(), "09/15/2001");
    table->Close();
    table->SetTableName("DBFTYPES");
    table->SetTableType(kds::ttKdsCDX);
    table->Open();
    EXPECT_EQ(CallsThatGrowWithReads(*table), (std::map<std::string, int>{}));
    table->First();
    EXPECT_EQ(table->FieldNamed("D").StringValue(), "09/15/2001");
    table->Next();
    EXPECT_TRUE(table->FieldNamed("C").IsBlank());
    EXPECT_TRUE(table->FieldNamed("D").IsBlank());
    table->Close();
}

// Posting a new record appends it where the engine cursor stands: the cursor is not first
// moved past the last record, which would read that record in the engine for every Post.
TEST_F(KdsEngineCallTest, PostingAnAppendedRecordDoesNotMoveToTheEndFirst) {
    MakeTable("EMP", kdstest::kKdt, "EMP_NO,char,6;NAME,char,20", {{"E1", "ONE"}, {"E2", "TWO"}});
    kds::TKdsTable* table = NewTable("KdsTable1", "EMP", kdstest::kKdt);
    table->Open();
    table->Append();
    table->FieldNamed("EMP_NO").SetStringValue("E3");
    EngineCalls().clear();
    table->Post();
    EXPECT_EQ(EngineCalls()["KdsGotoBottom"], 0);
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E3");
    table->Append();
    table->FieldNamed("EMP_NO").SetStringValue("E4");
    table->Cancel();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E3");
    std::vector<std::string> all;
    for (table->First(); !table->AtEOF(); table->Next()) {
        all.push_back(table->FieldNamed("EMP_NO").StringValue());
    }
    EXPECT_EQ(all, (std::vector<std::string>{"E1", "E2", "E3"}));
    table->Close();
}

}  // namespace
