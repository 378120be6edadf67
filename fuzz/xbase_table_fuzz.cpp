// Hostile DBF tables with their index and memo files, through the engine's C interface: opening
// the table and its indexes, walking every order both ways, seeking, reading every field (memos
// included), checking, and appending a record must give statuses, never a crash, a hang or an
// unbounded allocation. The input is a flag byte (bit 0: the index is t.ntx, opened by name, else
// the table's own t.cdx; bit 1: open read-only), the DBF's and the index's 16-bit lengths, those
// bytes, and the rest as the memo file (written both as t.fpt and t.dbt).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "fuzz/fuzz_files.h"

namespace {

const UNSIGNED8* U(const char* s) { return reinterpret_cast<const UNSIGNED8*>(s); }

KDSHANDLE Connection() {
    static KDSHANDLE c = [] {
        KDSHANDLE h = 0;
        KdsConnect(U(fuzzfiles::Folder("xbase_table_fuzz").c_str()), &h);
        return h;
    }();
    return c;
}

// Reads every field of the current record in text form.
void ReadFields(KDSHANDLE table, UNSIGNED16 fields, std::vector<UNSIGNED8>* buf) {
    for (UNSIGNED16 f = 1; f <= fields; ++f) {
        UNSIGNED32 len = UNSIGNED32(buf->size());
        KdsGetField(table, KCE_FIELD_ORDINAL(f), buf->data(), &len, 0);
        UNSIGNED32 length = 0;
        KdsGetMemoLength(table, KCE_FIELD_ORDINAL(f), &length);
    }
}

// Walks one order (an index handle, or the table itself) forwards, backwards and by seeks.
void Walk(KDSHANDLE order, KDSHANDLE table, UNSIGNED16 fields, std::vector<UNSIGNED8>* buf) {
    std::string firstKey;
    UNSIGNED16 flag = 0;
    if (KdsGotoTop(order) == 0) {
        for (int n = 0; n < 300; ++n) {
            if (KdsAtEOF(order, &flag) != 0 || flag) break;
            ReadFields(table, fields, buf);
            if (n == 0 && fields > 0) {
                UNSIGNED32 len = UNSIGNED32(buf->size());
                if (KdsGetField(table, KCE_FIELD_ORDINAL(1), buf->data(), &len, 0) == 0)
                    firstKey.assign(reinterpret_cast<char*>(buf->data()), len);
            }
            if (KdsSkip(order, 1) != 0) break;
        }
    }
    if (KdsGotoBottom(order) == 0) {
        for (int n = 0; n < 300; ++n) {
            if (KdsAtBOF(order, &flag) != 0 || flag) break;
            UNSIGNED32 recno = 0;
            KdsGetRecordNum(order, 0, &recno);
            if (KdsSkip(order, -1) != 0) break;
        }
    }
    if (order == table) return;
    UNSIGNED16 found = 0;
    UNSIGNED16 keyLength = 0;
    KdsGetKeyLength(order, &keyLength);
    if (firstKey.size() > keyLength) firstKey.resize(keyLength);
    for (UNSIGNED16 type : {KCE_SOFTSEEK, KCE_HARDSEEK, KCE_SEEKGT}) {
        KdsSeek(order, U(firstKey.c_str()), UNSIGNED16(firstKey.size()), KCE_STRINGKEY, type,
                &found);
    }
    std::vector<UNSIGNED8> raw(keyLength ? keyLength : 1, 0xFF);
    KdsSeek(order, raw.data(), keyLength, KCE_RAWKEY, KCE_SOFTSEEK, &found);
    double position = 0;
    KdsGetRelKeyPos(order, &position);
    KdsSetRelKeyPos(order, 0.5);
    UNSIGNED32 count = 0;
    KdsGetRecordCount(order, KCE_RESPECT_SCOPES, &count);
}

void Put(const std::string& name, const uint8_t* data, size_t size) {
    fuzzfiles::Put(fuzzfiles::Folder("xbase_table_fuzz") + "/" + name, data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5 || !Connection()) return 0;
    const bool ntx = data[0] & 1;
    const bool readOnly = data[0] & 2;
    size_t dbfSize = std::min<size_t>(size - 5, data[1] | (data[2] << 8));
    size_t indexSize = std::min<size_t>(size - 5 - dbfSize, data[3] | (data[4] << 8));
    const uint8_t* dbf = data + 5;
    const uint8_t* index = dbf + dbfSize;
    const uint8_t* memo = index + indexSize;
    const size_t memoSize = size - 5 - dbfSize - indexSize;
    Put("t.dbf", dbf, dbfSize);
    Put("t.cdx", index, ntx ? 0 : indexSize);
    Put("t.ntx", index, ntx ? indexSize : 0);
    if (ntx) std::remove((fuzzfiles::Folder("xbase_table_fuzz") + "/t.cdx").c_str());
    Put("t.fpt", memo, memoSize);
    Put("t.dbt", memo, memoSize);

    KDSHANDLE table = 0;
    if (KdsOpenTable(Connection(), U("t.dbf"), nullptr, ntx ? KCE_NTX : KCE_CDX, KCE_ANSI,
                     KCE_COMPATIBLE_LOCKING, KCE_IGNORE_RIGHTS, readOnly ? KCE_OPEN_READ_ONLY : 0,
                     &table) != 0) {
        return 0;
    }
    KDSHANDLE handles[50];
    UNSIGNED16 count = 50;
    if (ntx) {
        if (KdsOpenIndex(table, U("t.ntx"), handles, &count) != 0) count = 0;
    } else if (KdsGetAllIndexes(table, handles, &count) != 0) {
        count = 0;
    }
    UNSIGNED16 fields = 0;
    KdsGetNumFields(table, &fields);
    std::vector<UNSIGNED8> buf(1 << 16);
    Walk(table, table, fields, &buf);
    for (UNSIGNED16 i = 0; i < count && i < 4; ++i) Walk(handles[i], table, fields, &buf);
    KdsCheckIndexes(table);
    if (!readOnly && KdsAppendRecord(table) == 0) {
        if (fields > 0) KdsSetField(table, KCE_FIELD_ORDINAL(1), U("K"), 1);
        if (KdsWriteRecord(table) != 0) KdsCancelUpdate(table);
    }
    KdsCloseTable(table);
    return 0;
}
