// Data dictionaries: logins, tables opened by bare name with their index files, the default-index
// property, object searches, and a file that holds no password.
#include <sqlite3.h>

#include <fstream>
#include <iterator>

#include "engine_test_util.h"

using namespace kcetest;

namespace {

class DictionaryTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        dict_ = Path("Payroll.kdd");
        ASSERT_EQ(KdsDDCreate(U(dict_)), 0u) << LastErrorText();
        ASSERT_EQ(KdsDDAddUser(U(dict_), U("clerk"), U("Plum-Tree-81")), 0u) << LastErrorText();
    }

    KDSHANDLE Login(const char* user, const char* password, KCESTATUS expected = 0) {
        KDSHANDLE c = 0;
        EXPECT_EQ(KdsConnect60(U(dict_), KCE_LOCAL_SERVER, U(user), U(password), 0, &c), expected)
            << LastErrorText();
        return c;
    }

    static std::vector<std::string> Objects(KDSHANDLE c) {
        std::vector<std::string> names;
        UNSIGNED8 name[200];
        UNSIGNED16 len = sizeof name;
        KDSHANDLE search = 0;
        KCESTATUS s = KdsDDFindFirstObject(c, KCE_DD_TABLE_OBJECT, nullptr, name, &len, &search);
        while (s == 0) {
            names.emplace_back(reinterpret_cast<char*>(name), len);
            len = sizeof name;
            s = KdsDDFindNextObject(search, name, &len);
        }
        EXPECT_EQ(s, KCE_NO_MORE_OBJECTS);
        if (search) {
            EXPECT_EQ(KdsDDFindClose(search), 0u);
        }
        return names;
    }

    std::string dict_;
};

TEST_F(DictionaryTest, LoginNeedsAUserAndItsExactPassword) {
    KDSHANDLE c = Login("CLERK", "Plum-Tree-81");  // user names ignore letter case
    ASSERT_NE(c, 0u);
    UNSIGNED16 type = 0;
    ASSERT_EQ(KdsGetHandleType(c, &type), 0u);
    EXPECT_EQ(type, KCE_HANDLE_CONNECTION);
    EXPECT_EQ(KdsDisconnect(c), 0u);

    struct Case {
        const char* user;
        const char* password;
    } refused[] = {{"clerk", "plum-tree-81"}, {"clerk", ""}, {"nobody", "Plum-Tree-81"}, {"", ""}};
    for (const Case& k : refused) {
        EXPECT_EQ(Login(k.user, k.password, KCE_LOGIN_FAILED), 0u) << k.user << "/" << k.password;
        std::string text = LastErrorText();
        EXPECT_NE(text.find("user name or password is not valid"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("user '") + k.user + "'"), std::string::npos) << text;
        if (*k.password) {
            EXPECT_EQ(text.find(k.password), std::string::npos) << text;
        }
    }

    // A dropped user cannot log in; a second user with the same name is refused.
    EXPECT_EQ(KdsDDAddUser(U(dict_), U("Clerk"), U("x")), KCE_USER_EXISTS);
    ASSERT_EQ(KdsDDAddUser(U(dict_), U("boss"), U("")), 0u);
    KdsDisconnect(Login("boss", ""));
    ASSERT_EQ(KdsDDDropUser(U(dict_), U("CLERK")), 0u);
    Login("clerk", "Plum-Tree-81", KCE_LOGIN_FAILED);
    EXPECT_EQ(KdsDDDropUser(U(dict_), U("clerk")), KCE_USER_NOT_FOUND);
    EXPECT_EQ(KdsDDAddUser(U(dict_), U(std::string(32, 'u')), U("x")), KCE_INVALID_USER_NAME);

    // Not a dictionary, no file, a dictionary that exists already.
    std::ofstream(Path("fake.kdd")) << "not a database, just text";
    KDSHANDLE f = 0;
    EXPECT_EQ(KdsConnect60(U(Path("fake.kdd")), 1, U("a"), U("b"), 0, &f), KCE_NOT_A_DICTIONARY);
    EXPECT_EQ(KdsConnect60(U(Path("none.kdd")), 1, U("a"), U("b"), 0, &f), KCE_FILE_NOT_FOUND);
    EXPECT_EQ(KdsDDCreate(U(dict_)), KCE_DICTIONARY_EXISTS);
}

TEST_F(DictionaryTest, FileHoldsNoPassword) {
    ASSERT_EQ(KdsDDAddUser(U(dict_), U("second"), U("Plum-Tree-81")), 0u);
    std::ifstream in(dict_, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.find("Plum-Tree-81"), std::string::npos);
    EXPECT_NE(bytes.find("clerk"), std::string::npos);
    // Salted: the same password gives two different hashes.
    size_t first = bytes.find("$argon2id$");
    ASSERT_NE(first, std::string::npos);
    size_t second = bytes.find("$argon2id$", first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(bytes.substr(first, 90), bytes.substr(second, 90));
}

TEST_F(DictionaryTest, OpensItsTablesByBareNameWithTheirIndexFiles) {
    // A native table in a subfolder and an NTX table whose index file the dictionary lists.
    std::filesystem::create_directory(Path("data"));
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("data/emp.kdt"), KCE_KDT, KCE_ANSI,
                             U("NO,integer;NAME,char,10"), 0, &t),
              0u)
        << LastErrorText();
    for (const char* name : {"b", "a"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t), 0u);
    }
    KdsCloseTable(t);
    ASSERT_EQ(KdsCreateTable(conn_, U("dept.dbf"), KCE_NTX, KCE_ANSI, U("CODE,char,4"), 0, &t), 0u)
        << LastErrorText();
    KDSHANDLE idx = 0;
    ASSERT_EQ(KdsCreateIndex(t, U("deptcode.ntx"), U("DEPTCODE"), U("CODE"), nullptr, 0, &idx), 0u)
        << LastErrorText();
    KdsCloseTable(t);

    ASSERT_EQ(KdsDDAddTable(U(dict_), U("EMPLOYEE"), U("data/emp.kdt"), 0, nullptr), 0u)
        << LastErrorText();
    ASSERT_EQ(KdsDDAddTable(U(dict_), U("Dept"), U("dept.dbf"), KCE_NTX, U("deptcode.ntx")), 0u)
        << LastErrorText();
    EXPECT_EQ(KdsDDAddTable(U(dict_), U("employee"), U("dept.dbf"), 0, nullptr),
              KCE_DICTIONARY_TABLE_EXISTS);
    EXPECT_EQ(KdsDDAddTable(U(dict_), U("GONE"), U("gone.kdt"), 0, nullptr), KCE_FILE_NOT_FOUND);
    ASSERT_EQ(
        KdsDDSetTableProperty(U(dict_), U("employee"), KCE_DD_TABLE_DEFAULT_INDEX, U("BYNAME")),
        0u);
    EXPECT_EQ(KdsDDSetTableProperty(U(dict_), U("NOSUCH"), KCE_DD_TABLE_DEFAULT_INDEX, U("X")),
              KCE_TABLE_NOT_FOUND);

    KDSHANDLE c = Login("clerk", "Plum-Tree-81");
    ASSERT_NE(c, 0u);
    EXPECT_EQ(Objects(c), (std::vector<std::string>{"Dept", "EMPLOYEE"}));

    // The table type given is ignored: the dictionary's own counts.
    KDSHANDLE e = 0;
    ASSERT_EQ(KdsOpenTable(c, U("employee"), nullptr, KCE_CDX, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &e),
              0u)
        << LastErrorText();
    UNSIGNED16 type = 0;
    ASSERT_EQ(KdsGetTableType(e, &type), 0u);
    EXPECT_EQ(type, KCE_KDT);
    EXPECT_EQ(Count(e), 2u);
    KDSHANDLE d = 0;
    ASSERT_EQ(KdsOpenTable(c, U("DEPT"), nullptr, 0, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &d),
              0u)
        << LastErrorText();
    ASSERT_EQ(KdsGetTableType(d, &type), 0u);
    EXPECT_EQ(type, KCE_NTX);
    EXPECT_EQ(KdsGetIndexHandle(d, U("DEPTCODE"), &idx), 0u) << LastErrorText();

    // A name the dictionary does not hold: 5132. A path opens the free table beside it.
    KDSHANDLE free = 0;
    EXPECT_EQ(KdsOpenTable(c, U("emp"), nullptr, 0, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &free),
              KCE_TABLE_NOT_FOUND);
    EXPECT_NE(LastErrorText().find("'emp' is not in dictionary"), std::string::npos);
    ASSERT_EQ(KdsOpenTable(c, U(Path("data") + "\\emp"), nullptr, 0, KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &free),
              0u)
        << LastErrorText();
    EXPECT_EQ(Count(free), 2u);

    // Default index: set on one table, missing on the other, unknown tables and properties.
    UNSIGNED8 buf[200];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsDDGetTableProperty(c, U("Employee"), KCE_DD_TABLE_DEFAULT_INDEX, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "BYNAME");
    len = sizeof buf;
    EXPECT_EQ(KdsDDGetTableProperty(c, U("DEPT"), KCE_DD_TABLE_DEFAULT_INDEX, buf, &len),
              KCE_NO_PROPERTY);
    EXPECT_EQ(KdsDDGetTableProperty(c, U("NOSUCH"), KCE_DD_TABLE_DEFAULT_INDEX, buf, &len),
              KCE_TABLE_NOT_FOUND);
    EXPECT_EQ(KdsDDGetTableProperty(c, U("DEPT"), 1, buf, &len), KCE_UNKNOWN_PROPERTY);
    EXPECT_EQ(KdsDDGetTableProperty(conn_, U("DEPT"), KCE_DD_TABLE_DEFAULT_INDEX, buf, &len),
              KCE_NOT_DICTIONARY_CONNECTION);
    ASSERT_EQ(KdsDDSetTableProperty(U(dict_), U("employee"), KCE_DD_TABLE_DEFAULT_INDEX, U("")),
              0u);
    EXPECT_EQ(KdsDDGetTableProperty(c, U("Employee"), KCE_DD_TABLE_DEFAULT_INDEX, buf, &len),
              KCE_NO_PROPERTY);

    // An empty table-search pattern lists the dictionary's tables too.
    len = sizeof buf;
    KDSHANDLE search = 0;
    ASSERT_EQ(KdsFindFirstTable(c, U(""), buf, &len, &search), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "Dept");
    KdsFindClose(search);
    EXPECT_EQ(KdsDisconnect(c), 0u);
}

TEST_F(DictionaryTest, SearchesOfAnEmptyDictionaryAndWrongArguments) {
    KDSHANDLE c = Login("clerk", "Plum-Tree-81");
    EXPECT_TRUE(Objects(c).empty());
    UNSIGNED8 buf[200];
    UNSIGNED16 len = sizeof buf;
    KDSHANDLE search = 7;
    EXPECT_EQ(KdsDDFindFirstObject(c, 11, nullptr, buf, &len, &search), KCE_UNKNOWN_OBJECT_TYPE);
    EXPECT_EQ(search, 0u);
    EXPECT_EQ(KdsDDFindFirstObject(conn_, KCE_DD_TABLE_OBJECT, nullptr, buf, &len, &search),
              KCE_NOT_DICTIONARY_CONNECTION);
    KdsDisconnect(c);
}

// A dictionary file changed by hand or damaged: a hash naming a huge cost (which verifying would
// run), one that is no hash, tables of the wrong shape. Each gives a status, at once.
TEST_F(DictionaryTest, DamagedContentIsRefusedWithAStatus) {
    auto sql = [&](const std::string& statement) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dict_.c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    };
    const char* hashes[] = {
        "$argon2id$v=19$m=4194304,t=2,p=1$c2FsdHNhbHRzYWx0$aGFzaGhhc2hoYXNoaGFzaA",
        "$argon2id$v=19$m=65536,t=4000000000,p=1$c2FsdHNhbHRzYWx0$aGFzaGhhc2hoYXNoaGFzaA",
        "not a hash",
        "",
    };
    for (const char* hash : hashes) {
        sql(std::string("UPDATE kdd_users SET password_hash = '") + hash + "'");
        Login("clerk", "Plum-Tree-81", KCE_LOGIN_FAILED);
    }

    // Tables whose rows or shape are not what the engine writes.
    sql("INSERT INTO kdd_tables VALUES('ODD', '', 99)");
    std::ofstream(Path("t.kdt")) << "x";
    sql("INSERT INTO kdd_tables VALUES('NOKIND', 't.kdt', 0)");
    ASSERT_EQ(KdsDDAddUser(U(dict_), U("boss"), U("b")), 0u);
    KDSHANDLE c = Login("boss", "b");
    ASSERT_NE(c, 0u);
    for (const char* name : {"ODD", "NOKIND"}) {
        KDSHANDLE t = 0;
        EXPECT_NE(KdsOpenTable(c, U(name), nullptr, 0, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                               KCE_CHECK_RIGHTS, 0, &t),
                  0u)
            << name;
        EXPECT_EQ(t, 0u);
    }
    sql("DROP TABLE kdd_table_properties; DROP TABLE kdd_tables");
    UNSIGNED8 buf[200];
    UNSIGNED16 len = sizeof buf;
    KDSHANDLE search = 0;
    EXPECT_NE(KdsDDGetTableProperty(c, U("ODD"), KCE_DD_TABLE_DEFAULT_INDEX, buf, &len), 0u);
    EXPECT_NE(KdsDDFindFirstObject(c, KCE_DD_TABLE_OBJECT, nullptr, buf, &len, &search), 0u);
    EXPECT_EQ(search, 0u);
    KdsDisconnect(c);
}

}  // namespace
