// An encrypted native table beside the same plain table, in one run: appending records of the
// 230-field layout one KdsWriteRecord at a time, then reading them all with KdsSkip and
// KdsGetRecord. Both tables are made the same way; the encrypted one is encrypted while empty and
// holds its password (derived once, before the timing). Each side runs twice, in the order plain,
// encrypted, encrypted, plain, and the better of its two runs counts, so that a load change on the
// shared machine weighs on both. The ratio says what sealing and opening every record costs.
//
// UPDATEBANK_BENCH_RECORDS sets the number of records (default 20000).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_layout.h"

namespace {

using bench::Check;
using bench::U;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Times {
    double appendWall = 1e99, appendCpu = 1e99, readWall = 1e99, readCpu = 1e99;
};

void Run(bool encrypted, int n, Times* best) {
    const auto cols = bench::Layout();
    const std::string dir = bench::TempFolder(encrypted ? "crypt-bench" : "plain-bench");
    KDSHANDLE conn = 0, t = 0;
    Check(KdsConnect(U(dir), &conn), "connect");
    Check(KdsCreateTable(conn, U("BENCH"), KCE_KDT, KCE_ANSI, U(bench::FieldList(cols)), 0, &t),
          "create");
    if (encrypted) Check(KdsEncryptTable(t, U("KRALD4729")), "encrypt");
    std::vector<std::vector<std::string>> images = {bench::Images(cols, 0), bench::Images(cols, 1)};
    UNSIGNED32 recordLength = 0;
    KdsGetRecordLength(t, &recordLength);
    std::vector<UNSIGNED8> record(recordLength);

    double cpu = CpuSeconds();
    double wall = bench::Seconds([&] {
        for (int i = 0; i < n; ++i) {
            const auto& values = images[i % 2];
            Check(KdsAppendRecord(t), "append");
            for (size_t c = 0; c < cols.size(); ++c) {
                Check(KdsSetFieldRaw(t, KCE_FIELD_ORDINAL(c + 1), U(values[c]),
                                     UNSIGNED32(values[c].size())),
                      "set field");
            }
            Check(KdsWriteRecord(t), "write");
        }
    });
    best->appendWall = std::min(best->appendWall, wall);
    best->appendCpu = std::min(best->appendCpu, CpuSeconds() - cpu);
    cpu = CpuSeconds();
    wall = bench::Seconds([&] { bench::ReadAllRecords(t, record, n); });
    best->readWall = std::min(best->readWall, wall);
    best->readCpu = std::min(best->readCpu, CpuSeconds() - cpu);
    KdsCloseTable(t);
    KdsDisconnect(conn);
    std::filesystem::remove_all(dir);
}

}  // namespace

int main() {
    const int n = bench::EnvInt("UPDATEBANK_BENCH_RECORDS", 20000);
    Times plain, encrypted;
    Run(false, n, &plain);
    Run(true, n, &encrypted);
    Run(true, n, &encrypted);
    Run(false, n, &plain);
    std::printf("%d records of 230 fields, the better of two runs each\n", n);
    std::printf("%-14s %10s %10s %7s\n", "work", "plain", "encrypted", "ratio");
    auto line = [](const char* what, double p, double e) {
        std::printf("%-14s %9.3fs %9.3fs %7.2f\n", what, p, e, e / p);
    };
    line("append, wall", plain.appendWall, encrypted.appendWall);
    line("append, CPU", plain.appendCpu, encrypted.appendCpu);
    line("read, wall", plain.readWall, encrypted.readWall);
    line("read, CPU", plain.readCpu, encrypted.readCpu);
    return 0;
}
