// Appending and reading DBF records through the engine's C interface, beside python3-dbf doing
// the same work on the same layout in the same run.
//
// The layout is the 230 fields of the native benchmark (kdt_bench): 100 char(20),
// 40 numeric(10,2), 30 integer, 20 double, 20 date, 10 logical, 10 timestamp. Records are appended
// one KdsWriteRecord at a time, every field set with KdsSetFieldRaw (as the data-access layer posts
// a record), then read back with KdsGetRecord in record order.
//
// Usage: dbf_bench [RECORDS [PYTHON_RECORDS]] (default 100000 for both; UPDATEBANK_BENCH_RECORDS
// overrides the default). Times are CPU seconds (user + system) and wall seconds.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include "engine/kce.h"

namespace {

using bench::Check;

using Clock = std::chrono::steady_clock;

struct Field {
    std::string name;
    const char* engineType;
    int length;
    int decimals;
    const char* pythonType;
};

std::vector<Field> Layout() {
    std::vector<Field> fields;
    auto add = [&](const char* prefix, int count, const char* type, int length, int decimals,
                   const char* py) {
        for (int i = 1; i <= count; ++i) {
            fields.push_back({prefix + std::to_string(i), type, length, decimals, py});
        }
    };
    add("C", 100, "char", 20, 0, "C(20)");
    add("N", 40, "numeric", 10, 2, "N(10,2)");
    add("I", 30, "integer", 4, 0, "I");
    add("B", 20, "double", 8, 0, "B");
    add("D", 20, "date", 8, 0, "D");
    add("L", 10, "logical", 1, 0, "L");
    add("T", 10, "timestamp", 8, 0, "T");
    return fields;
}

// CPU seconds of this process (user and system): on a shared machine they measure the work
// itself, where wall time would also measure the other processes.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timer {
    Clock::time_point wall = Clock::now();
    double cpu = CpuSeconds();
    double Wall() const { return std::chrono::duration<double>(Clock::now() - wall).count(); }
    double Cpu() const { return CpuSeconds() - cpu; }
};

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Figures {
    double append = 0;  // CPU seconds
    double read = 0;
    double appendWall = 0;
    double readWall = 0;
};

Figures RunEngine(const std::string& dir, const std::vector<Field>& fields, long records) {
    KDSHANDLE connection = 0;
    Check(KdsConnect(reinterpret_cast<const UNSIGNED8*>(dir.c_str()), &connection), "connect");
    std::string fieldList;
    for (const Field& f : fields) {
        fieldList += f.name + "," + f.engineType + "," + std::to_string(f.length) + "," +
                     std::to_string(f.decimals) + ";";
    }
    KDSHANDLE table = 0;
    Check(
        KdsCreateTable(connection, reinterpret_cast<const UNSIGNED8*>("engine.dbf"), KCE_CDX,
                       KCE_ANSI, reinterpret_cast<const UNSIGNED8*>(fieldList.c_str()), 0, &table),
        "create");
    UNSIGNED32 recordLength = 0;
    Check(KdsGetRecordLength(table, &recordLength), "record length");
    std::vector<UNSIGNED32> offsets(fields.size()), lengths(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        Check(KdsGetFieldOffset(table, KCE_FIELD_ORDINAL(i + 1), &offsets[i]), "offset");
        Check(KdsGetFieldLength(table, KCE_FIELD_ORDINAL(i + 1), &lengths[i]), "length");
    }
    std::vector<UNSIGNED8> image(recordLength, ' ');
    auto fill = [&](long r) {
        for (size_t i = 0; i < fields.size(); ++i) {
            UNSIGNED8* p = image.data() + offsets[i];
            char text[32];
            switch (fields[i].name[0]) {
                case 'C':
                    std::snprintf(text, sizeof text, "%-20.20s",
                                  ("row " + std::to_string(r)).c_str());
                    std::memcpy(p, text, 20);
                    break;
                case 'N':
                    std::snprintf(text, sizeof text, "%10.2f", r * 0.01 + i);
                    std::memcpy(p, text, 10);
                    break;
                case 'D':
                    std::snprintf(text, sizeof text, "%04ld%02ld%02ld", 1990 + r % 30, 1 + r % 12,
                                  1 + r % 28);
                    std::memcpy(p, text, 8);
                    break;
                case 'L':
                    p[0] = r % 2 ? 'T' : 'F';
                    break;
                case 'I': {
                    int32_t v = static_cast<int32_t>(r);
                    std::memcpy(p, &v, 4);
                    break;
                }
                case 'T': {
                    uint32_t stamp[2] = {static_cast<uint32_t>(2447893 + r % 10000),
                                         static_cast<uint32_t>(r % 86400) * 1000};
                    std::memcpy(p, stamp, 8);
                    break;
                }
                default: {
                    double v = r * 0.5;
                    std::memcpy(p, &v, 8);
                }
            }
        }
    };
    Figures out;
    Timer timer;
    for (long r = 1; r <= records; ++r) {
        fill(r);
        Check(KdsAppendRecord(table), "append");
        for (size_t i = 0; i < fields.size(); ++i) {
            Check(KdsSetFieldRaw(table, KCE_FIELD_ORDINAL(i + 1), image.data() + offsets[i],
                                 lengths[i]),
                  "set field");
        }
        Check(KdsWriteRecord(table), "write");
    }
    out.append = timer.Cpu();
    out.appendWall = timer.Wall();
    timer = Timer();
    long seen = 0;
    UNSIGNED16 eof = 0;
    Check(KdsGotoTop(table), "top");
    Check(KdsAtEOF(table, &eof), "eof");
    while (!eof) {
        UNSIGNED32 len = recordLength;
        Check(KdsGetRecord(table, image.data(), &len), "get record");
        ++seen;
        Check(KdsSkip(table, 1), "skip");
        Check(KdsAtEOF(table, &eof), "eof");
    }
    out.read = timer.Cpu();
    out.readWall = timer.Wall();
    if (seen != records) {
        std::fprintf(stderr, "read %ld records of %ld\n", seen, records);
        std::exit(1);
    }
    Check(KdsCloseTable(table), "close");
    Check(KdsDisconnect(connection), "disconnect");
    return out;
}

Figures RunPythonDbf(const std::string& dir, const std::vector<Field>& fields, long records) {
    std::string fieldList;
    for (const Field& f : fields)
        fieldList += (fieldList.empty() ? "" : "; ") + f.name + " " + f.pythonType;
    std::string script = dir + "/bench.py";
    FILE* py = std::fopen(script.c_str(), "w");
    std::fprintf(py, R"(import datetime, sys, time
import dbf
records = %ld
fieldList = '%s'
names = [s.split()[0] for s in fieldList.split('; ')]
t = dbf.Table('%s/python.dbf', fieldList, dbf_type='vfp')
t.open(dbf.READ_WRITE)
start, cpu = time.monotonic(), time.process_time()
for r in range(1, records + 1):
    row = []
    for i, n in enumerate(names):
        k = n[0]
        if k == 'C': row.append('row %%d' %% r)
        elif k == 'N': row.append(round(r * 0.01 + i, 2))
        elif k == 'D': row.append(datetime.date(1990 + r %% 30, 1 + r %% 12, 1 + r %% 28))
        elif k == 'L': row.append(r %% 2 == 1)
        elif k == 'I': row.append(r)
        elif k == 'T': row.append(datetime.datetime(1990, 1, 1) + datetime.timedelta(days=r %% 10000, seconds=r %% 86400))
        else: row.append(r * 0.5)
    t.append(tuple(row))
append, appendWall = time.process_time() - cpu, time.monotonic() - start
start, cpu = time.monotonic(), time.process_time()
seen = 0
for rec in t:
    for i in range(len(names)):
        rec[i]
    seen += 1
read, readWall = time.process_time() - cpu, time.monotonic() - start
t.close()
assert seen == records, seen
print(append, read, appendWall, readWall)
)",
                 records, fieldList.c_str(), dir.c_str());
    std::fclose(py);
    std::string command = "/usr/bin/python3 " + script;
    FILE* p = popen(command.c_str(), "r");
    Figures out;
    if (!p || std::fscanf(p, "%lf %lf %lf %lf", &out.append, &out.read, &out.appendWall,
                          &out.readWall) != 4) {
        std::fprintf(stderr, "python3-dbf run failed\n");
        if (p) pclose(p);
        return {-1, -1};
    }
    pclose(p);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    long records = 100000;
    if (const char* env = std::getenv("UPDATEBANK_BENCH_RECORDS")) records = std::atol(env);
    // Options of the other benchmark programs (bench/run.sh passes them to all) are ignored.
    std::vector<long> numbers;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') numbers.push_back(std::atol(argv[i]));
    }
    if (!numbers.empty()) records = numbers[0];
    if (records < 1) records = 1;
    // python3-dbf may be given fewer records (its rates per CPU second stay comparable): a full
    // run of it takes minutes.
    long pythonRecords = numbers.size() > 1 ? std::max(1L, numbers[1]) : records;
    std::string dir =
        (std::filesystem::temp_directory_path() / ("dbf_bench." + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(dir);
    const std::vector<Field> fields = Layout();

    Figures engine = RunEngine(dir, fields, records);
    long rss = PeakRssKb();
    Figures python = RunPythonDbf(dir, fields, pythonRecords);
    auto rate = [&](double s) { return s > 0 ? records / s : 0.0; };
    auto row = [&](const char* what, double cpu, double wall) {
        std::printf("%-28s %10.2f %10.2f %12.0f\n", what, cpu, wall, rate(cpu));
    };
    std::printf("DBF, %zu fields, %ld records\n", fields.size(), records);
    std::printf("%-28s %10s %10s %12s\n", "", "cpu s", "wall s", "records/cpu s");
    row("engine append (CDX)", engine.append, engine.appendWall);
    row("engine read", engine.read, engine.readWall);
    if (python.append >= 0) {
        if (pythonRecords != records) std::printf("python3-dbf: %ld records\n", pythonRecords);
        auto prow = [&](const char* what, double cpu, double wall) {
            std::printf("%-28s %10.2f %10.2f %12.0f\n", what, cpu, wall,
                        cpu > 0 ? pythonRecords / cpu : 0.0);
        };
        prow("python3-dbf append (VFP)", python.append, python.appendWall);
        prow("python3-dbf read", python.read, python.readWall);
        double scale = double(records) / double(pythonRecords);
        std::printf(
            "per record by CPU time, append: engine %.1fx faster than python3-dbf; "
            "read: %.1fx\n",
            python.append * scale / engine.append, python.read * scale / engine.read);
    }
    std::printf("engine peak RSS %ld KiB; file %ju bytes\n", rss,
                static_cast<uintmax_t>(std::filesystem::file_size(dir + "/engine.dbf")));
    std::filesystem::remove_all(dir);
    return 0;
}
