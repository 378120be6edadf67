// Helpers of the xBase tests: a fresh folder per test and DBF files built byte by byte, so that a
// test can hold exactly the spelling another writer uses.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace dbftest {

struct Column {
    std::string name;
    char type;
    int length;
    int decimals = 0;
    uint8_t flags = 0;
};

struct DbfBytesOptions {
    bool terminator = true;  // 0x0D after the descriptors
    bool endMarker = true;   // 0x1A after the records
    int headerCount = -1;    // record count written in the header; -1: the real one
    int headerLength = -1;   // -1: computed
    int recordLength = -1;   // -1: computed
    uint8_t codePage = 0x03;
};

// A DBF file: version byte, columns, records (each the deletion flag and the field bytes).
inline std::string DbfBytes(uint8_t version, const std::vector<Column>& columns,
                            const std::vector<std::string>& records, DbfBytesOptions o = {}) {
    const bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
    int recordLength = 1;
    for (const Column& c : columns) recordLength += c.length;
    int headerLength =
        32 + 32 * static_cast<int>(columns.size()) + (o.terminator ? 1 : 0) + (vfp ? 263 : 0);
    if (o.headerLength >= 0) headerLength = o.headerLength;
    if (o.recordLength >= 0) recordLength = o.recordLength;
    std::string out(32, '\0');
    out[0] = static_cast<char>(version);
    out[1] = 124;
    out[2] = 12;
    out[3] = 1;
    uint32_t count = o.headerCount >= 0 ? o.headerCount : static_cast<uint32_t>(records.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>(count >> (8 * i));
    out[8] = static_cast<char>(headerLength);
    out[9] = static_cast<char>(headerLength >> 8);
    out[10] = static_cast<char>(recordLength);
    out[11] = static_cast<char>(recordLength >> 8);
    out[29] = static_cast<char>(o.codePage);
    int offset = 1;
    for (const Column& c : columns) {
        std::string d(32, '\0');
        d.replace(0, c.name.size(), c.name);
        d[11] = c.type;
        if (vfp) {
            for (int i = 0; i < 4; ++i) d[12 + i] = static_cast<char>(offset >> (8 * i));
        }
        d[16] = static_cast<char>(c.length & 0xFF);
        d[17] = static_cast<char>(c.type == 'C' ? (c.length >> 8) : c.decimals);
        d[18] = static_cast<char>(c.flags);
        out += d;
        offset += c.length;
    }
    if (o.terminator) out += '\x0D';
    if (vfp) out += std::string(263, '\0');
    out.resize(std::max<size_t>(out.size(), static_cast<size_t>(headerLength)), '\0');
    out.resize(static_cast<size_t>(headerLength));
    for (const std::string& r : records) out += r;
    if (o.endMarker) out += '\x1A';
    return out;
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "dbftest.XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        dir_ = buf.data();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return PathOf(name);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string dir_;
};

}  // namespace dbftest
