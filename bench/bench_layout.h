// What the table benchmarks share: the 230-field layout of an employee-sized record, the field
// bytes of record i in the engine's image form, the record count, a scratch folder, and a
// reporter that keeps every run's times for the comparison printed at the end.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_engine.h"
#include "engine/kce.h"

namespace bench {

// UPDATEBANK_BENCH_RECORDS sets the number of records (default 100000).
inline int Records() {
    const char* env = std::getenv("UPDATEBANK_BENCH_RECORDS");
    int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 100000;
}

// 100 char(20), 40 numeric(10,2), 30 integer, 20 double, 20 date, 10 logical, 10 timestamp.
struct Column {
    std::string name;
    int type;
    int length;
};

inline std::vector<Column> Layout() {
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

// The field list KdsCreateTable takes for the layout.
inline std::string FieldList(const std::vector<Column>& cols) {
    std::string fields;
    for (const Column& c : cols) {
        if (!fields.empty()) fields += ';';
        fields += c.name + "," + std::to_string(c.type) + "," + std::to_string(c.length) +
                  (c.type == KCE_NUMERIC ? ",2" : "");
    }
    return fields;
}

// Julian day of 2000-01-01, the first date the records hold.
inline constexpr uint32_t kJulian2000 = 2451545;

// Record i's dates and timestamps lie this many days after 2000-01-01 (the timestamps at
// midnight).
inline int DayOffset(int i) { return i % 5000; }

// The field bytes of record i, in the engine's image form.
inline std::vector<std::string> Images(const std::vector<Column>& cols, int i) {
    std::vector<std::string> out;
    char buf[64];
    for (size_t c = 0; c < cols.size(); ++c) {
        std::string v;
        switch (cols[c].type) {
            case KCE_STRING:
                std::snprintf(buf, sizeof buf, "%-20.20s",
                              ("VALUE " + std::to_string(i + c)).c_str());
                v = buf;
                break;
            case KCE_NUMERIC:
                std::snprintf(buf, sizeof buf, "%10.2f", (i % 100000) + c / 100.0);
                v = buf;
                break;
            case KCE_INTEGER:
            case KCE_DATE: {
                uint32_t x = cols[c].type == KCE_DATE ? kJulian2000 + uint32_t(DayOffset(i))
                                                      : uint32_t(i + c);
                v.assign(reinterpret_cast<const char*>(&x), 4);
                break;
            }
            case KCE_DOUBLE: {
                double d = i * 0.5 + c;
                v.assign(reinterpret_cast<const char*>(&d), 8);
                break;
            }
            case KCE_LOGICAL:
                v = (i + c) % 2 ? "T" : "F";
                break;
            case KCE_TIMESTAMP: {
                uint32_t x[2] = {kJulian2000 + uint32_t(DayOffset(i)), 0};
                v.assign(reinterpret_cast<const char*>(x), 8);
                break;
            }
        }
        out.push_back(v);
    }
    return out;
}

// A new, empty folder under /tmp whose name begins with the prefix.
inline std::string TempFolder(const std::string& prefix) {
    std::string templ = "/tmp/" + prefix + "-XXXXXX";
    return ::mkdtemp(templ.data());
}

[[noreturn]] inline void Die(const char* what) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
}

// Walks table handle t from the top, reading every record image into `record`; ends the run
// unless it sees exactly n records.
inline void ReadAllRecords(KDSHANDLE t, std::vector<UNSIGNED8>& record, int n) {
    UNSIGNED16 eof = 0;
    int seen = 0;
    KdsGotoTop(t);
    for (KdsAtEOF(t, &eof); !eof; KdsAtEOF(t, &eof)) {
        UNSIGNED32 len = UNSIGNED32(record.size());
        if (KdsGetRecord(t, record.data(), &len)) Die("read");
        benchmark::DoNotOptimize(record.data());
        ++seen;
        KdsSkip(t, 1);
    }
    if (seen != n) Die("read count");
}

// Prints each result and keeps its real and CPU time, so that Finalize can compare runs.
class TimesReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
    }

  protected:
    // Real and CPU time of the run whose name begins with the prefix and carries the argument
    // `phase`; zeros when there is none.
    std::pair<double, double> Find(const std::string& prefix, int phase) const {
        for (const auto& [name, time] : times_) {
            if (name.rfind(prefix, 0) == 0 &&
                name.find("/" + std::to_string(phase)) != std::string::npos)
                return time;
        }
        return {0, 0};
    }

  private:
    std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace bench
