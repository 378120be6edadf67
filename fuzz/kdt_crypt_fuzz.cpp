// Hostile values in an encrypted native table: the input replaces one sealed value of a real
// encrypted table (a record image, a memo or binary value, or a key parameter) behind the
// engine's back, or is sealed with the table's own key as a record image; reading the record,
// its blobs and every field's text, and reopening the table, must give statuses, never a crash,
// an unbounded allocation or a value half opened. The first input byte picks what is replaced.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/native/kdt_crypt.h"
#include "engine/native/kdt_storage.h"
#include "engine/storage.h"
#include "fuzz/fuzz_files.h"

namespace {

const char kPassword[] = "fuzz";

struct Fixture {
    std::string path;
    std::unique_ptr<kce::Storage> storage;
    sqlite3* db = nullptr;  // a second connection that changes the file
    std::unique_ptr<kce::native::TableKey> key;
};

void Abort(bool failed) {
    if (failed) std::abort();
}

Fixture& Table() {
    static Fixture f = [] {
        Fixture x;
        x.path = fuzzfiles::Folder("kdt_crypt_fuzz") + "/t.kdt";
        std::vector<kce::FieldSpec> specs = {{"C", 4, 8, 0}, {"M", 5, 0, 0}, {"B", 6, 0, 0},
                                             {"N", 2, 8, 2}, {"D", 3, 0, 0}, {"AI", 15, 0, 0}};
        Abort(kce::native::CreateKdt(x.path, specs, &x.storage) != 0);
        std::vector<uint8_t> image(x.storage->Layout().recordLength);
        x.storage->NullRecord(image.data());
        Abort(x.storage->FieldFromText(0, "secret", image.data()) != 0);
        kce::PendingBlobs blobs{{1, {false, "memo value"}}, {2, {false, std::string("\0\1", 2)}}};
        UNSIGNED32 recno = 0;
        Abort(x.storage->WriteRecord(&recno, true, image.data(), blobs) != 0);
        Abort(x.storage->Encrypt(kPassword) != 0);
        Abort(sqlite3_open(x.path.c_str(), &x.db) != SQLITE_OK);
        sqlite3_busy_timeout(x.db, 1000);
        kce::native::KeyParams params;
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(x.db, "SELECT key, value FROM kdt_crypt", -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string k = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            const void* v = sqlite3_column_blob(st, 1);
            if (k == "salt") params.salt.assign(static_cast<const char*>(v), 16);
            if (k == "ops_limit") params.opsLimit = uint64_t(sqlite3_column_int64(st, 1));
            if (k == "mem_limit") params.memLimit = uint64_t(sqlite3_column_int64(st, 1));
        }
        sqlite3_finalize(st);
        Abort(sqlite3_exec(x.db, "CREATE TEMP TABLE saved AS SELECT * FROM kdt_crypt", nullptr,
                           nullptr, nullptr) != SQLITE_OK);
        Abort(kce::native::TableKey::Derive(kPassword, params, &x.key) != 0);
        return x;
    }();
    return f;
}

void Store(sqlite3* db, const char* sql, const std::string& value) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return;
    sqlite3_bind_blob(st, 1, value.data(), int(value.size()), SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
}

// Reads record 1 whole: its image, each field's text, each blob.
void ReadAll(kce::Storage& storage) {
    std::vector<uint8_t> image(storage.Layout().recordLength);
    bool exists = false, deleted = false;
    if (storage.ReadRecord(1, image.data(), &exists, &deleted) != 0 || !exists) return;
    std::string text;
    for (size_t i = 0; i < storage.Layout().fields.size(); ++i) {
        if (kce::IsBlobType(storage.Layout().fields[i].type)) {
            kce::BlobValue blob;
            storage.ReadBlob(1, int(i), &blob);
        } else {
            storage.FieldToText(int(i), image.data(), &text);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Fixture& f = Table();
    const std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 6) {
        case 0:
            Store(f.db, "UPDATE records SET kdt_image = ?1 WHERE kdt_recno = 1", value);
            break;
        case 1:
            Store(f.db, "UPDATE records SET M = ?1 WHERE kdt_recno = 1", value);
            break;
        case 2:
            Store(f.db, "UPDATE records SET B = ?1 WHERE kdt_recno = 1", value);
            break;
        case 3:
            // Any image content, properly sealed: what a holder of the key could write.
            Store(f.db, "UPDATE records SET kdt_image = ?1 WHERE kdt_recno = 1",
                  f.key->Seal(value, kce::native::RecordAd(1)));
            break;
        case 4:
        case 5: {
            // A key parameter or the key-check value: the table is opened afresh without the
            // password (a derivation with what the file asks would be what is under test, and
            // CheckKeyParams bounds it).
            static const char* const keys[] = {"check", "salt", "mem_limit", "ops_limit"};
            std::string sql = std::string("UPDATE kdt_crypt SET value = ?1 WHERE key = '") +
                              keys[(data[0] / 6) % 4] + "'";
            Store(f.db, sql.c_str(), value);
            kce::OpenRequest request;
            request.path = f.path;
            std::unique_ptr<kce::Storage> fresh;
            if (kce::native::OpenKdt(request, &fresh) == 0) ReadAll(*fresh);
            fresh.reset();
            sqlite3_exec(f.db,
                         "DELETE FROM kdt_crypt; INSERT INTO kdt_crypt SELECT * FROM temp.saved",
                         nullptr, nullptr, nullptr);
            return 0;
        }
    }
    f.storage->ForgetSnapshot();
    ReadAll(*f.storage);
    return 0;
}
