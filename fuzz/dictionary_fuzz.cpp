// Hostile dictionary content: a dictionary file whose rows were written by hand. The input is up
// to six values separated by line feeds: a user's stored password hash, a table's file, its type,
// one of its index files, its default index, and a password to log in with. Logging in, opening
// the table by its bare name, reading its property and listing the tables must give statuses,
// never a crash or a hang.
#include <sodium.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "fuzz/fuzz_files.h"

namespace {

const UNSIGNED8* U(const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); }

// A user whose hash is cheap to check, so that every input reaches the table calls.
const std::string& CheapHash() {
    static const std::string hash = [] {
        char out[crypto_pwhash_STRBYTES] = {};
        if (sodium_init() < 0 || crypto_pwhash_str(out, "pw", 2, crypto_pwhash_OPSLIMIT_MIN,
                                                   crypto_pwhash_MEMLIMIT_MIN) != 0)
            std::abort();
        return std::string(out);
    }();
    return hash;
}

void Bind(sqlite3_stmt* st, int i, const std::string& text) {
    sqlite3_bind_text(st, i, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> v(6);
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' && part + 1 < v.size()) {
            ++part;
        } else {
            v[part] += char(data[i]);
        }
    }
    const std::string folder = fuzzfiles::Folder("dictionary_fuzz");
    const std::string dict = folder + "/d.kdd";
    ::unlink(dict.c_str());
    fuzzfiles::Put(folder + "/t.kdt", nullptr, 0);
    if (KdsDDCreate(U(dict)) != 0) return 0;

    sqlite3* db = nullptr;
    if (sqlite3_open(dict.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return 0;
    }
    const char* rows[] = {
        "INSERT INTO kdd_users VALUES('u', ?1)",
        "INSERT INTO kdd_users VALUES('ok', ?1)",
        "INSERT INTO kdd_tables VALUES('T', ?1, ?2)",
        "INSERT INTO kdd_table_indexes VALUES('T', 1, ?1)",
        "INSERT INTO kdd_table_properties VALUES('T', 213, ?1)",
    };
    for (int r = 0; r < 5; ++r) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, rows[r], -1, &st, nullptr) != SQLITE_OK) continue;
        switch (r) {
            case 0:
                Bind(st, 1, v[0]);
                break;
            case 1:
                Bind(st, 1, CheapHash());
                break;
            case 2:
                Bind(st, 1, v[1]);
                sqlite3_bind_int64(st, 2, std::atoll(v[2].c_str()));
                break;
            case 3:
                Bind(st, 1, v[3]);
                break;
            case 4:
                Bind(st, 1, v[4]);
                break;
        }
        sqlite3_step(st);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);

    KDSHANDLE c = 0;
    if (KdsConnect60(U(dict), KCE_LOCAL_SERVER, U("u"), U(v[5]), 0, &c) == 0) KdsDisconnect(c);
    c = 0;
    if (KdsConnect60(U(dict), KCE_LOCAL_SERVER, U("ok"), U("pw"), 0, &c) != 0) return 0;
    KDSHANDLE t = 0;
    if (KdsOpenTable(c, U("T"), nullptr, 0, KCE_ANSI, KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS,
                     KCE_OPEN_READ_ONLY, &t) == 0) {
        UNSIGNED8 name[200];
        UNSIGNED16 len = sizeof name;
        KDSHANDLE order = 0;
        if (KdsDDGetTableProperty(c, U("T"), KCE_DD_TABLE_DEFAULT_INDEX, name, &len) == 0)
            KdsGetIndexHandle(t, U(std::string(reinterpret_cast<char*>(name), len)), &order);
        KdsCloseTable(t);
    }
    UNSIGNED8 name[200];
    UNSIGNED16 len = sizeof name;
    KDSHANDLE search = 0;
    KCESTATUS s = KdsDDFindFirstObject(c, KCE_DD_TABLE_OBJECT, nullptr, name, &len, &search);
    while (s == 0) {
        len = sizeof name;
        s = KdsDDFindNextObject(search, name, &len);
    }
    if (search) KdsDDFindClose(search);
    KdsDisconnect(c);
    return 0;
}
