// TKdsTable against the engine it stands on, in one run: appending records of a 230-field layout
// (Append, every field set from its text, Post) and reading them back (Next, every field's
// StringValue), beside the same appends and reads made directly through the engine's record
// calls (raw images, as bench/kdt_bench.cpp does). The difference is what the dataset model, the
// fields' text conversions and the Keel dataset cost on top of the engine.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 100000).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "kds/kdstable.h"
#include "rtl/datetime.h"
#include "rtl/numconv.h"

namespace {

const UNSIGNED8* U(const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); }

int Records() {
    const char* env = std::getenv("UPDATEBANK_BENCH_RECORDS");
    int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 100000;
}

// The layout of bench/kdt_bench.cpp: 100 char(20), 40 numeric(10,2), 30 integer, 20 double,
// 20 date, 10 logical, 10 timestamp.
struct Column {
    std::string name;
    int type;
    int length;
};

std::vector<Column> Layout() {
    std::vector<Column> cols;
    auto add = [&](const char* prefix, int count, int type, int length) {
        for (int i = 0; i < count; ++i) cols.push_back({prefix + std::to_string(i), type, length});
    };
    add("C", 100, KCE_STRING, 20);
    add("N", 40, KCE_NUMERIC, 10);
    add("I", 30, KCE_INTEGER, 4);
    add("F", 20, KCE_DOUBLE, 8);
    add("D", 20, KCE_DATE, 4);
    add("L", 10, KCE_LOGICAL, 1);
    add("T", 10, KCE_TIMESTAMP, 8);
    return cols;
}

std::string FieldList(const std::vector<Column>& cols) {
    std::string fields;
    for (const Column& c : cols) {
        if (!fields.empty()) fields += ';';
        fields += c.name + "," + std::to_string(c.type) + "," + std::to_string(c.length) +
                  (c.type == KCE_NUMERIC ? ",2" : "");
    }
    return fields;
}

// Record i's values: raw image bytes for the engine side, texts for the dataset side. Both
// describe the same values.
struct Values {
    std::vector<std::string> images, texts;
};

Values ValuesOf(const std::vector<Column>& cols, int i) {
    Values v;
    char buf[64];
    for (size_t c = 0; c < cols.size(); ++c) {
        std::string image, text;
        switch (cols[c].type) {
            case KCE_STRING:
                text = "VALUE " + std::to_string(i + c);
                std::snprintf(buf, sizeof buf, "%-20.20s", text.c_str());
                image = buf;
                break;
            case KCE_NUMERIC:
                std::snprintf(buf, sizeof buf, "%10.2f", (i % 100000) + c / 100.0);
                image = buf;
                std::snprintf(buf, sizeof buf, "%.2f", (i % 100000) + c / 100.0);
                text = buf;
                break;
            case KCE_INTEGER: {
                uint32_t x = uint32_t(i + c);
                image.assign(reinterpret_cast<const char*>(&x), 4);
                text = std::to_string(x);
                break;
            }
            case KCE_DATE: {
                uint32_t julian = 2451545 + uint32_t(i % 5000);
                image.assign(reinterpret_cast<const char*>(&julian), 4);
                text = rtl::DateToStr(rtl::EncodeDate(2000, 1, 1) + (i % 5000));
                break;
            }
            case KCE_DOUBLE: {
                double d = i * 0.5 + c;
                image.assign(reinterpret_cast<const char*>(&d), 8);
                text = rtl::FloatToStr(d);
                break;
            }
            case KCE_LOGICAL:
                image = (i + c) % 2 ? "T" : "F";
                text = (i + c) % 2 ? "True" : "False";
                break;
            case KCE_TIMESTAMP: {
                uint32_t x[2] = {2451545 + uint32_t(i % 5000), 0};
                image.assign(reinterpret_cast<const char*>(x), 8);
                text = rtl::DateTimeToStr(rtl::EncodeDate(2000, 1, 1) + (i % 5000));
                break;
            }
        }
        v.images.push_back(image);
        v.texts.push_back(text);
    }
    return v;
}

std::string TempFolder() {
    char templ[] = "/tmp/kds-bench-XXXXXX";
    return ::mkdtemp(templ);
}

void Die(const char* what) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
}

// A new, empty table BENCH in a new folder.
std::string NewTable(const std::vector<Column>& cols) {
    std::string dir = TempFolder();
    KDSHANDLE conn = 0, t = 0;
    if (KdsConnect(U(dir), &conn) ||
        KdsCreateTable(conn, U("BENCH"), 3, 1, U(FieldList(cols)), 0, &t))
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
            UNSIGNED16 eof = 0;
            int seen = 0;
            KdsGotoTop(t);
            for (KdsAtEOF(t, &eof); !eof; KdsAtEOF(t, &eof)) {
                UNSIGNED32 len = recordLength;
                if (KdsGetRecord(t, record.data(), &len)) Die("read");
                benchmark::DoNotOptimize(record.data());
                ++seen;
                KdsSkip(t, 1);
            }
            if (seen != n) Die("read count");
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
class LayerReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
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

  private:
    std::pair<double, double> Find(const std::string& prefix, int phase) {
        for (const auto& [name, time] : times_) {
            if (name.rfind(prefix, 0) == 0 &&
                name.find("/" + std::to_string(phase)) != std::string::npos)
                return time;
        }
        return {0, 0};
    }
    std::map<std::string, std::pair<double, double>> times_;
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
