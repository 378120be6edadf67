// The table component against the engine's own calls: walking every record of a table and reading
// its fields. The peer does by hand what the component does per record (skip, end test, raw record)
// and reads each field through KdsGetField; the component reads the same fields from its record
// buffer. The ratio says what the dataset model and the field conversions cost on top.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 10000).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include "engine/kce.h"
#include "kds/kdstable.h"

namespace {

using bench::U;

int Records() {
    const char* env = std::getenv("UPDATEBANK_BENCH_RECORDS");
    int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 10000;
}

constexpr const char* kFields =
    "EMP_NO,char,8;NAME,char,30;SALARY,numeric,10,2;HIRED,date;ACTIVE,logical;GRADE,integer";
constexpr int kFieldCount = 6;

// One folder with one table of each storage, made once for the whole run.
struct Fixture {
    std::string dir;
    Fixture() {
        char templ[] = "/tmp/kdsbench-XXXXXX";
        dir = ::mkdtemp(templ);
        KDSHANDLE connection = 0;
        KdsConnect(U(dir), &connection);
        for (auto [name, type] : {std::pair{"WALK_KDT", 3}, std::pair{"WALK_CDX", 2}}) {
            KDSHANDLE table = 0;
            KdsCreateTable(connection, U(name), static_cast<UNSIGNED16>(type), 1, U(kFields), 0,
                           &table);
            for (int i = 1; i <= Records(); ++i) {
                KdsAppendRecord(table);
                std::string values[] = {
                    "E" + std::to_string(i),   "Name number " + std::to_string(i),
                    std::to_string(i) + ".25", "",
                    i % 2 ? "T" : "F",         std::to_string(i % 17)};
                for (int f = 0; f < kFieldCount; ++f) {
                    if (values[f].empty()) continue;
                    KdsSetField(table, KCE_FIELD_ORDINAL(f + 1), U(values[f]),
                                static_cast<UNSIGNED32>(values[f].size()));
                }
                KdsWriteRecord(table);
            }
            KdsCloseTable(table);
        }
        KdsDisconnect(connection);
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& Data() {
    static Fixture fixture;
    return fixture;
}

void EngineWalk(benchmark::State& state, const char* name, UNSIGNED16 type) {
    KDSHANDLE connection = 0;
    KdsConnect(U(Data().dir), &connection);
    KDSHANDLE table = 0;
    KdsOpenTable(connection, U(name), nullptr, type, 1, 1, 1, 0, &table);
    UNSIGNED32 length = 0;
    KdsGetRecordLength(table, &length);
    std::vector<UNSIGNED8> record(length);
    UNSIGNED8 text[64];
    for (auto _ : state) {
        int walked = 0;
        KdsGotoTop(table);
        for (;;) {
            UNSIGNED16 eof = 0;
            KdsAtEOF(table, &eof);
            if (eof) break;
            UNSIGNED32 capacity = length;
            KdsGetRecord(table, record.data(), &capacity);
            for (int f = 1; f <= kFieldCount; ++f) {
                UNSIGNED32 textLength = sizeof text;
                KdsGetField(table, KCE_FIELD_ORDINAL(f), text, &textLength, 0);
            }
            ++walked;
            KdsSkip(table, 1);
        }
        benchmark::DoNotOptimize(walked);
    }
    state.SetItemsProcessed(state.iterations() * Records());
    KdsCloseTable(table);
    KdsDisconnect(connection);
}

void ComponentWalk(benchmark::State& state, const char* name, kds::TKdsTableTypes type) {
    kds::TKdsTable table;
    table.SetDatabaseName(Data().dir);
    table.SetTableType(type);
    table.SetTableName(name);
    table.Open();
    std::vector<db::TField*> fields;
    for (int i = 0; i < table.NumFields(); ++i) fields.push_back(&table.FieldAt(i));
    for (auto _ : state) {
        int walked = 0;
        for (table.First(); !table.AtEOF(); table.Next()) {
            for (db::TField* field : fields) benchmark::DoNotOptimize(field->StringValue());
            ++walked;
        }
        benchmark::DoNotOptimize(walked);
    }
    state.SetItemsProcessed(state.iterations() * Records());
    table.Close();
}

void BM_EngineWalkKdt(benchmark::State& state) { EngineWalk(state, "WALK_KDT", 3); }
void BM_ComponentWalkKdt(benchmark::State& state) {
    ComponentWalk(state, "WALK_KDT", kds::ttKdsKDT);
}
void BM_EngineWalkCdx(benchmark::State& state) { EngineWalk(state, "WALK_CDX", 2); }
void BM_ComponentWalkCdx(benchmark::State& state) {
    ComponentWalk(state, "WALK_CDX", kds::ttKdsCDX);
}

BENCHMARK(BM_EngineWalkKdt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComponentWalkKdt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineWalkCdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComponentWalkCdx)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
