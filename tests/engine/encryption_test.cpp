// Encrypted native tables, on real files: what the password opens, what the file shows without
// it, and what a changed byte does.
#include <sqlite3.h>

#include <fstream>
#include <iterator>

#include "engine_test_util.h"

using namespace kcetest;

namespace {

const char kEveryType[] =
    "FLAG,logical;NUM,numeric,12,3;BORN,date;NAME,char,24;NOTE,memo;BIN,binary;PIC,image;"
    "VAR,varchar;CDATE,compactdate;DBL,double;INT,integer;SHORT,shortint;TM,time;TS,timestamp;"
    "ID,autoinc;RAWF,raw,6;PAY,money";

// One record's values by field, as KdsSetField takes them (a missing field stays empty).
using Values = std::vector<std::pair<const char*, std::string>>;

const Values kFirst = {
    {"FLAG", "T"},
    {"NUM", "-1234.567"},
    {"BORN", "1961-02-28"},
    {"NAME", "ZEBRA-HOLLOWAY"},
    {"NOTE", "MEMO-SECRET line\r\nsecond line"},
    {"BIN", std::string("BLOB-SECRET\0\x01\xff", 14)},
    {"PIC", "IMAGE-SECRET"},
    {"VAR", "VARCHAR-SECRET"},
    {"CDATE", "2024-12-31"},
    {"DBL", "8704.23"},
    {"INT", "-2147483647"},
    {"SHORT", "32767"},
    {"TM", "23:59:59.999"},
    {"TS", "2001-09-09T01:46:40.123"},
    {"RAWF", "RAWSEC"},
    {"PAY", "922337203685.4775"},
};
const Values kSecond = {{"NAME", "QUAGGA-PETTIBONE"}, {"INT", "4711"}};

class EncryptionTest : public EngineTest {
  protected:
    // The date format is the process's: the other tests get theirs back.
    void SetUp() override {
        EngineTest::SetUp();
        UNSIGNED8 format[64] = {};
        UNSIGNED16 len = sizeof format - 1;
        ASSERT_EQ(KdsGetDateFormat(format, &len), 0u);
        savedFormat_.assign(reinterpret_cast<char*>(format), len);
        ASSERT_EQ(KdsSetDateFormat(U("ccyy-MM-dd")), 0u);
    }
    void TearDown() override {
        KdsSetDateFormat(U(savedFormat_));
        EngineTest::TearDown();
    }
    std::string savedFormat_;

    void Append(KDSHANDLE t, const Values& values) {
        ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
        for (const auto& [field, value] : values) Set(t, field, value);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }

    // Every field of every record, as text, in record order.
    static std::vector<std::string> Texts(KDSHANDLE t) {
        std::vector<std::string> out;
        UNSIGNED16 fields = 0;
        KdsGetNumFields(t, &fields);
        EXPECT_EQ(KdsGotoTop(t), 0u) << LastErrorText();
        while (!Eof(t)) {
            for (UNSIGNED16 i = 1; i <= fields; ++i) {
                UNSIGNED8 name[130];
                UNSIGNED16 len = sizeof name;
                KdsGetFieldName(t, i, name, &len);
                out.push_back(Field(t, reinterpret_cast<char*>(name)));
            }
            EXPECT_EQ(KdsSkip(t, 1), 0u) << LastErrorText();
        }
        return out;
    }

    std::string FileBytes(const std::string& name) const {
        std::string bytes;
        for (const char* suffix : {"", "-wal", "-journal"}) {
            std::ifstream in(Path(name) + suffix, std::ios::binary);
            bytes.append(std::istreambuf_iterator<char>(in), {});
        }
        return bytes;
    }

    // Runs SQL on the table file behind the engine's back.
    void Tamper(const std::string& name, const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path(name).c_str(), &db), SQLITE_OK);
        char* err = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK)
            << (err ? err : "");
        sqlite3_free(err);
        sqlite3_close(db);
    }

    KDSHANDLE MakeEncrypted(const std::string& name, const char* password) {
        KDSHANDLE t = Create(name, kEveryType);
        Append(t, kFirst);
        Append(t, kSecond);
        EXPECT_EQ(KdsEncryptTable(t, U(password)), 0u) << LastErrorText();
        return t;
    }
};

// Encrypting and decrypting give back every value of every type; without the password the
// layout and the count are there, the values are not, and nothing can be written.
TEST_F(EncryptionTest, EveryTypeSurvivesEncryptAndDecrypt) {
    KDSHANDLE t = Create("EMP", kEveryType);
    Append(t, kFirst);
    Append(t, kSecond);
    const std::vector<std::string> plain = Texts(t);
    ASSERT_EQ(plain[3], "ZEBRA-HOLLOWAY");
    ASSERT_EQ(plain[5], kFirst[5].second);
    UNSIGNED16 encrypted = 1;
    ASSERT_EQ(KdsIsTableEncrypted(t, &encrypted), 0u);
    EXPECT_EQ(encrypted, 0);
    ASSERT_EQ(KdsEncryptTable(t, U("KRALD4729")), 0u) << LastErrorText();
    ASSERT_EQ(KdsIsTableEncrypted(t, &encrypted), 0u);
    EXPECT_EQ(encrypted, 1);
    EXPECT_EQ(Texts(t), plain);
    EXPECT_EQ(KdsEncryptTable(t, U("KRALD4729")), KCE_ALREADY_ENCRYPTED);
    ASSERT_EQ(KdsCloseTable(t), 0u);

    t = Open("EMP");
    EXPECT_EQ(Count(t), 2u);
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_EQ(Field(t, "NAME"), "");
    EXPECT_EQ(Field(t, "NOTE"), "");
    EXPECT_EQ(Field(t, "BIN"), "");
    EXPECT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "INTRUDER");
    EXPECT_EQ(KdsWriteRecord(t), KCE_PASSWORD_REQUIRED);
    KdsCancelUpdate(t);
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_EQ(KdsDeleteRecord(t), KCE_PASSWORD_REQUIRED);
    EXPECT_EQ(KdsEnableEncryption(t, U("krald4729")), KCE_WRONG_PASSWORD);
    EXPECT_NE(LastErrorText().find("password"), std::string::npos) << LastErrorText();
    EXPECT_EQ(KdsEnableEncryption(t, U("KRALD4729")), 0u) << LastErrorText();
    EXPECT_EQ(Texts(t), plain);
    // A wrong password later changes nothing of what the right one opened.
    EXPECT_EQ(KdsEnableEncryption(t, U("wrong")), KCE_WRONG_PASSWORD);
    EXPECT_EQ(Texts(t), plain);
    EXPECT_EQ(KdsDecryptTable(t, U("KRALD4729")), KCE_NOT_EXCLUSIVE);
    ASSERT_EQ(KdsCloseTable(t), 0u);

    t = Open("EMP", KCE_OPEN_EXCLUSIVE);
    EXPECT_EQ(KdsDecryptTable(t, U("nope")), KCE_WRONG_PASSWORD);
    ASSERT_EQ(KdsDecryptTable(t, U("KRALD4729")), 0u) << LastErrorText();
    EXPECT_EQ(Texts(t), plain);
    // Plain again: every tool reads it, and any password is taken.
    EXPECT_NE(FileBytes("EMP.kdt").find("ZEBRA-HOLLOWAY"), std::string::npos);
    EXPECT_EQ(KdsEnableEncryption(t, U("anything")), 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

// Without the password nothing of a record's values is in the files: not the records, the memo
// and blob values, nor the index keys; also after records written once the password was given.
TEST_F(EncryptionTest, TheFilesHoldNoValue) {
    KDSHANDLE t = Create("EMP", kEveryType);
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("NAME"), nullptr, KCE_INDEX_UNIQUE, &index),
              0u)
        << LastErrorText();
    Append(t, kFirst);
    Append(t, kSecond);
    ASSERT_EQ(KdsEncryptTable(t, U("KRALD4729")), 0u) << LastErrorText();
    Append(t, {{"NAME", "OKAPI-WEATHERBY"}, {"NOTE", "LATER-MEMO-SECRET"}});
    ASSERT_EQ(KdsCloseTable(t), 0u);
    const std::string bytes = FileBytes("EMP.kdt");
    for (const char* value : {"ZEBRA", "QUAGGA", "OKAPI", "MEMO-SECRET", "BLOB-SECRET",
                              "IMAGE-SECRET", "VARCHAR-SECRET", "RAWSEC", "1961-02-28", "8704"}) {
        EXPECT_EQ(bytes.find(value), std::string::npos) << value;
    }
    // The layout stays readable.
    EXPECT_NE(bytes.find("BYNAME"), std::string::npos);
    EXPECT_NE(bytes.find("NAME"), std::string::npos);

    // The index works once the password is given, from the records, in this process.
    t = Open("EMP");
    ASSERT_EQ(KdsGetIndexHandle(t, U("BYNAME"), &index), 0u);
    UNSIGNED16 found = 1;
    ASSERT_EQ(KdsSeek(index, U("QUAGGA"), 6, KCE_STRINGKEY, KCE_SOFTSEEK, &found), 0u);
    EXPECT_EQ(found, 0);
    ASSERT_EQ(KdsEnableEncryption(t, U("KRALD4729")), 0u) << LastErrorText();
    ASSERT_EQ(KdsSeek(index, U("QUAGGA"), 6, KCE_STRINGKEY, KCE_SOFTSEEK, &found), 0u);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(Field(t, "INT"), "4711");
    ASSERT_EQ(KdsGotoTop(index), 0u);
    EXPECT_EQ(Field(t, "NAME"), "OKAPI-WEATHERBY");
    // The unique index holds across the encrypted records.
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "ZEBRA-HOLLOWAY");
    EXPECT_EQ(KdsWriteRecord(t), KCE_DUPLICATE_KEY);
    KdsCancelUpdate(t);
    // An edit keeps the autoincrement value, moves the key, and reaches the file sealed.
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    const std::string id = Field(t, "ID");
    Set(t, "NAME", "ELAND-FARTHING");
    Set(t, "NOTE", "EDITED-MEMO");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsSeek(index, U("ELAND"), 5, KCE_STRINGKEY, KCE_SOFTSEEK, &found), 0u);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(Field(t, "ID"), id);
    EXPECT_EQ(Field(t, "NOTE"), "EDITED-MEMO");
    // An index file of its own would keep keys readable: refused.
    KDSHANDLE other = 0;
    EXPECT_EQ(KdsCreateIndex(t, U("EXTRA"), U("BYINT"), U("INT"), nullptr, 0, &other),
              KCE_ENCRYPTION_NOT_SUPPORTED);
    ASSERT_EQ(KdsCloseTable(t), 0u);
    const std::string edited = FileBytes("EMP.kdt");
    EXPECT_EQ(edited.find("ELAND"), std::string::npos);
    EXPECT_EQ(edited.find("EDITED-MEMO"), std::string::npos);
}

// A changed byte of a sealed value, or a sealed value moved to another record, is refused with
// its own status, and no part of the value reaches the caller.
TEST_F(EncryptionTest, TamperedValuesAreRefused) {
    struct Case {
        const char* what;
        const char* sql;
        const char* field;
    } cases[] = {
        {"image byte",
         "UPDATE records SET kdt_image = CAST(substr(kdt_image, 1, 40) || CASE WHEN "
         "substr(kdt_image, 41, 1) = x'00' THEN x'01' ELSE x'00' END || substr(kdt_image, 42) "
         "AS BLOB) WHERE kdt_recno = 1",
         "NAME"},
        {"images swapped",
         "UPDATE records SET kdt_image = (SELECT kdt_image FROM records r WHERE r.kdt_recno = "
         "3 - records.kdt_recno)",
         "NAME"},
        {"memo byte", "UPDATE records SET NOTE = zeroblob(length(NOTE)) WHERE kdt_recno = 1",
         "NOTE"},
        {"blob cut", "UPDATE records SET BIN = substr(BIN, 1, length(BIN) - 1) WHERE kdt_recno = 1",
         "BIN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(KdsCloseTable(MakeEncrypted("T", "pw")), 0u);
        Tamper("T.kdt", c.sql);
        KDSHANDLE t = Open("T");
        ASSERT_EQ(KdsEnableEncryption(t, U("pw")), 0u) << LastErrorText();
        std::vector<UNSIGNED8> buf(1000);
        UNSIGNED32 len = UNSIGNED32(buf.size());
        if (std::string(c.field) == "NAME") {
            // The record itself: refused where it is read, and its image stays empty.
            EXPECT_EQ(KdsGotoRecord(t, 1), KCE_TAMPERED);
            EXPECT_EQ(KdsGetField(t, U(c.field), buf.data(), &len, 0), 0u);
        } else {
            ASSERT_EQ(KdsGotoRecord(t, 1), 0u) << LastErrorText();
            EXPECT_EQ(KdsGetField(t, U(c.field), buf.data(), &len, 0), KCE_TAMPERED);
        }
        EXPECT_NE(LastErrorText().find("authentication"), std::string::npos) << LastErrorText();
        std::string got(reinterpret_cast<char*>(buf.data()), len);
        EXPECT_EQ(got.find("SECRET"), std::string::npos);
        EXPECT_EQ(got.find("ZEBRA"), std::string::npos);
        // The record the change did not touch still reads.
        if (std::string(c.what) != "images swapped") {
            ASSERT_EQ(KdsGotoRecord(t, 2), 0u) << LastErrorText();
            EXPECT_EQ(Field(t, "NAME"), "QUAGGA-PETTIBONE");
        }
        KdsCloseTable(t);
        std::filesystem::remove(Path("T.kdt"));
    }
}

// A file that asks for an unbounded key derivation is refused before any is tried.
TEST_F(EncryptionTest, HostileKeyParametersAreRefused) {
    for (const char* sql : {"UPDATE kdt_crypt SET value = 1099511627776 WHERE key = 'mem_limit'",
                            "UPDATE kdt_crypt SET value = 1000000 WHERE key = 'ops_limit'",
                            "UPDATE kdt_crypt SET value = x'00' WHERE key = 'salt'",
                            "DELETE FROM kdt_crypt WHERE key = 'check'"}) {
        SCOPED_TRACE(sql);
        ASSERT_EQ(KdsCloseTable(MakeEncrypted("H", "pw")), 0u);
        Tamper("H.kdt", sql);
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U("H"), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                               KCE_CHECK_RIGHTS, 0, &t),
                  KCE_DAMAGED_FILE);
        std::filesystem::remove(Path("H.kdt"));
    }
}

// DBF tables are never encrypted: other programs could not read them. The password call takes
// any password on them, as on a plain native table.
TEST_F(EncryptionTest, DbfTablesAreRefusedAndPlainTablesTakeAnyPassword) {
    EXPECT_EQ(KdsEnableEncryption(0, U("secret")), KCE_INVALID_HANDLE);
    EXPECT_EQ(KdsEnableEncryption(conn_, U("secret")), KCE_WRONG_HANDLE_TYPE);
    KDSHANDLE dbf = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("D.dbf"), KCE_CDX, KCE_ANSI, U("NAME,char,10"), 0, &dbf), 0u)
        << LastErrorText();
    EXPECT_EQ(KdsEncryptTable(dbf, U("pw")), KCE_ENCRYPTION_NOT_SUPPORTED);
    EXPECT_EQ(KdsEnableEncryption(dbf, U("pw")), 0u);
    EXPECT_EQ(KdsDecryptTable(dbf, U("pw")), KCE_NOT_ENCRYPTED);
    KdsCloseTable(dbf);

    KDSHANDLE t = Create("P", "A,integer");
    EXPECT_EQ(KdsEnableEncryption(t, U("secret")), 0u);
    Append(t, {{"A", "17"}});
    ASSERT_EQ(KdsCloseTable(t), 0u);
    t = Open("P");
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_EQ(Field(t, "A"), "17");
    KdsCloseTable(t);
}

}  // namespace
