// TKdsTable against the engine it stands on, in one run: appending records of a 230-field layout
// (Append, every field set from its text, Post) and reading them back (Next, every field's
// StringValue), beside the same appends and reads made directly through the engine's record
// calls (raw images, as bench/kdt_bench.cpp does). The difference is what the dataset model, the
// fields' text conversions and the Keel dataset cost on top of the engine.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 100000).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_layout.h"
#include "engine/kce.h"
#include "kds/kdstable.h"
#include "rtl/datetime.h"
#include "rtl/numconv.h"

namespace {

using bench::Column;
using bench::Die;
using bench::Layout;
using bench::Records;
using bench::U;

// Record i's values: raw image bytes for the engine side, texts for the dataset side. Both
// describe the same values.
struct Values {
    std::vector<std::string> images, texts;
};

Values ValuesOf(const std::vector<Column>& cols, int i) {
    Values v;
    v.images = bench::Images(cols, i);
    const double day = rtl::EncodeDate(2000, 1, 1) + bench::DayOffset(i);
    char buf[64];
    for (size_t c = 0; c < cols.size(); ++c) {
        const std::string& image = v.images[c];
        std::string text;
        switch (cols[c].type) {
            case KCE_STRING:
                text = image.substr(0, image.find_last_not_of(' ') + 1);
                break;
            case KCE_NUMERIC:
                std::snprintf(buf, sizeof buf, "%.2f", std::atof(image.c_str()));
                text = buf;
                break;
            case KCE_INTEGER: {
                uint32_t x;
                std::memcpy(&x, image.data(), 4);
                text = std::to_string(x);
                break;
            }
            case KCE_DATE:
                text = rtl::DateToStr(day);
                break;
            case KCE_DOUBLE: {
                double d;
                std::memcpy(&d, image.data(), 8);
                text = rtl::FloatToStr(d);
                break;
            }
            case KCE_LOGICAL:
                text = image == "T" ? "True" : "False";
                break;
            case KCE_TIMESTAMP:
                text = rtl::DateTimeToStr(day);
                break;
        }
        v.texts.push_back(text);
    }
    return v;
}

// A new, empty table BENCH in a new folder.
std::string NewTable(const std::vector<Column>& cols) {
    std::string dir = bench::TempFolder("kds-bench");
    KDSHANDLE conn = 0, t = 0;
    if (KdsConnect(U(dir), &conn) ||
        KdsCreateTable(conn, U("BENCH"), 3, 1, U(bench::FieldList(cols)), 0, &t))
        Die("create");
    KdsCloseTable(t);
    KdsDisconnect(conn);
    return dir;
}

void EngineAppendAndRead(benchmark::State& state) {
    const auto cols = Layout();
    const int n = Records();
    std::string dir = NewTable(cols);
    KDSHANDLE conn = 0, t = 0;
    if (KdsConnect(U(dir), &conn) || KdsOpenTable(conn, U("BENCH"), nullptr, 3, 1, 1, 1, 0, &t))
        Die("open");
    Values values[2] = {ValuesOf(cols, 0), ValuesOf(cols, 1)};
    UNSIGNED32 recordLength = 0;
    KdsGetRecordLength(t, &recordLength);
    std::vector<UNSIGNED8> record(recordLength);
    auto append = [&]() {
        for (int i = 0; i < n; ++i) {
            const auto& images = values[i % 2].images;
            if (KdsAppendRecord(t)) Die("append");
            for (size_t c = 0; c < cols.size(); ++c) {
                if (KdsSetFieldRaw(t, KCE_FIELD_ORDINAL(c + 1), U(images[c]),
                                   UNSIGNED32(images[c].size())))
                    Die("set field");
            }
            if (KdsWriteRecord(t)) Die("write");
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
    state.counters["records"] = n;
    KdsCloseTable(t);
    KdsDisconnect(conn);
    std::filesystem::remove_all(dir);
}

void DataSetAppendAndRead(benchmark::State& state) {
    const auto cols = Layout();
    const int n = Records();
    std::string dir = NewTable(cols);
    Values values[2] = {ValuesOf(cols, 0), ValuesOf(cols, 1)};
    kds::TKdsTable table;
    table.SetName("BenchTable");
    table.SetDatabaseName(dir);
    table.SetTableName("BENCH");
    table.Open();
    std::vector<db::TField*> fields;
    for (const Column& c : cols) fields.push_back(&table.FieldNamed(c.name));
    auto append = [&]() {
        for (int i = 0; i < n; ++i) {
            const auto& texts = values[i % 2].texts;
            table.Append();
            for (size_t c = 0; c < cols.size(); ++c) fields[c]->SetStringValue(texts[c]);
            table.Post();
        }
    };
    if (state.range(0) == 1) append();
    for (auto _ : state) {
        if (state.range(0) == 0) {
            append();
        } else {
            int seen = 0;
            size_t bytes = 0;
            table.First();
            while (!table.AtEOF()) {
                for (db::TField* field : fields) bytes += field->StringValue().size();
                ++seen;
                table.Next();
            }
            benchmark::DoNotOptimize(bytes);
            if (seen != n) Die("dataset read count");
        }
    }
    state.counters["records"] = n;
    table.Close();
    std::filesystem::remove_all(dir);
}

// Prints each result and, at the end, what the layers above the engine cost against the engine.
class LayerReporter : public bench::TimesReporter {
  public:
    void Finalize() override {
        TimesReporter::Finalize();
        const char* phases[] = {"append", "read"};
        for (int p = 0; p < 2; ++p) {
            auto engine = Find("EngineTable", p), dataset = Find("KdsTable", p);
            if (engine.first > 0 && dataset.first > 0) {
                std::printf(
                    "%-6s engine %.0f ms (CPU %.0f ms), TKdsTable %.0f ms (CPU %.0f ms): the "
                    "layers above the engine cost %.2f times the engine (CPU %.2f)\n",
                    phases[p], engine.first, engine.second, dataset.first, dataset.second,
                    (dataset.first - engine.first) / engine.first,
                    (dataset.second - engine.second) / engine.second);
            }
        }
    }
};

}  // namespace

// Argument 0 times the appends, argument 1 the reading of a table filled beforehand.
static void EngineTable(benchmark::State& state) { EngineAppendAndRead(state); }
static void KdsTable(benchmark::State& state) { DataSetAppendAndRead(state); }
BENCHMARK(EngineTable)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(KdsTable)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    LayerReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
