// Index lookups on a native table against the same lookups done directly on SQLite, in one run:
// seeks by a random key, a full skip through the index, a filter that an index serves and one it
// cannot. The direct side holds the same rows in a plain SQLite table with an ordinary index and
// runs prepared statements, reading every column of each row it finds, as the engine reads each
// record image. The ratio says what the engine's key tables, cursor and record images cost on top
// of SQLite.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 1000000); UPDATEBANK_BENCH_SEEKS
// the number of seeks (default 100000). The rows are written to both files with bulk SQLite
// inserts (this benchmark is about lookups, not appends); the engine then builds its index with
// KdsReindex.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include "engine/kce.h"

namespace {

using bench::Check;
using bench::EnvInt;
using bench::Seconds;
using bench::U;

void Sql(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql.c_str(), error ? error : "?");
        std::exit(1);
    }
}

// Rows: CODE a permutation of 1..n (the indexed key), NAME, AMOUNT (0..9999.99), HIRED.
void FillRows(sqlite3* db, const char* table, int n, bool withRecno) {
    Sql(db, "BEGIN");
    std::string sql =
        std::string("INSERT INTO ") + table +
        (withRecno ? "(kdt_recno, NAME, CODE, AMOUNT, HIRED) VALUES (?1, ?2, ?3, ?4, ?5)"
                   : "(id, NAME, CODE, AMOUNT, HIRED) VALUES (?1, ?2, ?3, ?4, ?5)");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    std::mt19937 random(42);
    std::vector<int> codes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) codes[size_t(i)] = i + 1;
    std::shuffle(codes.begin(), codes.end(), random);
    char name[32], date[16];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "NAME %d", i);
        std::snprintf(date, sizeof date, "20%02d-%02d-%02d", i % 25, 1 + i % 12, 1 + i % 28);
        sqlite3_bind_int64(stmt, 1, i + 1);
        sqlite3_bind_text(stmt, 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(stmt, 3, codes[size_t(i)]);
        sqlite3_bind_double(stmt, 4, double((i * 7919) % 1000000) / 100.0);
        sqlite3_bind_text(stmt, 5, date, -1, SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            std::fprintf(stderr, "insert: %s\n", sqlite3_errmsg(db));
            std::exit(1);
        }
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    Sql(db, "COMMIT");
}

// Reads every column of the current row, as a caller of the direct side would.
long ReadRow(sqlite3_stmt* stmt) {
    long sum = sqlite3_column_int64(stmt, 0);
    sum += sqlite3_column_bytes(stmt, 1);
    sum += sqlite3_column_int64(stmt, 2);
    sum += long(sqlite3_column_double(stmt, 3));
    sum += sqlite3_column_bytes(stmt, 4);
    return sum;
}

struct Result {
    const char* name;
    double engine;
    double direct;
    long engineRows;
    long directRows;
};

}  // namespace

int main() {
    const int n = EnvInt("UPDATEBANK_BENCH_RECORDS", 1000000);
    const int seeks = EnvInt("UPDATEBANK_BENCH_SEEKS", 100000);
    char templ[] = "/tmp/index-bench-XXXXXX";
    std::string dir = ::mkdtemp(templ);
    std::printf("index lookups, %d records, %d seeks (folder %s)\n", n, seeks, dir.c_str());

    // Direct SQLite.
    sqlite3* direct = nullptr;
    sqlite3_open((dir + "/direct.db").c_str(), &direct);
    Sql(direct, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    Sql(direct,
        "CREATE TABLE emp(id INTEGER PRIMARY KEY, NAME TEXT, CODE INTEGER, AMOUNT REAL, "
        "HIRED TEXT)");
    FillRows(direct, "emp", n, false);
    Sql(direct, "CREATE INDEX emp_code ON emp(CODE)");

    // The engine's table: created by the engine, rows put in by SQLite, index built by the engine.
    KDSHANDLE conn = 0, table = 0;
    Check(KdsConnect(U(dir), &conn), "connect");
    Check(KdsCreateTable(conn, U("EMP"), KCE_KDT, KCE_ANSI,
                         U("NAME,char,20;CODE,integer;AMOUNT,double;HIRED,date"), 0, &table),
          "create");
    Check(KdsCloseTable(table), "close");
    {
        sqlite3* db = nullptr;
        sqlite3_open((dir + "/EMP.kdt").c_str(), &db);
        FillRows(db, "records", n, true);
        sqlite3_close(db);
    }
    Check(KdsOpenTable(conn, U("EMP"), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                       KCE_CHECK_RIGHTS, KCE_OPEN_EXCLUSIVE, &table),
          "open");
    KDSHANDLE index = 0;
    double build = Seconds([&] {
        Check(KdsCreateIndex(table, nullptr, U("BYCODE"), U("CODE"), nullptr, 0, &index), "index");
    });
    std::printf("engine index built in %.2f s\n", build);
    UNSIGNED32 recordLength = 0;
    Check(KdsGetRecordLength(table, &recordLength), "length");
    std::vector<UNSIGNED8> image(recordLength);

    std::vector<Result> results;
    std::mt19937 random(7);
    std::vector<int> keys(static_cast<size_t>(seeks));
    for (int& k : keys) k = int(random() % unsigned(n)) + 1;

    {  // Seeks by a random key.
        Result r{"seek by random key", 0, 0, 0, 0};
        r.engine = Seconds([&] {
            for (int k : keys) {
                std::string key = std::to_string(k);
                UNSIGNED16 found = 0;
                Check(KdsSeek(index, U(key), UNSIGNED16(key.size()), KCE_STRINGKEY, KCE_HARDSEEK,
                              &found),
                      "seek");
                UNSIGNED32 len = recordLength;
                Check(KdsGetRecord(table, image.data(), &len), "record");
                r.engineRows += found;
            }
        });
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(direct, "SELECT id, NAME, CODE, AMOUNT, HIRED FROM emp WHERE CODE = ?1",
                           -1, &stmt, nullptr);
        r.direct = Seconds([&] {
            for (int k : keys) {
                sqlite3_bind_int64(stmt, 1, k);
                if (sqlite3_step(stmt) == SQLITE_ROW) {
                    ReadRow(stmt);
                    ++r.directRows;
                }
                sqlite3_reset(stmt);
            }
        });
        sqlite3_finalize(stmt);
        results.push_back(r);
    }

    auto walk = [&](KDSHANDLE h) {
        long rows = 0;
        Check(KdsGotoTop(h), "top");
        for (;;) {
            UNSIGNED16 eof = 0;
            Check(KdsAtEOF(h, &eof), "eof");
            if (eof) break;
            UNSIGNED32 len = recordLength;
            Check(KdsGetRecord(table, image.data(), &len), "record");
            ++rows;
            Check(KdsSkip(h, 1), "skip");
        }
        return rows;
    };
    auto direct_walk = [&](const char* sql, double bound) {
        long rows = 0;
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(direct, sql, -1, &stmt, nullptr);
        sqlite3_bind_double(stmt, 1, bound);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            ReadRow(stmt);
            ++rows;
        }
        sqlite3_finalize(stmt);
        return rows;
    };

    {  // A full skip through the index.
        Result r{"full skip in index order", 0, 0, 0, 0};
        r.engine = Seconds([&] { r.engineRows = walk(index); });
        r.direct = Seconds([&] {
            r.directRows = direct_walk(
                "SELECT id, NAME, CODE, AMOUNT, HIRED FROM emp WHERE ?1 = ?1 ORDER BY CODE", 0);
        });
        results.push_back(r);
    }

    const int limit = std::max(1, n / 100);
    {  // A filter that the index serves: 1% of the records.
        Result r{"filter an index serves (1%)", 0, 0, 0, 0};
        std::string filter = "CODE <= " + std::to_string(limit);
        r.engine = Seconds([&] {
            Check(KdsSetAOF(table, U(filter), KCE_RESOLVE_DYNAMIC), "aof");
            r.engineRows = walk(table);
        });
        UNSIGNED16 level = 0;
        Check(KdsGetAOFOptLevel(table, &level, nullptr, nullptr), "level");
        if (level != 1) std::fprintf(stderr, "the index did not serve the filter\n");
        Check(KdsClearAOF(table), "clear");
        r.direct = Seconds([&] {
            r.directRows = direct_walk(
                "SELECT id, NAME, CODE, AMOUNT, HIRED FROM emp WHERE CODE <= ?1 ORDER BY id",
                double(limit));
        });
        results.push_back(r);
    }

    {  // A filter no index serves: SQLite selects the records, the engine tests them again.
        Result r{"filter no index serves (1%)", 0, 0, 0, 0};
        r.engine = Seconds([&] {
            Check(KdsSetAOF(table, U("AMOUNT < 100"), KCE_RESOLVE_DYNAMIC), "aof");
            r.engineRows = walk(table);
        });
        Check(KdsClearAOF(table), "clear");
        r.direct = Seconds([&] {
            r.directRows = direct_walk(
                "SELECT id, NAME, CODE, AMOUNT, HIRED FROM emp WHERE AMOUNT < ?1", 100.0);
        });
        results.push_back(r);
    }

    {  // The same filter in a form that is not handed to SQLite: every record read and tested.
        Result r{"  the same, record by record", 0, 0, 0, 0};
        r.engine = Seconds([&] {
            Check(KdsSetAOF(table, U("IIF(AMOUNT < 100, .T., .F.)"), KCE_RESOLVE_DYNAMIC), "aof");
            r.engineRows = walk(table);
        });
        Check(KdsClearAOF(table), "clear");
        r.direct = Seconds([&] {
            r.directRows = direct_walk(
                "SELECT id, NAME, CODE, AMOUNT, HIRED FROM emp WHERE AMOUNT < ?1", 100.0);
        });
        results.push_back(r);
    }

    std::printf("%-30s %12s %12s %8s %10s\n", "lookup", "engine s", "sqlite s", "ratio", "rows");
    for (const Result& r : results) {
        std::printf("%-30s %12.3f %12.3f %7.2fx %10ld%s\n", r.name, r.engine, r.direct,
                    r.direct > 0 ? r.engine / r.direct : 0.0, r.engineRows,
                    r.engineRows == r.directRows ? "" : "  (row counts differ!)");
    }
    KdsCloseTable(table);
    KdsDisconnect(conn);
    sqlite3_close(direct);
    std::filesystem::remove_all(dir);
    return 0;
}
