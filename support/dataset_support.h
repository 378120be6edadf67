// Helpers shared by the dataset tests and the dataset benchmark: native encodings for rows stored
// directly, a data link that asks for a larger window, and an event recorder.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dataset/datalink.h"
#include "support/memory_dataset.h"

namespace dstest {

inline std::string NativeInt(int32_t v) { return std::string(reinterpret_cast<char*>(&v), 4); }

inline std::string NativeText(const std::string& text, int size) {
    std::string s(size + 1, '\0');
    std::memcpy(s.data(), text.data(), std::min<size_t>(text.size(), size));
    return s;
}

// A table of people: ID integer, NAME string(10).
inline std::unique_ptr<TMemoryDataSet> People(int rows, const std::string& name = "People") {
    auto ds = std::make_unique<TMemoryDataSet>(
        std::vector<ColumnSpec>{{"ID", db::ftInteger, 0}, {"NAME", db::ftString, 10}});
    if (!name.empty()) ds->SetName(name);
    for (int i = 1; i <= rows; ++i) {
        std::string text = "n";
        text += std::to_string(i);
        ds->AddRow({NativeInt(i), NativeText(text, 10)});
    }
    return ds;
}

// Visits the records the way the conversion loops do: work, then Next until AtEOF.
inline std::vector<int> Walk(db::TDataSet& ds) {
    std::vector<int> ids;
    while (!ds.AtEOF()) {
        ids.push_back(ds.FieldNamed("ID").IntegerValue());
        ds.Next();
    }
    return ids;
}

// A link that shows several records at once, so the dataset keeps a larger window.
class WideLink : public db::TDataLink {
  public:
    explicit WideLink(int buffers) { SetBufferCount(buffers); }
};

}  // namespace dstest

namespace dstest {

// One column of each class the conversions care about, one record with every column blank.
inline std::unique_ptr<TMemoryDataSet> AllTypes() {
    auto ds = std::make_unique<TMemoryDataSet>(std::vector<ColumnSpec>{
        {"S8", db::ftString, 8},
        {"S20", db::ftString, 20},
        {"I", db::ftInteger, 0},
        {"SI", db::ftSmallint, 0},
        {"W", db::ftWord, 0},
        {"F", db::ftFloat, 0},
        {"C", db::ftCurrency, 0},
        {"B", db::ftBoolean, 0},
        {"D", db::ftDate, 0},
        {"T", db::ftTime, 0},
        {"DT", db::ftDateTime, 0},
        {"BY", db::ftBytes, 4},
        {"M", db::ftMemo, 0},
        {"BL", db::ftBlob, 0},
    });
    ds->SetName("All");
    ds->AddRow({});
    return ds;
}

}  // namespace dstest
