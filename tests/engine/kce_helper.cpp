// A second process for the engine's cross-process tests. Usage:
//   kce_helper open FOLDER TABLE OPTIONS      open, print the status, exit
//   kce_helper hold FOLDER TABLE OPTIONS      open, print "ready", wait for end of input
//   kce_helper lock FOLDER TABLE RECNO        lock a record, print the status, wait for end of
//                                             input
//   kce_helper append FOLDER TABLE            append records (A = 1, 2, ...) one per write,
//                                             printing each value once it is written, forever
//   kce_helper set FOLDER TABLE TYPE RECNO FIELD VALUE [INDEXFILE [PASSWORD]]
//                                             open the table of engine type TYPE shared (with
//                                             the index file unless it is "-", and giving the
//                                             password), lock the record, set the field, write,
//                                             unlock (RECNO 0: append a record with the field
//                                             set), print the first failing status (0: done),
//                                             exit
//   kce_helper sql FOLDER COMMIT STATEMENT     begin a transaction, run the statement, commit it
//                                             when COMMIT is 1, print the first failing status
//                                             (0: done), wait for end of input
//   kce_helper index FOLDER TABLE NAME KEY    open the native table shared, create the index
//                                             NAME on KEY, print the status, exit
//   kce_helper reopen FOLDER TABLE TYPE TIMES  open the table of engine type TYPE shared and
//                                             close it again, TIMES times; print the first
//                                             failing status (0: every open succeeded), exit
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/kce.h"

namespace {

const UNSIGNED8* U(const char* s) { return reinterpret_cast<const UNSIGNED8*>(s); }

void WaitForEndOfInput() {
    char buf[64];
    while (std::fgets(buf, sizeof buf, stdin)) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    std::string mode = argv[1];
    KDSHANDLE conn = 0, table = 0;
    if (KdsConnect(U(argv[2]), &conn) != 0) return 3;
    if (mode == "sql") {
        if (argc < 5) return 2;
        KDSHANDLE statement = 0;
        KCESTATUS status = KdsBeginTransaction(conn);
        if (status == 0) status = KdsCreateSQLStatement(conn, &statement);
        if (status == 0) status = KdsExecuteSQLDirect(statement, U(argv[4]), nullptr);
        if (status == 0 && std::atoi(argv[3]) == 1) status = KdsCommitTransaction(conn);
        std::printf("%u\n", status);
        std::fflush(stdout);
        WaitForEndOfInput();
        return 0;
    }
    if (mode == "reopen") {
        if (argc < 6) return 2;
        const UNSIGNED16 type = UNSIGNED16(std::atoi(argv[4]));
        KCESTATUS status = 0;
        for (int i = std::atoi(argv[5]); i > 0 && status == 0; --i) {
            status = KdsOpenTable(conn, U(argv[3]), nullptr, type, KCE_ANSI,
                                  KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &table);
            if (status == 0) status = KdsCloseTable(table);
        }
        std::printf("%u\n", status);
        return 0;
    }
    UNSIGNED32 options = mode == "open" || mode == "hold" ? UNSIGNED32(std::atoi(argv[4])) : 0;
    if (mode == "set" && argc < 8) return 2;
    UNSIGNED16 type = mode == "set" ? UNSIGNED16(std::atoi(argv[4])) : UNSIGNED16(KCE_KDT);
    KCESTATUS s = KdsOpenTable(conn, U(argv[3]), nullptr, type, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                               KCE_CHECK_RIGHTS, options, &table);
    if (mode == "open") {
        std::printf("%u\n", s);
        return 0;
    }
    if (s != 0) {
        std::printf("open failed %u\n", s);
        return 4;
    }
    if (mode == "hold") {
        std::printf("ready\n");
        std::fflush(stdout);
        WaitForEndOfInput();
    } else if (mode == "lock") {
        std::printf("%u\n", KdsLockRecord(table, UNSIGNED32(std::atoi(argv[4]))));
        std::fflush(stdout);
        WaitForEndOfInput();
    } else if (mode == "set") {
        UNSIGNED32 recno = UNSIGNED32(std::atoi(argv[5]));
        KCESTATUS status = 0;
        if (argc > 8 && std::strcmp(argv[8], "-") != 0) {
            KDSHANDLE handles[50];
            UNSIGNED16 count = 50;
            status = KdsOpenIndex(table, U(argv[8]), handles, &count);
        }
        if (status == 0 && argc > 9) status = KdsEnableEncryption(table, U(argv[9]));
        if (status == 0) status = recno ? KdsGotoRecord(table, recno) : KdsAppendRecord(table);
        if (status == 0 && recno) status = KdsLockRecord(table, recno);
        if (status == 0) {
            status = KdsSetField(table, U(argv[6]), U(argv[7]), UNSIGNED32(std::strlen(argv[7])));
        }
        if (status == 0) status = KdsWriteRecord(table);
        if (status == 0 && recno) status = KdsUnlockRecord(table, recno);
        std::printf("%u\n", status);
    } else if (mode == "index") {
        if (argc < 6) return 2;
        KDSHANDLE index = 0;
        std::printf("%u\n",
                    KdsCreateIndex(table, nullptr, U(argv[4]), U(argv[5]), U(""), 0, &index));
    } else if (mode == "append") {
        for (unsigned i = 1;; ++i) {
            std::string value = std::to_string(i);
            if (KdsAppendRecord(table) != 0 ||
                KdsSetField(table, U("A"), U(value.c_str()), UNSIGNED32(value.size())) != 0 ||
                KdsSetField(table, U("PAD"), U("padding padding padding"), 23) != 0 ||
                KdsWriteRecord(table) != 0)
                return 5;
            std::printf("%u\n", i);
            std::fflush(stdout);
        }
    }
    KdsCloseTable(table);
    KdsDisconnect(conn);
    return 0;
}
