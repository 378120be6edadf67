// SQL over the engine's native tables against the same statements run by the sqlite3 program on
// plain SQLite copies of the same rows, in one run: a join (the progression rows of one
// department's employees) and an aggregate (per employee: count, sum and latest day of the
// progression rows). The engine side runs each through KdsExecuteSQLDirect and walks its result
// set; the sqlite3 side runs the same text, its output sent to /dev/null. The plain copies have no
// index: sqlite3 makes its own automatic one for the join, as the engine's statement builds its
// column lookup.
//
// Each side is timed in CPU seconds (this process for the engine, the finished child processes
// for sqlite3), wall seconds beside them; each statement runs UPDATEBANK_BENCH_REPEAT times
// (default 3), the two sides in turn, and the median of the ratios closes its lines.
//
// UPDATEBANK_BENCH_EMPLOYEES (default 100000) employees, five progression rows each;
// UPDATEBANK_BENCH_SQL names the one statement to run (join or aggregate) when set.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
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

std::string Code(int i) { return "E" + std::to_string(100000 + i); }

// CPU seconds (user and system) of this process, and of its children that ended.
double ProcessCpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double ChildrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Times {
    double cpu = 0;
    double wall = 0;
};

// The CPU seconds `work` takes on `clock`, and its wall seconds. The machine these run on is
// shared: CPU time says what the work costs, wall time also how long it waited.
Times Measure(double (*clock)(), const std::function<void()>& work) {
    Times t;
    double start = clock();
    t.wall = Seconds(work);
    t.cpu = clock() - start;
    return t;
}

}  // namespace

int main() {
    const int employees = EnvInt("UPDATEBANK_BENCH_EMPLOYEES", 100000);
    char templ[] = "/tmp/sql-bench-XXXXXX";
    const std::string dir = ::mkdtemp(templ);
    KDSHANDLE conn = 0, emp = 0, prog = 0, stmt = 0;
    Check(KdsConnect(U(dir), &conn), "connect");
    Check(KdsCreateTable(conn, U("EMP"), KCE_KDT, KCE_ANSI,
                         U("CODE,char,8;NAME,char,20;DEPT,integer"), 0, &emp),
          "create EMP");
    Check(KdsCreateTable(conn, U("PROG"), KCE_KDT, KCE_ANSI,
                         U("CODE,char,8;DAY,date;AMOUNT,double"), 0, &prog),
          "create PROG");
    sqlite3* plain = nullptr;
    sqlite3_open((dir + "/plain.db").c_str(), &plain);
    Sql(plain,
        "CREATE TABLE EMP(CODE TEXT, NAME TEXT, DEPT INTEGER);"
        "CREATE TABLE PROG(CODE TEXT, DAY TEXT, AMOUNT REAL); BEGIN");
    sqlite3_stmt *insEmp = nullptr, *insProg = nullptr;
    sqlite3_prepare_v2(plain, "INSERT INTO EMP VALUES (?1, ?2, ?3)", -1, &insEmp, nullptr);
    sqlite3_prepare_v2(plain, "INSERT INTO PROG VALUES (?1, ?2, ?3)", -1, &insProg, nullptr);
    Check(KdsBeginTransaction(conn), "begin");
    auto set = [](KDSHANDLE t, const char* field, const std::string& v) {
        Check(KdsSetField(t, U(field), U(v), UNSIGNED32(v.size())), field);
    };
    for (int i = 0; i < employees; ++i) {
        std::string code = Code(i), name = "NAME " + std::to_string(i),
                    dept = std::to_string(i % 100);
        Check(KdsAppendRecord(emp), "append");
        set(emp, "CODE", code);
        set(emp, "NAME", name);
        set(emp, "DEPT", dept);
        Check(KdsWriteRecord(emp), "write");
        sqlite3_bind_text(insEmp, 1, code.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insEmp, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insEmp, 3, i % 100);
        sqlite3_step(insEmp);
        sqlite3_reset(insEmp);
        for (int k = 0; k < 5; ++k) {
            char day[16], amount[32];
            std::snprintf(day, sizeof day, "20%02d-%02d-%02d", 10 + k, 1 + i % 12, 1 + i % 28);
            std::snprintf(amount, sizeof amount, "%d.%02d", 1000 + (i * 7 + k) % 5000, k * 11);
            Check(KdsAppendRecord(prog), "append");
            set(prog, "CODE", code);
            set(prog, "DAY", day);
            set(prog, "AMOUNT", amount);
            Check(KdsWriteRecord(prog), "write");
            sqlite3_bind_text(insProg, 1, code.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insProg, 2, day, -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(insProg, 3, std::atof(amount));
            sqlite3_step(insProg);
            sqlite3_reset(insProg);
        }
    }
    Check(KdsCommitTransaction(conn), "commit");
    Sql(plain, "COMMIT");
    sqlite3_finalize(insEmp);
    sqlite3_finalize(insProg);
    sqlite3_close(plain);
    KdsCloseTable(emp);
    KdsCloseTable(prog);
    Check(KdsCreateSQLStatement(conn, &stmt), "statement");

    struct Case {
        const char* name;
        const char* sql;
    } cases[] = {
        {"join",
         "SELECT e.NAME, p.DAY, p.AMOUNT FROM EMP e JOIN PROG p ON p.CODE = e.CODE "
         "WHERE e.DEPT = 7"},
        {"aggregate",
         "SELECT CODE, COUNT(*) AS N, SUM(AMOUNT) AS TOTAL, MAX(DAY) AS LAST FROM "
         "PROG GROUP BY CODE"},
    };
    const int repeat = EnvInt("UPDATEBANK_BENCH_REPEAT", 3);
    std::printf("%d employees, %d progression rows; CPU seconds (wall seconds in brackets)\n",
                employees, employees * 5);
    std::printf("%-10s %4s %20s %20s %7s %8s\n", "statement", "run", "engine s", "sqlite3 s",
                "ratio", "rows");
    const char* only = std::getenv("UPDATEBANK_BENCH_SQL");
    for (const Case& c : cases) {
        if (only && *only && std::string(only) != c.name) continue;
        std::vector<double> ratios;
        for (int run = 1; run <= repeat; ++run) {
            UNSIGNED32 rows = 0;
            Times engine = Measure(ProcessCpu, [&] {
                KDSHANDLE cursor = 0;
                Check(KdsExecuteSQLDirect(stmt, U(c.sql), &cursor), c.name);
                std::vector<UNSIGNED8> image(4096);
                for (KdsGotoTop(cursor);; KdsSkip(cursor, 1)) {
                    UNSIGNED16 eof = 0;
                    KdsAtEOF(cursor, &eof);
                    if (eof) break;
                    UNSIGNED32 len = UNSIGNED32(image.size());
                    Check(KdsGetRecord(cursor, image.data(), &len), "record");
                    ++rows;
                }
                KdsCloseTable(cursor);
            });
            std::string command = "sqlite3 " + dir + "/plain.db \"" + c.sql + "\" > /dev/null";
            Times peer = Measure(ChildrenCpu, [&] {
                if (std::system(command.c_str()) != 0) std::exit(1);
            });
            ratios.push_back(engine.cpu / peer.cpu);
            std::printf("%-10s %4d %11.3f (%6.3f) %11.3f (%6.3f) %7.2f %8u\n", c.name, run,
                        engine.cpu, engine.wall, peer.cpu, peer.wall, ratios.back(),
                        unsigned(rows));
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf("%-10s median CPU ratio %.2f\n", c.name, ratios[ratios.size() / 2]);
    }
    KdsCloseSQLStatement(stmt);
    KdsDisconnect(conn);
    std::filesystem::remove_all(dir);
    return 0;
}
