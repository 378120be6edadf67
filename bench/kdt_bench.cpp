// Native tables against direct SQLite: appending records of a 230-field layout one write at a
// time, then reading them all. The direct side does what a careful program would do by hand
// (prepared statements, one transaction per record, WAL, synchronous NORMAL), so the ratio says
// what the engine's record images, conversions and bookkeeping cost on top of SQLite.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 100000).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_layout.h"
#include "engine/kce.h"

namespace {

using bench::Column;
using bench::Die;
using bench::Images;
using bench::Layout;
using bench::Records;
using bench::U;

long RssKb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string TempFolder() { return bench::TempFolder("kdt-bench"); }

void EngineAppendAndRead(benchmark::State& state) {
    const auto cols = Layout();
    const int n = Records();
    std::string dir = TempFolder();
    const std::string fields = bench::FieldList(cols);
    KDSHANDLE conn = 0, t = 0;
    if (KdsConnect(U(dir), &conn) ||
        KdsCreateTable(conn, U("BENCH"), KCE_KDT, KCE_ANSI, U(fields), 0, &t))
        Die("create");
    KdsCloseTable(t);
    if (KdsOpenTable(conn, U("BENCH"), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                     KCE_CHECK_RIGHTS, 0, &t))
        Die("open");
    std::vector<std::vector<std::string>> images = {Images(cols, 0), Images(cols, 1)};
    UNSIGNED32 recordLength = 0;
    KdsGetRecordLength(t, &recordLength);
    std::vector<UNSIGNED8> record(recordLength);
    long rssTenth = 0;
    auto append = [&]() {
        for (int i = 0; i < n; ++i) {
            const auto& values = images[i % 2];
            if (KdsAppendRecord(t)) Die("append");
            for (size_t c = 0; c < cols.size(); ++c) {
                if (KdsSetFieldRaw(t, KCE_FIELD_ORDINAL(c + 1), U(values[c]),
                                   UNSIGNED32(values[c].size())))
                    Die("set field");
            }
            if (KdsWriteRecord(t)) Die("write");
            if (i == n / 10) rssTenth = RssKb();
        }
    };
    if (state.range(0) == 1) append();  // the table the read run reads, filled untimed
    for (auto _ : state) {
        if (state.range(0) == 0) {
            append();
        } else {
            bench::ReadAllRecords(t, record, n);
        }
    }
    if (state.range(0) == 0) {
        state.counters["rss_at_10pct_MB"] = rssTenth / 1024.0;
        state.counters["rss_at_end_MB"] = RssKb() / 1024.0;
    }
    state.counters["records"] = n;
    KdsCloseTable(t);
    KdsDisconnect(conn);
    std::filesystem::remove_all(dir);
}

void SqliteAppendAndRead(benchmark::State& state) {
    const auto cols = Layout();
    const int n = Records();
    std::string dir = TempFolder();
    sqlite3* db = nullptr;
    if (sqlite3_open((dir + "/bench.db").c_str(), &db) != SQLITE_OK) Die("sqlite open");
    std::string create = "CREATE TABLE records(recno INTEGER PRIMARY KEY",
                insert = "INSERT INTO records VALUES (?";
    for (const Column& c : cols) {
        const char* type = c.type == KCE_STRING || c.type == KCE_DATE || c.type == KCE_TIMESTAMP
                               ? "TEXT"
                           : c.type == KCE_INTEGER || c.type == KCE_LOGICAL ? "INTEGER"
                                                                            : "REAL";
        create += ", \"" + c.name + "\" " + type;
        insert += ", ?";
    }
    create += ")";
    insert += ")";
    // The engine's settings: WAL, synchronous=NORMAL, a checkpoint every 8,192 pages.
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                 "PRAGMA wal_autocheckpoint=8192;",
                 nullptr, nullptr, nullptr);
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        Die("sqlite create");
    sqlite3_stmt *ins, *begin, *commit, *select;
    sqlite3_prepare_v2(db, insert.c_str(), -1, &ins, nullptr);
    sqlite3_prepare_v2(db, "BEGIN", -1, &begin, nullptr);
    sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
    sqlite3_prepare_v2(db, "SELECT * FROM records ORDER BY recno", -1, &select, nullptr);
    // The same values as the engine stores them.
    std::vector<std::string> texts[2];
    std::vector<double> reals[2];
    std::vector<int64_t> ints[2];
    for (int k = 0; k < 2; ++k) {
        auto images = Images(cols, k);
        for (size_t c = 0; c < cols.size(); ++c) {
            const std::string& v = images[c];
            texts[k].push_back(cols[c].type == KCE_STRING ? v.substr(0, v.find_last_not_of(' ') + 1)
                               : cols[c].type == KCE_DATE ? "2000-01-01"
                                                          : "2000-01-01T00:00:00.000");
            reals[k].push_back(cols[c].type == KCE_NUMERIC ? std::atof(v.c_str())
                               : cols[c].type == KCE_DOUBLE
                                   ? *reinterpret_cast<const double*>(v.data())
                                   : 0);
            ints[k].push_back(cols[c].type == KCE_INTEGER
                                  ? *reinterpret_cast<const int32_t*>(v.data())
                                  : v[0] == 'T');
        }
    }
    auto append = [&]() {
        for (int i = 0; i < n; ++i) {
            int k = i % 2;
            sqlite3_step(begin);
            sqlite3_reset(begin);
            sqlite3_bind_int64(ins, 1, i + 1);
            for (size_t c = 0; c < cols.size(); ++c) {
                int p = int(c) + 2;
                switch (cols[c].type) {
                    case KCE_STRING:
                    case KCE_DATE:
                    case KCE_TIMESTAMP:
                        sqlite3_bind_text(ins, p, texts[k][c].data(), int(texts[k][c].size()),
                                          SQLITE_STATIC);
                        break;
                    case KCE_INTEGER:
                    case KCE_LOGICAL:
                        sqlite3_bind_int64(ins, p, ints[k][c]);
                        break;
                    default:
                        sqlite3_bind_double(ins, p, reals[k][c]);
                        break;
                }
            }
            if (sqlite3_step(ins) != SQLITE_DONE) Die("sqlite insert");
            sqlite3_reset(ins);
            if (sqlite3_step(commit) != SQLITE_DONE) Die("sqlite commit");
            sqlite3_reset(commit);
        }
    };
    if (state.range(0) == 1) append();  // the table the read run reads, filled untimed
    for (auto _ : state) {
        if (state.range(0) == 0) {
            append();
        } else {
            int seen = 0;
            while (sqlite3_step(select) == SQLITE_ROW) {
                for (size_t c = 0; c < cols.size(); ++c) {
                    int col = int(c) + 1;
                    switch (cols[c].type) {
                        case KCE_STRING:
                        case KCE_DATE:
                        case KCE_TIMESTAMP:
                            benchmark::DoNotOptimize(sqlite3_column_text(select, col));
                            break;
                        case KCE_INTEGER:
                        case KCE_LOGICAL:
                            benchmark::DoNotOptimize(sqlite3_column_int64(select, col));
                            break;
                        default:
                            benchmark::DoNotOptimize(sqlite3_column_double(select, col));
                            break;
                    }
                }
                ++seen;
            }
            sqlite3_reset(select);
            if (seen != n) Die("sqlite read count");
        }
    }
    state.counters["records"] = n;
    sqlite3_finalize(ins);
    sqlite3_finalize(begin);
    sqlite3_finalize(commit);
    sqlite3_finalize(select);
    sqlite3_close(db);
    std::filesystem::remove_all(dir);
}

// Prints each result and, at the end, the ratios engine / direct SQLite.
class RatioReporter : public bench::TimesReporter {
  public:
    void Finalize() override {
        TimesReporter::Finalize();
        const char* phases[] = {"append", "read"};
        for (int p = 0; p < 2; ++p) {
            auto engine = Find("Engine", p), direct = Find("Sqlite", p);
            if (engine.first > 0 && direct.first > 0) {
                std::printf(
                    "%-6s engine %.0f ms (CPU %.0f ms), direct SQLite %.0f ms (CPU %.0f ms), "
                    "ratio %.2f (CPU %.2f)\n",
                    phases[p], engine.first, engine.second, direct.first, direct.second,
                    engine.first / direct.first, engine.second / direct.second);
            }
        }
    }
};

}  // namespace

// Argument 0 times the appends, argument 1 the reading of a table filled beforehand.
static void EngineTable(benchmark::State& state) { EngineAppendAndRead(state); }
static void SqliteTable(benchmark::State& state) { SqliteAppendAndRead(state); }
BENCHMARK(EngineTable)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteTable)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
