// Fixtures of the data-access component tests: a fresh folder per test, tables made there through
// the engine's own calls, and the three storages the engine has.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "kds/kdstable.h"

namespace kdstest {

inline const UNSIGNED8* U(const std::string& s) {
    return reinterpret_cast<const UNSIGNED8*>(s.c_str());
}

inline std::string LastErrorText() {
    UNSIGNED32 code = 0;
    UNSIGNED8 buf[KCE_MAX_ERROR_LEN + 1] = {};
    UNSIGNED16 len = KCE_MAX_ERROR_LEN;
    KdsGetLastError(&code, buf, &len);
    return std::string(reinterpret_cast<char*>(buf), len);
}

inline int OpenTables() {
    UNSIGNED16 count = 0;
    KdsGetNumOpenTables(&count);
    return count;
}

// One storage of the engine: native tables and the two xBase kinds.
struct Storage {
    const char* Name;
    kds::TKdsTableTypes TableType;
    UNSIGNED16 EngineType;
    const char* Extension;
};
inline const Storage kKdt{"KDT", kds::ttKdsKDT, 3, ".kdt"};
inline const Storage kCdx{"CDX", kds::ttKdsCDX, 2, ".dbf"};
inline const Storage kNtx{"NTX", kds::ttKdsNTX, 1, ".dbf"};

// A row of field values in the engine's text form (KdsSetField); an empty text leaves the field
// empty.
using Row = std::vector<std::string>;

class KdsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstest-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        openTablesBefore_ = OpenTables();
    }
    void TearDown() override {
        owner_.reset();
        // Whatever a test opened, its components closed again.
        EXPECT_EQ(OpenTables(), openTablesBefore_);
        std::filesystem::remove_all(dir_);
    }

    const std::string& Dir() const { return dir_; }

    // Creates a table in the test folder and fills it; fields as KdsCreateTable takes them.
    void MakeTable(const std::string& name, const Storage& storage, const std::string& fields,
                   const std::vector<Row>& rows = {}) {
        // Closed on every path, so that a failed fixture leaves no handle behind.
        struct Handles {
            KDSHANDLE connection = 0;
            KDSHANDLE table = 0;
            ~Handles() {
                if (table != 0) KdsCloseTable(table);
                if (connection != 0) KdsDisconnect(connection);
            }
        } h;
        ASSERT_EQ(KdsConnect(U(dir_), &h.connection), 0u) << LastErrorText();
        ASSERT_EQ(
            KdsCreateTable(h.connection, U(name), storage.EngineType, 1, U(fields), 0, &h.table),
            0u)
            << LastErrorText();
        UNSIGNED16 fieldCount = 0;
        KdsGetNumFields(h.table, &fieldCount);
        for (const Row& row : rows) {
            ASSERT_EQ(KdsAppendRecord(h.table), 0u) << LastErrorText();
            for (size_t i = 0; i < row.size() && i < fieldCount; ++i) {
                if (row[i].empty()) continue;
                ASSERT_EQ(KdsSetField(h.table, KCE_FIELD_ORDINAL(i + 1), U(row[i]),
                                      UNSIGNED32(row[i].size())),
                          0u)
                    << "field " << i + 1 << " '" << row[i] << "': " << LastErrorText();
            }
            ASSERT_EQ(KdsWriteRecord(h.table), 0u) << LastErrorText();
        }
    }

    // Appends many rows of (N integer, NAME string) quickly: one table handle for all.
    void MakeNumberedTable(const std::string& name, const Storage& storage, int count) {
        std::vector<Row> rows;
        rows.reserve(count);
        for (int i = 1; i <= count; ++i)
            rows.push_back({std::to_string(i), "R" + std::to_string(i)});
        MakeTable(name, storage, "N,numeric,8,0;NAME,char,10", rows);
    }

    // An owner for components, destroyed before the folder goes.
    rtl::TComponent& Owner() {
        if (!owner_) {
            owner_ = std::make_unique<rtl::TComponent>(nullptr);
            owner_->SetName("Form1");
        }
        return *owner_;
    }

    // A table component on the test folder, named, owned by Owner().
    kds::TKdsTable* NewTable(const std::string& componentName, const std::string& tableName,
                             const Storage& storage) {
        auto* table = new kds::TKdsTable(&Owner());
        table->SetName(componentName);
        table->SetDatabaseName(dir_);
        table->SetTableType(storage.TableType);
        table->SetTableName(tableName);
        return table;
    }

  private:
    std::string dir_;
    int openTablesBefore_ = 0;
    std::unique_ptr<rtl::TComponent> owner_;
};

}  // namespace kdstest
