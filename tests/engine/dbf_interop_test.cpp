// DBF files exchanged with other tools of the Debian archive: python3-dbfread reads what this
// engine writes; python3-dbf and GDAL's ogr2ogr write what this engine reads.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/dbf/dbf_table.h"
#include "engine/kce.h"
#include "engine/status.h"
#include "tests/engine/dbf_fixture.h"

namespace {

using namespace kce::dbf;

// Runs a command and answers its standard output; fails the test when it exits non-zero.
std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int rc = pclose(p);
    EXPECT_EQ(rc, 0) << command << "\n" << out;
    return out;
}

std::string Python(const std::string& dir, const std::string& script) {
    std::string file = dir + "/script.py";
    FILE* f = fopen(file.c_str(), "w");
    fputs(script.c_str(), f);
    fclose(f);
    return RunCommand("cd " + dir + " && /usr/bin/python3 script.py 2>&1");
}

class DbfInterop : public dbftest::TempDir {
  protected:
    std::unique_ptr<DbfTable> Open(const std::string& name) {
        std::unique_ptr<DbfTable> t;
        EXPECT_EQ(DbfTable::Open(PathOf(name), true, &t), 0u) << kce::LastText();
        return t;
    }
    // The image of a record as text: each field's bytes, '|' between fields, numbers decoded.
    std::string Row(DbfTable& t, uint32_t recno) {
        std::string image(t.ImageLength(), '\0');
        bool deleted = false;
        std::vector<bool> nulls;
        EXPECT_EQ(t.ReadImage(recno, reinterpret_cast<uint8_t*>(image.data()), &deleted, &nulls),
                  0u);
        std::string row;
        for (size_t i = 0; i < t.Fields().size(); ++i) {
            const DbfField& f = t.Fields()[i];
            const char* p = image.data() + f.offset;
            if (i) row += '|';
            if (nulls[i]) {
                row += "null";
                continue;
            }
            double d;
            int32_t n;
            switch (f.type) {
                case 5:
                case 6:
                case 7: {
                    std::string value;
                    EXPECT_EQ(t.ReadBlob(recno, i, &value), 0u) << kce::LastText();
                    row += value;
                    break;
                }
                case 10:
                    std::memcpy(&d, p, 8);
                    row += std::to_string(d);
                    break;
                case 17: {
                    int64_t count;  // ten-thousandths
                    std::memcpy(&count, p, 8);
                    row += std::to_string(count / 10000) + "." + std::to_string(count % 10000);
                    break;
                }
                case 11:
                case 15:
                    std::memcpy(&n, p, 4);
                    row += std::to_string(n);
                    break;
                case 14: {
                    uint32_t day, ms;
                    std::memcpy(&day, p, 4);
                    std::memcpy(&ms, p + 4, 4);
                    row += std::to_string(day) + "+" + std::to_string(ms);
                    break;
                }
                default: {
                    std::string s(p, f.length);
                    while (!s.empty() && s.back() == ' ') s.pop_back();
                    row += s;
                }
            }
        }
        return row;
    }
};

void Put(std::string& image, const DbfTable& t, const char* field, const std::string& bytes) {
    const DbfField& f = t.Fields().at(t.FieldIndex(field));
    image.replace(f.offset, bytes.size(), bytes);
}

TEST_F(DbfInterop, DbfreadReadsWhatTheEngineWrites) {
    ASSERT_EQ(DbfTable::Create(PathOf("emp.dbf"), XBaseKind::kCdx,
                               {{"NAME", 4, 12, 0},
                                {"SALARY", 2, 9, 2},
                                {"HIRED", 3, 0, 0},
                                {"ACTIVE", 1, 0, 0},
                                {"NOTE", 5, 0, 0},
                                {"PHOTO", 7, 0, 0},
                                {"RATE", 10, 0, 0},
                                {"LEVEL", 11, 0, 0},
                                {"BONUS", 17, 0, 0},
                                {"STAMP", 14, 0, 0},
                                {"ID", 15, 0, 0}},
                               {}),
              0u)
        << kce::LastText();
    std::unique_ptr<DbfTable> t;
    ASSERT_EQ(DbfTable::Open(PathOf("emp.dbf"), false, &t), 0u);
    std::string image(t->ImageLength(), ' ');
    Put(image, *t, "NAME", "M\xFCller      ");  // Windows-1252, as the code page says
    Put(image, *t, "SALARY", "  1234.50");
    Put(image, *t, "HIRED", "20010915");
    Put(image, *t, "ACTIVE", "T");
    double rate = 0.25;
    int64_t bonus = 991250;  // ten-thousandths
    Put(image, *t, "RATE", std::string(reinterpret_cast<char*>(&rate), 8));
    Put(image, *t, "BONUS", std::string(reinterpret_cast<char*>(&bonus), 8));
    int32_t level = -7;
    Put(image, *t, "LEVEL", std::string(reinterpret_cast<char*>(&level), 4));
    uint32_t stamp[2] = {2451545, 45296789};  // 2000-01-01 12:34:56.789
    Put(image, *t, "STAMP", std::string(reinterpret_cast<char*>(stamp), 8));
    ASSERT_EQ(t->AssignAutoinc(reinterpret_cast<uint8_t*>(image.data())), 0u);
    uint32_t recno = 0;
    ASSERT_EQ(t->WriteImage(0, reinterpret_cast<uint8_t*>(image.data()), false,
                            {{4, "two\nlines"}, {5, std::string("\x89PNG\0\x01", 6)}}, &recno),
              0u)
        << kce::LastText();
    std::string empty(t->ImageLength(), '\0');
    for (const char* f : {"NAME", "SALARY", "HIRED", "ACTIVE"}) {
        const DbfField& d = t->Fields()[t->FieldIndex(f)];
        empty.replace(d.offset, d.length, std::string(d.length, ' '));
    }
    ASSERT_EQ(t->AssignAutoinc(reinterpret_cast<uint8_t*>(empty.data())), 0u);
    ASSERT_EQ(t->WriteImage(0, reinterpret_cast<uint8_t*>(empty.data()), true, {}, &recno), 0u);
    t.reset();
    std::string out = Python(dir_, R"(
from dbfread import DBF
for r in DBF('emp.dbf', encoding='cp1252', char_decode_errors='strict', load=True):
    print('|'.join(repr(v) for v in r.values()))
for r in DBF('emp.dbf', encoding='cp1252', load=True).deleted:
    print('deleted', r['ID'])
)");
    EXPECT_EQ(out,
              "'Müller'|1234.5|datetime.date(2001, 9, 15)|True|'two\\nlines'|"
              "b'\\x89PNG\\x00\\x01'|0.25|-7|Decimal('99.125')|"
              "datetime.datetime(2000, 1, 1, 12, 34, 56, 789000)|1\n"
              "deleted 2\n");
}

// Memos of both xBase kinds (FPT beside CDX tables, DBT beside NTX ones) as python3-dbfread reads
// them after the edits a payroll run makes: values across block boundaries, memos replaced by
// longer and shorter ones and emptied, a record deleted and the table packed.
TEST_F(DbfInterop, DbfreadReadsMemosAfterEditsAndPackOnBothKinds) {
    auto U = [](const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); };
    auto text = [](size_t length, char first) {
        std::string s;
        for (size_t i = 0; i < length; ++i) s += i % 61 == 60 ? '\n' : char(first + i % 23);
        return s;
    };
    KDSHANDLE conn = 0;
    ASSERT_EQ(KdsConnect(U(dir_), &conn), 0u);
    for (UNSIGNED16 type : {UNSIGNED16(KCE_CDX), UNSIGNED16(KCE_NTX)}) {
        const std::string name = type == KCE_CDX ? "foxmemo" : "dbmemo";
        SCOPED_TRACE(name);
        KDSHANDLE t = 0;
        ASSERT_EQ(KdsCreateTable(conn, U(name), type, KCE_ANSI, U("NAME,char,8;NOTE,memo"), 0, &t),
                  0u)
            << kce::LastText();
        // NAME -> the memo it holds at the end; a record named DROP is deleted and packed away.
        std::vector<std::pair<std::string, std::string>> rows = {
            {"ONE", text(1, 'a')},    {"B511", text(511, 'b')}, {"B512", text(512, 'c')},
            {"DROP", text(700, 'd')}, {"B513", text(513, 'e')}, {"LONG", text(3000, 'f')},
        };
        auto write = [&](const std::string& field, const std::string& value) {
            return KdsSetField(t, U(field), U(value), UNSIGNED32(value.size()));
        };
        for (const auto& [n, memo] : rows) {
            ASSERT_EQ(KdsAppendRecord(t), 0u);
            ASSERT_EQ(write("NAME", n), 0u);
            ASSERT_EQ(write("NOTE", memo), 0u);
            ASSERT_EQ(KdsWriteRecord(t), 0u) << kce::LastText();
        }
        // Record 1 grows past a block, record 2 shrinks, record 3 is emptied, DROP goes.
        const std::pair<UNSIGNED32, std::string> edits[] = {
            {1, text(5000, 'g')}, {2, "short"}, {3, ""}};
        for (const auto& [recno, memo] : edits) {
            ASSERT_EQ(KdsGotoRecord(t, recno), 0u);
            ASSERT_EQ(memo.empty() ? KdsSetEmpty(t, U("NOTE")) : write("NOTE", memo), 0u);
            ASSERT_EQ(KdsWriteRecord(t), 0u) << kce::LastText();
            rows[recno - 1].second = memo;
        }
        ASSERT_EQ(KdsGotoRecord(t, 4), 0u);
        ASSERT_EQ(KdsDeleteRecord(t), 0u);
        ASSERT_EQ(KdsPackTable(t), 0u) << kce::LastText();
        ASSERT_EQ(KdsCloseTable(t), 0u);
        rows.erase(rows.begin() + 3);
        std::string expected;
        for (const auto& [n, memo] : rows) {
            std::ofstream(PathOf(name + "." + n), std::ios::binary) << memo;
            expected += n + " ok\n";
        }
        EXPECT_EQ(Python(dir_,
                         "from dbfread import DBF\n"
                         "for r in DBF('" +
                             name +
                             ".dbf', encoding='cp1252', load=True):\n"
                             "    want = open('" +
                             name +
                             ".' + r['NAME'], encoding='cp1252',\n"
                             "                newline='').read()\n"
                             "    print(r['NAME'], 'ok' if (r['NOTE'] or '') == want else\n"
                             "          'reads %d chars, not %d' % (len(r['NOTE'] or ''),\n"
                             "          len(want)))\n"),
                  expected);
    }
    KdsDisconnect(conn);
}

TEST_F(DbfInterop, EngineReadsFoxProTablesWrittenByPythonDbf) {
    Python(dir_, R"(
import dbf, datetime
t = dbf.Table('fp.dbf', 'name C(10); note M; amount N(8,2); born D; ok L', dbf_type='fp')
t.open(dbf.READ_WRITE)
t.append(('Ann', 'a note\nline 2', 12.5, datetime.date(2001, 9, 15), True))
t.append(('Bob', 'b' * 700, None, None, None))
t.close()
t = dbf.Table('vfp.dbf', 'name C(10); note M; i I; b B; y Y; ts T', dbf_type='vfp')
t.open(dbf.READ_WRITE)
t.append(('Cy', 'x' * 300, 42, 1.25, 3.5, datetime.datetime(2020, 1, 2, 3, 4, 5)))
t.close()
)");
    auto fp = Open("fp.dbf");
    ASSERT_TRUE(fp);
    EXPECT_EQ(Row(*fp, 1), "Ann|a note\nline 2|   12.50|20010915|T");
    EXPECT_EQ(Row(*fp, 2), "Bob|" + std::string(700, 'b') + "|null|null|null");
    auto vfp = Open("vfp.dbf");
    ASSERT_TRUE(vfp);
    EXPECT_EQ(Row(*vfp, 1), "Cy|" + std::string(300, 'x') + "|42|1.250000|3.5000|2458851+11045000");
}

// Other writers leave padding after the end marker: 0x1A bytes or zeros, here four records'
// worth. The table holds the records its header counts, as dbfread says; the check names the
// padding and the count it chose; a repair cuts the padding off.
TEST_F(DbfInterop, PaddingAfterTheEndMarkerIsNotRecords) {
    for (const char* pad : {"0x1A", "0x00"}) {
        SCOPED_TRACE(pad);
        Python(dir_, std::string(R"(
import dbf
t = dbf.Table('pad.dbf', 'name C(8); n N(3,0)', dbf_type='db3')
t.open(dbf.READ_WRITE)
for i in range(1, 7):
    t.append(('r%d' % i, i))
t.close()
with open('pad.dbf', 'ab') as f:
    f.write(bytes([)") + pad +
                         R"(]) * (4 * 12))
)");
        EXPECT_EQ(Python(dir_, "import dbfread\nprint(len(list(dbfread.DBF('pad.dbf'))))\n"),
                  "6\n");
        {
            auto t = Open("pad.dbf");
            ASSERT_TRUE(t);
            EXPECT_EQ(t->RecordCount(), 6u);
            EXPECT_EQ(Row(*t, 6), "r6|  6");
            std::vector<std::string> problems;
            ASSERT_EQ(t->Check(&problems), 0u);
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_NE(problems[0].find("padding"), std::string::npos) << problems[0];
            EXPECT_NE(problems[0].find("the table holds 6, as the header says"), std::string::npos)
                << problems[0];
        }
        std::unique_ptr<DbfTable> t;
        ASSERT_EQ(DbfTable::Open(PathOf("pad.dbf"), false, &t), 0u) << kce::LastText();
        ASSERT_EQ(t->Repair(), 0u) << kce::LastText();
        std::vector<std::string> problems;
        ASSERT_EQ(t->Check(&problems), 0u);
        EXPECT_TRUE(problems.empty()) << problems[0];
        EXPECT_EQ(t->RecordCount(), 6u);
        std::filesystem::remove(PathOf("pad.dbf"));
    }
}

// A new record of a Visual FoxPro table whose fields can be null: the engine's own cleared image,
// written back field by field as a program does, is taken, and every field left so is stored as
// null (python3-dbf reads its Null).
TEST_F(DbfInterop, ClearedImageOfNullableFieldsWritesBackAsNull) {
    Python(dir_, R"(
import dbf
t = dbf.Table('nul.dbf',
    'NAME C(6) NULL; QTY N(5,0) NULL; AMT F(8,2) NULL; SEEN T NULL; AGE I NULL; PAY Y NULL;'
    ' RATE B NULL; BORN D NULL; OK L NULL', dbf_type='vfp')
t.close()
)");
    auto u = [](const char* s) { return reinterpret_cast<const UNSIGNED8*>(s); };
    KDSHANDLE connection = 0, table = 0;
    ASSERT_EQ(KdsConnect(u(dir_.c_str()), &connection), 0u) << kce::LastText();
    ASSERT_EQ(KdsOpenTable(connection, u("nul.dbf"), nullptr, KCE_CDX, KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &table),
              0u)
        << kce::LastText();
    UNSIGNED32 length = 0;
    ASSERT_EQ(KdsGetRecordLength(table, &length), 0u);
    std::vector<UNSIGNED8> image(length);
    UNSIGNED16 fields = 0;
    ASSERT_EQ(KdsGetNumFields(table, &fields), 0u);
    for (int record = 0; record < 2; ++record) {
        ASSERT_EQ(KdsAppendRecord(table), 0u) << kce::LastText();
        ASSERT_EQ(KdsClearRecordBuffer(table, image.data(), length), 0u) << kce::LastText();
        for (UNSIGNED16 n = 1; n <= fields; ++n) {
            UNSIGNED32 offset = 0, size = 0;
            ASSERT_EQ(KdsGetFieldOffset(table, KCE_FIELD_ORDINAL(n), &offset), 0u);
            ASSERT_EQ(KdsGetFieldLength(table, KCE_FIELD_ORDINAL(n), &size), 0u);
            EXPECT_EQ(KdsSetFieldRaw(table, KCE_FIELD_ORDINAL(n), image.data() + offset, size), 0u)
                << "field " << n << ": " << kce::LastText();
        }
        if (record == 1) {
            ASSERT_EQ(KdsSetField(table, u("NAME"), u("bo"), 2), 0u);
        }
        ASSERT_EQ(KdsWriteRecord(table), 0u) << kce::LastText();
    }
    KdsCloseTable(table);
    KdsDisconnect(connection);
    EXPECT_EQ(Python(dir_, R"(
import dbf
t = dbf.Table('nul.dbf')
t.open(dbf.READ_ONLY)
for r in t:
    print('|'.join('null' if v is dbf.Null else str(v).strip() for v in r))
t.close()
)"),
              "null|null|null|null|null|null|null|null|null\n"
              "bo|null|null|null|null|null|null|null|null\n");
}

TEST_F(DbfInterop, EngineReadsTablesWrittenByOgr2ogr) {
    Write("in.csv", "name,count,price,day\nAnn,3,1.5,2020-01-02\nBob,,,\n");
    RunCommand("cd " + dir_ +
               " && ogr2ogr -f 'ESRI Shapefile' out.dbf in.csv -oo AUTODETECT_TYPE=YES 2>&1");
    auto t = Open("out.dbf");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->CodePage(), 0x57);
    ASSERT_EQ(t->RecordCount(), 2u);
    EXPECT_EQ(Row(*t, 1), "Ann|        3|       1.500000000000000|20200102");
    EXPECT_EQ(Row(*t, 2), "Bob|null|null|null");
}

}  // namespace
