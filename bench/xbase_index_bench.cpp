// A tag of a CDX table's structural .cdx file against the native index on the same rows, in one
// run: building the index over every record, seeks by a random key, and a full skip through the
// index reading each record. The native table is the peer: the ratio says what the .cdx tree
// costs beside the native tables' key tables.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 1000000); UPDATEBANK_BENCH_SEEKS
// the number of seeks (default 100000). The native rows are put in with bulk SQLite inserts, the
// DBF rows through the engine's appends on an exclusive table without indexes (neither is timed).
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::vector<int> Codes(int n) {
    std::mt19937 random(42);
    std::vector<int> codes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) codes[size_t(i)] = i + 1;
    std::shuffle(codes.begin(), codes.end(), random);
    return codes;
}

void FillNative(const std::string& file, const std::vector<int>& codes) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO records(kdt_recno, NAME, CODE) VALUES (?1, ?2, ?3)", -1,
                       &stmt, nullptr);
    char name[32];
    for (size_t i = 0; i < codes.size(); ++i) {
        std::snprintf(name, sizeof name, "NAME %zu", i);
        sqlite3_bind_int64(stmt, 1, int64_t(i) + 1);
        sqlite3_bind_text(stmt, 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(stmt, 3, codes[i]);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            std::fprintf(stderr, "insert: %s\n", sqlite3_errmsg(db));
            std::exit(1);
        }
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void FillDbf(KDSHANDLE table, const std::vector<int>& codes) {
    char name[32];
    for (size_t i = 0; i < codes.size(); ++i) {
        std::snprintf(name, sizeof name, "NAME %zu", i);
        std::string code = std::to_string(codes[i]);
        Check(KdsAppendRecord(table), "append");
        Check(KdsSetField(table, U("NAME"), U(name), UNSIGNED32(std::strlen(name))), "name");
        Check(KdsSetField(table, U("CODE"), U(code), UNSIGNED32(code.size())), "code");
        Check(KdsWriteRecord(table), "write");
    }
}

struct Side {
    KDSHANDLE table = 0, index = 0;
    double build = 0, seek = 0, skip = 0;
    long found = 0, walked = 0;
};

void Measure(Side& side, const std::vector<int>& keys) {
    side.build = Seconds([&] {
        Check(KdsCreateIndex(side.table, nullptr, U("BYCODE"), U("CODE"), nullptr, 0, &side.index),
              "index");
    });
    UNSIGNED32 length = 0;
    Check(KdsGetRecordLength(side.table, &length), "length");
    std::vector<UNSIGNED8> image(length);
    side.seek = Seconds([&] {
        for (int k : keys) {
            std::string key = std::to_string(k);
            UNSIGNED16 found = 0;
            Check(KdsSeek(side.index, U(key), UNSIGNED16(key.size()), KCE_STRINGKEY, KCE_HARDSEEK,
                          &found),
                  "seek");
            UNSIGNED32 len = length;
            Check(KdsGetRecord(side.table, image.data(), &len), "record");
            side.found += found;
        }
    });
    side.skip = Seconds([&] {
        Check(KdsGotoTop(side.index), "top");
        for (;;) {
            UNSIGNED16 eof = 0;
            Check(KdsAtEOF(side.index, &eof), "eof");
            if (eof) break;
            UNSIGNED32 len = length;
            Check(KdsGetRecord(side.table, image.data(), &len), "record");
            ++side.walked;
            Check(KdsSkip(side.index, 1), "skip");
        }
    });
}

}  // namespace

int main() {
    const int n = EnvInt("UPDATEBANK_BENCH_RECORDS", 1000000);
    const int seeks = EnvInt("UPDATEBANK_BENCH_SEEKS", 100000);
    char templ[] = "/tmp/xbase-index-bench-XXXXXX";
    std::string dir = ::mkdtemp(templ);
    std::printf("CDX tag against the native index, %d records, %d seeks (folder %s)\n", n, seeks,
                dir.c_str());
    const std::vector<int> codes = Codes(n);
    KDSHANDLE conn = 0;
    Check(KdsConnect(U(dir), &conn), "connect");

    Side native, cdx;
    Check(KdsCreateTable(conn, U("EMP"), 3, 1, U("NAME,char,20;CODE,integer"), 0, &native.table),
          "create native");
    Check(KdsCloseTable(native.table), "close");
    FillNative(dir + "/EMP.kdt", codes);
    Check(KdsOpenTable(conn, U("EMP"), nullptr, 3, 1, 1, 1, KCE_OPEN_EXCLUSIVE, &native.table),
          "open native");
    Check(KdsCreateTable(conn, U("EMP.dbf"), 2, 1, U("NAME,char,20;CODE,integer"), 0, &cdx.table),
          "create dbf");
    FillDbf(cdx.table, codes);

    std::mt19937 random(7);
    std::vector<int> keys(static_cast<size_t>(seeks));
    for (int& k : keys) k = int(random() % unsigned(n)) + 1;
    Measure(native, keys);
    Measure(cdx, keys);

    std::printf("%-28s %12s %12s %8s\n", "", "cdx (s)", "native (s)", "ratio");
    auto row = [](const char* what, double a, double b) {
        std::printf("%-28s %12.3f %12.3f %8.2f\n", what, a, b, b > 0 ? a / b : 0.0);
    };
    row("build the index", cdx.build, native.build);
    row("seeks by a random key", cdx.seek, native.seek);
    row("full skip through the index", cdx.skip, native.skip);
    std::printf("found %ld / %ld, walked %ld / %ld\n", cdx.found, native.found, cdx.walked,
                native.walked);
    KdsCloseTable(cdx.table);
    KdsCloseTable(native.table);
    KdsDisconnect(conn);
    std::filesystem::remove_all(dir);
    return cdx.found == native.found && cdx.walked == native.walked ? 0 : 1;
}
