// I/O faults under native tables: a SQLite VFS that passes everything to the default one until a
// test tells it to fail writes, as a full disk would.
#include <sqlite3.h>

#include <atomic>

#include "engine/native/kdt_storage.h"
#include "engine_test_util.h"

using namespace kcetest;

namespace {

std::atomic<bool> failWrites{false};
sqlite3_vfs* realVfs = nullptr;

struct FaultyFile {
    sqlite3_file base;
    sqlite3_file* real;  // allocated right after this struct
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<FaultyFile*>(f)->real; }

int Close(sqlite3_file* f) { return Real(f)->pMethods ? Real(f)->pMethods->xClose(Real(f)) : 0; }
int Read(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return Real(f)->pMethods->xRead(Real(f), b, n, o);
}
int Write(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (failWrites) return SQLITE_FULL;
    return Real(f)->pMethods->xWrite(Real(f), b, n, o);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int l) { return Real(f)->pMethods->xLock(Real(f), l); }
int Unlock(sqlite3_file* f, int l) { return Real(f)->pMethods->xUnlock(Real(f), l); }
int CheckReserved(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int pg, int sz, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), pg, sz, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int del) { return Real(f)->pMethods->xShmUnmap(Real(f), del); }

const sqlite3_io_methods kMethods = {2,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReserved,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     nullptr,
                                     nullptr};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    FaultyFile* file = reinterpret_cast<FaultyFile*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    int rc = realVfs->xOpen(realVfs, name, file->real, flags, outFlags);
    file->base.pMethods = rc == SQLITE_OK ? &kMethods : nullptr;
    return rc;
}

sqlite3_vfs faultyVfs;

void RegisterFaultyVfs() {
    if (realVfs) return;
    realVfs = sqlite3_vfs_find(nullptr);
    faultyVfs = *realVfs;
    faultyVfs.zName = "faulty";
    faultyVfs.szOsFile = int(sizeof(FaultyFile)) + realVfs->szOsFile;
    faultyVfs.xOpen = Open;
    sqlite3_vfs_register(&faultyVfs, 0);
}

class FaultTest : public EngineTest {
  protected:
    void SetUp() override {
        RegisterFaultyVfs();
        kce::native::SetSqliteVfsForTesting("faulty");
        EngineTest::SetUp();
    }
    void TearDown() override {
        failWrites = false;
        EngineTest::TearDown();
        kce::native::SetSqliteVfsForTesting(nullptr);
    }
};

TEST_F(FaultTest, AWriteOnAFullDiskFailsAndLeavesTheTableAsItWas) {
    KDSHANDLE t = Create("T", "A,integer;NOTE,memo");
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "A", "1");
    ASSERT_EQ(KdsWriteRecord(t), 0u);

    failWrites = true;
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "A", "2");
    Set(t, "NOTE", std::string(20000, 'x'));
    EXPECT_EQ(KdsWriteRecord(t), KCE_DISK_FULL);
    ASSERT_EQ(KdsGotoRecord(t, 1), 0u);
    Set(t, "A", "10");
    EXPECT_EQ(KdsWriteRecord(t), KCE_DISK_FULL);
    EXPECT_EQ(KdsDeleteRecord(t), KCE_DISK_FULL);
    failWrites = false;

    // Nothing of the failed writes reached the table, and it still takes new ones (a move
    // drops what was pending).
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_EQ(Field(t, "A"), "1");
    EXPECT_EQ(Count(t), 1u);
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "A", "3");
    ASSERT_EQ(KdsWriteRecord(t), 0u);
    KdsCloseTable(t);
    t = Open("T");
    EXPECT_EQ(Count(t), 2u);
}

}  // namespace
