// Small real tables for the editing, blob and index tests of the Keel datasets: made through the
// engine in a fresh temporary folder, then opened with TKdsTable.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "kds/kdsdata.h"
#include "kds/kdstable.h"

namespace kdstest {

inline const UNSIGNED8* U(const std::string& text) {
    return reinterpret_cast<const UNSIGNED8*>(text.c_str());
}

// The storage kinds a table can have, as the dataset names them and as the engine does.
struct StorageKind {
    const char* name;
    kds::TKdsTableTypes tableType;
    UNSIGNED16 engineType;
};

inline const StorageKind kNative{"Native", kds::ttKdsKDT, 3};
inline const StorageKind kCdx{"Cdx", kds::ttKdsCDX, 2};
inline const StorageKind kNtx{"Ntx", kds::ttKdsNTX, 1};

inline std::string KindName(const testing::TestParamInfo<StorageKind>& info) {
    return info.param.name;
}

// A folder of its own, removed with everything in it at the end of the test.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kds-edit-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

struct IndexSpec {
    IndexSpec(std::string name, std::string key, UNSIGNED32 options = 0, std::string file = "")
        : name(std::move(name)), key(std::move(key)), options(options), file(std::move(file)) {}
    std::string name;
    std::string key;
    UNSIGNED32 options;
    std::string file;  // empty: kept in the table's own file
};

using Row = std::map<std::string, std::string>;  // field name -> text form

// Creates `table` in `folder`: the fields as the engine takes them ("NAME,TYPE,LENGTH;..."),
// then the indexes, then the rows (set through the engine's text form).
inline void MakeTable(const std::string& folder, const std::string& table, const StorageKind& kind,
                      const std::string& fields, const std::vector<Row>& rows = {},
                      const std::vector<IndexSpec>& indexes = {}) {
    KDSHANDLE connection = 0, handle = 0;
    ASSERT_EQ(KdsConnect(U(folder), &connection), 0u);
    ASSERT_EQ(KdsCreateTable(connection, U(table), kind.engineType, 1, U(fields), 0, &handle), 0u);
    for (const IndexSpec& index : indexes) {
        KDSHANDLE order = 0;
        ASSERT_EQ(KdsCreateIndex(handle, index.file.empty() ? nullptr : U(index.file),
                                 U(index.name), U(index.key), nullptr, index.options, &order),
                  0u)
            << index.name;
    }
    for (const Row& row : rows) {
        ASSERT_EQ(KdsAppendRecord(handle), 0u);
        for (const auto& [field, text] : row) {
            ASSERT_EQ(KdsSetField(handle, U(field), U(text), UNSIGNED32(text.size())), 0u) << field;
        }
        ASSERT_EQ(KdsWriteRecord(handle), 0u);
    }
    KdsCloseTable(handle);
    KdsDisconnect(connection);
}

// The six records of the career tables of the index tests, in the order they are appended: pay
// changes of three employees on several dates, with IDs 1..6 in no order of either. The field
// names are the table's own (a DBF table's are shorter).
inline std::vector<Row> CareerRows(const std::string& employee, const std::string& date,
                                   const std::string& id) {
    const char* const records[][3] = {
        {"E2", "20200101", "3"}, {"E1", "20190101", "1"}, {"E3", "20180101", "6"},
        {"E2", "20190601", "4"}, {"E1", "20200101", "2"}, {"E2", "20210101", "5"},
    };
    std::vector<Row> rows;
    for (const auto& r : records) rows.push_back({{employee, r[0]}, {date, r[1]}, {id, r[2]}});
    return rows;
}

// A closed TKdsTable on `table` in `folder`.
inline std::unique_ptr<kds::TKdsTable> TableOn(const std::string& folder, const std::string& table,
                                               const StorageKind& kind,
                                               const char* name = "KdsTable1") {
    auto t = std::make_unique<kds::TKdsTable>();
    t->SetName(name);
    t->SetTableType(kind.tableType);
    t->SetDatabaseName(folder);
    t->SetTableName(table);
    return t;
}

// The text of one field of every record, in the dataset's order from the first record.
inline std::vector<std::string> Column(kds::TKdsDataSet& ds, const std::string& field) {
    std::vector<std::string> values;
    ds.First();
    while (!ds.AtEOF()) {
        values.push_back(ds.FieldNamed(field).StringValue());
        ds.Next();
    }
    return values;
}

// Record count as the engine sees the table through a handle of its own.
inline int EngineRecordCount(const std::string& folder, const std::string& table,
                             const StorageKind& kind) {
    KDSHANDLE connection = 0, handle = 0;
    if (KdsConnect(U(folder), &connection) != 0) return -1;
    UNSIGNED32 count = 0;
    if (KdsOpenTable(connection, U(table), nullptr, kind.engineType, 1, 1, 1, 0, &handle) != 0 ||
        KdsGetRecordCount(handle, KCE_IGNORE_FILTERS, &count) != 0) {
        KdsDisconnect(connection);
        return -1;
    }
    KdsCloseTable(handle);
    KdsDisconnect(connection);
    return static_cast<int>(count);
}

}  // namespace kdstest
