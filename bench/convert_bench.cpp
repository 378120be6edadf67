// The CONVERT command end to end (`updatebank convert`) on employee tables in the full employee
// layout, half of the employees with a photo of about 20 KB, with and without --audit (the audit
// of every value that did not arrive unchanged; its cost is printed), beside two peers in the
// same run:
//
//   sqlite floor  the same copy done directly in SQLite on the same two .kdt files: the target's
//                 record rows emptied and refilled with one INSERT INTO ... SELECT ... FROM the
//                 source in one transaction (the sqlite3 program; index rows are not kept);
//   one commit a record
//                 the same copy with one transaction per record, as the engine must post (each
//                 posted record survives a crash of the process): this program itself, in a
//                 child process, with one prepared INSERT INTO ... SELECT of one record number,
//                 WAL, synchronous=NORMAL and the engine's checkpoint interval (index rows are
//                 not kept);
//   ogr2ogr       GDAL copying an equivalent DBF table (the same records and field sizes, field
//                 names cut to ten characters, no photos: GDAL's DBF driver has no blobs).
//
// Each is a child process timed on the wall clock, with its peak resident memory (wait4).
//
// Usage: convert_bench [COUNT...] (default 20000 100000; options are ignored). The tables are made
// once with kdstool from samples/make_employees.py under UPDATEBANK_BENCH_DIR (default
// BUILD/bench-data/convert) and kept for later runs; making 100,000 employees takes a few minutes.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kSource = UPDATEBANK_SOURCE_DIR;
const std::string kBinary = UPDATEBANK_BINARY_DIR;
const std::string kTool = kBinary + "/tools/kdstool";
const std::string kProgram = kBinary + "/app/updatebank";

struct Run {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the child
    double peakMiB = 0;
};

// Runs `args` (stdout to `outFile`, or /dev/null) with `env` added, and measures it.
Run Measure(const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env = {},
            const std::string& outFile = "/dev/null") {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) envText.push_back(*e);
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    Run run;
    auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
        run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

bool Shell(const std::string& command) {
    Run r = Measure({"/bin/sh", "-c", command}, {}, "/dev/stderr");
    if (r.status != 0) std::fprintf(stderr, "failed (%d): %s\n", r.status, command.c_str());
    return r.status == 0;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

struct Field {
    std::string name, type;
    int length = 0;
};

std::vector<Field> Layout() {
    std::vector<Field> fields;
    std::ifstream in(kSource + "/samples/employee.layout");
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        Field f;
        size_t a = line.find(':'), b = line.find(':', a + 1);
        f.name = line.substr(0, a);
        f.type = line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
        if (b != std::string::npos) f.length = std::stoi(line.substr(b + 1));
        fields.push_back(f);
    }
    return fields;
}

std::string CreateArgs(const std::vector<Field>& fields) {
    std::string args;
    for (const Field& f : fields)
        args += " " + f.name + ":" + f.type + (f.length ? ":" + std::to_string(f.length) : "");
    return args + " --index BYEMPNO=EMP_NO:unique";
}

// The source table of `count` employees, and the equivalent DBF, made once.
bool MakeData(const fs::path& dir, long count, const std::vector<Field>& fields) {
    fs::path stamp = dir / ".made";
    if (fs::exists(stamp)) return true;
    fs::remove_all(dir);
    fs::create_directories(dir / "source");
    fs::create_directories(dir / "dbf");
    std::fprintf(stderr, "making %ld employees in %s ...\n", count, dir.c_str());
    std::string src = (dir / "source" / "EMPLOYEE.kdt").string();
    if (!Shell(kTool + " create " + Quoted(src) + CreateArgs(fields))) return false;
    if (!Shell("/usr/bin/python3 " + Quoted(kSource + "/samples/make_employees.py") + " " +
               Quoted(kSource + "/samples/employee.layout") + " --count " + std::to_string(count) +
               " --photo-every 2 --photo-size 20480 | " + kTool + " import " + Quoted(src) + " -"))
        return false;
    // The DBF: the records without the photo through CSV, with the field sizes in a .csvt file.
    std::string columns, types;
    for (const Field& f : fields) {
        if (f.name == "PHOTO_ID") continue;
        columns += (columns.empty() ? "" : ", ") + ("\"" + f.name + "\"");
        std::string t = f.type == "char"      ? "String(" + std::to_string(f.length) + ")"
                        : f.type == "date"    ? "Date"
                        : f.type == "integer" ? "Integer(10)"
                        : f.type == "money"   ? "Real(20.4)"
                                              : "Real(20.6)";
        types += (types.empty() ? "" : ",") + ("\"" + t + "\"");
    }
    fs::path csv = dir / "dbf" / "employee.csv";
    if (!Shell("ogr2ogr -f CSV " + Quoted(csv.string()) + " " + Quoted(src) + " -sql " +
               Quoted("SELECT " + columns + " FROM records ORDER BY kdt_recno")))
        return false;
    std::ofstream(dir / "dbf" / "employee.csvt") << types << "\n";
    if (!Shell("ogr2ogr -f 'ESRI Shapefile' " + Quoted((dir / "dbf" / "employee.dbf").string()) +
               " " + Quoted(csv.string()) + " 2>/dev/null"))
        return false;
    fs::remove(csv);
    std::ofstream(stamp) << count << "\n";
    return true;
}

bool FreshTarget(const fs::path& dir, const std::vector<Field>& fields) {
    fs::remove_all(dir / "target");
    fs::create_directories(dir / "target");
    return Shell(kTool + " create " + Quoted((dir / "target" / "EMPLOYEE.kdt").string()) +
                 CreateArgs(fields));
}

void Report(const char* what, long count, const Run& r, const Run& floor) {
    if (r.status != 0) {
        std::printf("%-28s failed (exit status %d after %.2f s)\n", what, r.status, r.seconds);
        return;
    }
    std::printf("%-28s %9.2f %11.0f %9.1f %8.2fx\n", what, r.seconds, count / r.seconds, r.peakMiB,
                floor.seconds > 0 ? r.seconds / floor.seconds : 0.0);
}

}  // namespace

// The child of "one commit a record": copies every record of `source` into `target` (both .kdt
// files of the same layout), emptied first, one transaction per record. Returns the exit status.
int CopyOneCommitARecord(const char* source, const char* target) {
    sqlite3* db = nullptr;
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : "cannot open");
        sqlite3_close(db);
        return 1;
    };
    if (sqlite3_open(target, &db) != SQLITE_OK) return fail("open");
    std::string attach = "ATTACH '" + std::string(source) + "' AS src";
    if (sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db,
                     "PRAGMA synchronous = NORMAL; PRAGMA wal_autocheckpoint = 8192; "
                     "DELETE FROM records",
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("prepare the target");
    std::vector<sqlite3_int64> numbers;
    sqlite3_stmt* list = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT kdt_recno FROM src.records ORDER BY kdt_recno", -1, &list,
                           nullptr) != SQLITE_OK)
        return fail("list");
    while (sqlite3_step(list) == SQLITE_ROW) numbers.push_back(sqlite3_column_int64(list, 0));
    sqlite3_finalize(list);
    sqlite3_stmt* copy = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO records SELECT * FROM src.records WHERE kdt_recno = ?",
                           -1, &copy, nullptr) != SQLITE_OK)
        return fail("copy");
    for (sqlite3_int64 number : numbers) {
        sqlite3_bind_int64(copy, 1, number);
        if (sqlite3_step(copy) != SQLITE_DONE) {
            sqlite3_finalize(copy);
            return fail("copy a record");
        }
        sqlite3_reset(copy);
    }
    sqlite3_finalize(copy);
    return sqlite3_close(db) == SQLITE_OK ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--one-commit-a-record")
        return CopyOneCommitARecord(argv[2], argv[3]);
    std::vector<long> counts;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') counts.push_back(std::atol(argv[i]));  // bench/run.sh's options
    if (counts.empty()) counts = {20000, 100000};
    const char* base = std::getenv("UPDATEBANK_BENCH_DIR");
    fs::path root = base && *base ? fs::path(base) : fs::path(kBinary) / "bench-data" / "convert";
    std::vector<Field> fields = Layout();

    for (long count : counts) {
        fs::path dir = root / std::to_string(count);
        if (!MakeData(dir, count, fields)) return 1;
        std::string src = (dir / "source" / "EMPLOYEE.kdt").string();
        std::string tgt = (dir / "target" / "EMPLOYEE.kdt").string();

        // The floor: every column of the layout (the two layouts are the same), one transaction.
        if (!FreshTarget(dir, fields)) return 1;
        std::string columns = "kdt_recno";
        for (const Field& f : fields) columns += ", \"" + f.name + "\"";
        Run floor = Measure({"sqlite3", tgt,
                             "ATTACH '" + src + "' AS src; BEGIN; DELETE FROM records; " +
                                 "INSERT INTO records(" + columns + ") SELECT " + columns +
                                 " FROM src.records; COMMIT;"});

        if (!FreshTarget(dir, fields)) return 1;
        Run perRecord = Measure({"/proc/self/exe", "--one-commit-a-record", src, tgt});

        if (!FreshTarget(dir, fields)) return 1;
        fs::create_directories(dir / "drive_c");
        Run convert =
            Measure({kProgram, "convert", dir / "source", dir / "target"},
                    {{"UPDATEBANK_DRIVE_C", (dir / "drive_c").string()}}, (dir / "convert.out"));

        // The same run with the audit (convert --audit), into a fresh target; then the plain run
        // and the audited one once more, each counted at its faster time, so that the two are
        // measured under the same load.
        if (!FreshTarget(dir, fields)) return 1;
        Run audited = Measure(
            {kProgram, "convert", "--audit", dir / "audit.jsonl", dir / "source", dir / "target"},
            {{"UPDATEBANK_DRIVE_C", (dir / "drive_c").string()}}, (dir / "audited.out"));
        if (!FreshTarget(dir, fields)) return 1;
        Run convert2 =
            Measure({kProgram, "convert", dir / "source", dir / "target"},
                    {{"UPDATEBANK_DRIVE_C", (dir / "drive_c").string()}}, (dir / "convert.out"));
        if (!FreshTarget(dir, fields)) return 1;
        Run audited2 = Measure(
            {kProgram, "convert", "--audit", dir / "audit.jsonl", dir / "source", dir / "target"},
            {{"UPDATEBANK_DRIVE_C", (dir / "drive_c").string()}}, (dir / "audited.out"));
        if (convert2.status == 0 && convert2.seconds < convert.seconds) convert = convert2;
        if (audited2.status == 0 && audited2.seconds < audited.seconds) audited = audited2;

        fs::remove_all(dir / "dbf-copy");
        fs::create_directories(dir / "dbf-copy");
        Run ogr = Measure({"ogr2ogr", "-f", "ESRI Shapefile", (dir / "dbf-copy" / "copy.dbf"),
                           (dir / "dbf" / "employee.dbf")});

        std::printf("convert, %ld employees in the full layout, %ld with a 20 KB photo\n", count,
                    count / 2);
        std::printf("%-28s %9s %11s %9s %9s\n", "", "seconds", "records/s", "peak MiB", "x floor");
        Report("updatebank convert", count, convert, floor);
        Report("updatebank convert --audit", count, audited, floor);
        if (convert.status == 0 && audited.status == 0)
            std::printf(
                "  the audit costs %+.1f%% of wall-clock time over the plain run, %+.1f%% "
                "of CPU time (%.2f s against %.2f s)\n",
                100.0 * (audited.seconds / convert.seconds - 1.0),
                100.0 * (audited.cpuSeconds / convert.cpuSeconds - 1.0), audited.cpuSeconds,
                convert.cpuSeconds);
        Report("sqlite floor (same files)", count, floor, floor);
        Report("sqlite, one commit a record", count, perRecord, floor);
        if (convert.status == 0 && perRecord.status == 0)
            std::printf("  updatebank convert is %.2f times the copy with one commit a record\n",
                        convert.seconds / perRecord.seconds);
        Report("ogr2ogr DBF (no photos)", count, ogr, floor);
        if (convert.status != 0)
            std::printf("  updatebank's output: %s\n", (dir / "convert.out").c_str());
    }
    return 0;
}
