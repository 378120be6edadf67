#include "engine/dbf/dbf_table.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/file_io.h"
#include "engine/status.h"
#include "tests/engine/dbf_fixture.h"

namespace {

using namespace kce::dbf;
using dbftest::Column;
using dbftest::DbfBytes;

class DbfTableTest : public dbftest::TempDir {
  protected:
    std::unique_ptr<DbfTable> OpenTable(const std::string& name, bool readOnly = false) {
        std::unique_ptr<DbfTable> t;
        KCESTATUS s = DbfTable::Open(PathOf(name), readOnly, &t);
        EXPECT_EQ(s, 0u) << kce::LastText();
        return t;
    }
    std::string Image(DbfTable& t, uint32_t recno, std::vector<bool>* nulls = nullptr,
                      bool* deleted = nullptr) {
        std::string image(t.ImageLength(), '\0');
        bool del = false;
        EXPECT_EQ(t.ReadImage(recno, reinterpret_cast<uint8_t*>(image.data()), &del, nulls), 0u)
            << kce::LastText();
        if (deleted) *deleted = del;
        return image;
    }
    uint32_t Append(DbfTable& t, std::string image, std::vector<BlobChange> blobs = {}) {
        uint32_t recno = 0;
        EXPECT_EQ(t.WriteImage(0, reinterpret_cast<uint8_t*>(image.data()), false, blobs, &recno),
                  0u)
            << kce::LastText();
        return recno;
    }
};

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}
std::string Double(double v) {
    std::string s(8, '\0');
    std::memcpy(s.data(), &v, 8);
    return s;
}

// One field per row: the image written, the bytes the DBF file then holds, the image read back
// and whether the field reads as null.
struct ImageCase {
    uint16_t type;
    uint32_t length;
    uint16_t decimals;
    std::string written;
    std::string inFile;
    std::string readBack;
    bool null;
};

TEST_F(DbfTableTest, ImagesAndFileColumnsHoldByteForByte) {
    const std::string blank8(8, ' '), zero8(8, '\0');
    const std::vector<ImageCase> cases = {
        {1, 1, 0, "T", "T", "T", false},
        {1, 1, 0, "F", "F", "F", false},
        {1, 1, 0, " ", " ", " ", true},
        {2, 6, 2, "123.46", "123.46", "123.46", false},
        {2, 6, 2, " -5.50", " -5.50", " -5.50", false},
        {2, 6, 2, "      ", "      ", "      ", true},
        {3, 8, 0, "20010915", "20010915", "20010915", false},
        {3, 8, 0, blank8, blank8, blank8, true},
        {4, 5, 0, "AB   ", "AB   ", "AB   ", false},
        {4, 5, 0, "     ", "     ", "     ", true},
        {10, 8, 0, Double(-2.25), Double(-2.25), Double(-2.25), false},
        {10, 8, 0, zero8, zero8, zero8, false},  // a DBF double is never null
        {11, 4, 0, Bytes({0x00, 0x00, 0x00, 0x80}), Bytes({0x00, 0x00, 0x00, 0x80}),
         Bytes({0x00, 0x00, 0x00, 0x80}), false},
        {14, 8, 0, Bytes({0x19, 0x67, 0x25, 0x00, 0x10, 0x27, 0x00, 0x00}),
         Bytes({0x19, 0x67, 0x25, 0x00, 0x10, 0x27, 0x00, 0x00}),
         Bytes({0x19, 0x67, 0x25, 0x00, 0x10, 0x27, 0x00, 0x00}), false},
        {14, 8, 0, blank8, zero8, blank8, true},
        // Money: the image holds the file's own count of ten-thousandths.
        {17, 8, 0, Bytes({0x40, 0xE2, 0x01, 0, 0, 0, 0, 0}),
         Bytes({0x40, 0xE2, 0x01, 0, 0, 0, 0, 0}), Bytes({0x40, 0xE2, 0x01, 0, 0, 0, 0, 0}), false},
        {17, 8, 0, Bytes({0x78, 0xEC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         Bytes({0x78, 0xEC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         Bytes({0x78, 0xEC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const ImageCase& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ", type " + std::to_string(c.type));
        std::string name = "t" + std::to_string(i) + ".dbf";
        ASSERT_EQ(DbfTable::Create(PathOf(name), XBaseKind::kCdx,
                                   {{"F", c.type, c.length, c.decimals}}, {}),
                  0u)
            << kce::LastText();
        auto t = OpenTable(name);
        ASSERT_TRUE(t);
        ASSERT_EQ(t->ImageLength(), c.length);
        Append(*t, c.written);
        std::vector<bool> nulls;
        EXPECT_EQ(Image(*t, 1, &nulls), c.readBack);
        EXPECT_EQ(nulls.at(0), c.null);
        std::string file = Read(name);
        uint16_t headerLength = static_cast<uint8_t>(file[8]) | static_cast<uint8_t>(file[9]) << 8;
        EXPECT_EQ(file.substr(headerLength + 1, c.inFile.size()), c.inFile);
    }
}

TEST_F(DbfTableTest, EveryDialectsEmptySpellingReadsAsNull) {
    // FoxPro 2: '*'-filled and blank numerics, "00000000" and blank dates, '?' logicals.
    Write("fox.dbf",
          DbfBytes(
              0xF5,
              {{"N1", 'N', 5},
               {"N2", 'N', 5, 2},
               {"D1", 'D', 8},
               {"D2", 'D', 8},
               {"L1", 'L', 1},
               {"F1", 'F', 6, 1}},
              {std::string(" ") + "*****" + "     " + "00000000" + "20240101" + "?" + "  12.5",
               std::string(" ") + "   12" + " 3.50" + "        " + "19991231" + "T" + "      "}));
    auto fox = OpenTable("fox.dbf");
    ASSERT_TRUE(fox);
    std::vector<bool> nulls;
    EXPECT_EQ(Image(*fox, 1, &nulls), std::string(18, ' ') + "20240101" + " " + "  12.5");
    EXPECT_EQ(nulls, (std::vector<bool>{true, true, true, false, true, false}));
    Image(*fox, 2, &nulls);
    EXPECT_EQ(nulls, (std::vector<bool>{false, false, true, false, false, true}));

    // Visual FoxPro: the _NullFlags bits of nullable fields win over the bytes.
    Write("vfp.dbf", DbfBytes(0x30,
                              {{"C1", 'C', 3, 0, 0x02},
                               {"I1", 'I', 4, 0, 0x02},
                               {"C2", 'C', 2},
                               {"_NullFlags", '0', 1, 0, 0x01}},
                              {std::string(" abc") + Bytes({7, 0, 0, 0}) + "xy" + Bytes({0x03}),
                               std::string(" abc") + Bytes({7, 0, 0, 0}) + "xy" + Bytes({0x00})}));
    auto vfp = OpenTable("vfp.dbf");
    ASSERT_TRUE(vfp);
    ASSERT_EQ(vfp->Fields().size(), 3u);  // _NullFlags is not shown
    // A null integer has the native empty image, which its own bytes cannot spell.
    EXPECT_EQ(Image(*vfp, 1, &nulls), std::string("   ") + Bytes({0, 0, 0, 0x80}) + "xy");
    EXPECT_EQ(nulls, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(Image(*vfp, 2, &nulls), std::string("abc") + Bytes({7, 0, 0, 0}) + "xy");
    EXPECT_EQ(nulls, (std::vector<bool>{false, false, false}));
    // Values written into null fields clear their bits.
    std::string image = "def" + Bytes({1, 0, 0, 0}) + "zz";
    uint32_t recno = 0;
    ASSERT_EQ(vfp->WriteImage(1, reinterpret_cast<uint8_t*>(image.data()), false, {}, &recno), 0u);
    EXPECT_EQ(Image(*vfp, 1, &nulls), image);
    EXPECT_EQ(nulls, (std::vector<bool>{false, false, false}));
}

TEST_F(DbfTableTest, HeaderQuirksOfOtherWritersAreRead) {
    // No 0x0D after the descriptors, no 0x1A after the records, a 300-byte Clipper char field.
    std::string longText(300, 'x');
    longText[299] = 'y';
    Write("quirks.dbf",
          DbfBytes(0x03, {{"LONG", 'C', 300}, {"N", 'N', 3}}, {" " + longText + "  7"},
                   {.terminator = false, .endMarker = false}));
    std::string before = Read("quirks.dbf");
    auto t = OpenTable("quirks.dbf");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->Fields().size(), 2u);
    EXPECT_EQ(t->Fields()[0].length, 300u);
    EXPECT_EQ(t->RecordCount(), 1u);
    EXPECT_EQ(Image(*t, 1), longText + "  7");
    std::vector<std::string> problems;
    ASSERT_EQ(t->Check(&problems), 0u);
    EXPECT_EQ(problems,
              std::vector<std::string>{"warning: the end-of-file marker 0x1A is missing"});
    EXPECT_EQ(Read("quirks.dbf"), before);  // reading changed nothing
    // A write puts the marker back.
    Append(*t, std::string(300, 'z') + " 42");
    ASSERT_EQ(t->Check(&problems), 0u);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(Image(*t, 2), std::string(300, 'z') + " 42");
    EXPECT_EQ(Image(*t, 1), longText + "  7");
}

TEST_F(DbfTableTest, HeaderIsKeptRightAfterEveryWrite) {
    Write("cp.dbf", DbfBytes(0x03, {{"A", 'C', 2}}, {}, {.codePage = 0x65}));
    auto t = OpenTable("cp.dbf");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->CodePage(), 0x65);
    Append(*t, "ab");
    Append(*t, "cd");
    ASSERT_EQ(t->SetDeleted(1, true), 0u);
    std::string file = Read("cp.dbf");
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(static_cast<uint8_t>(file[1]), tm.tm_year);
    EXPECT_EQ(static_cast<uint8_t>(file[2]), tm.tm_mon + 1);
    EXPECT_EQ(static_cast<uint8_t>(file[3]), tm.tm_mday);
    EXPECT_EQ(file[4], 2);
    EXPECT_EQ(static_cast<uint8_t>(file[29]), 0x65);
    EXPECT_EQ(file.substr(file.size() - 7), std::string("*ab cd\x1A"));
    bool deleted = false;
    Image(*t, 1, nullptr, &deleted);
    EXPECT_TRUE(deleted);
    ASSERT_EQ(t->Zap(), 0u);
    file = Read("cp.dbf");
    EXPECT_EQ(file.size(), 32u + 32 + 1 + 1);
    EXPECT_EQ(file.back(), '\x1A');
    EXPECT_EQ(file[4], 0);
}

TEST_F(DbfTableTest, MemoValuesRoundTripInEveryBlockSize) {
    struct Case {
        XBaseKind kind;
        uint32_t blockSize;
        const char* memoName;
    };
    const std::string big(1000, 'm');
    for (Case c : {Case{XBaseKind::kCdx, 1, "a.fpt"}, Case{XBaseKind::kCdx, 64, "b.fpt"},
                   Case{XBaseKind::kCdx, 512, "c.fpt"}, Case{XBaseKind::kNtx, 0, "d.dbt"}}) {
        SCOPED_TRACE(c.memoName);
        std::string name = std::string(c.memoName).substr(0, 1) + ".dbf";
        std::vector<DbfFieldSpec> wanted = {{"ID", 2, 4, 0}, {"NOTE", 5, 0, 0}};
        if (c.kind == XBaseKind::kCdx) wanted.push_back({"PIC", 7, 0, 0});
        ASSERT_EQ(DbfTable::Create(PathOf(name), c.kind, wanted, {.memoBlockSize = c.blockSize}),
                  0u)
            << kce::LastText();
        auto t = OpenTable(name);
        ASSERT_TRUE(t);
        ASSERT_NE(t->Memo(), nullptr);
        EXPECT_EQ(t->Memo()->BlockSize(), c.blockSize ? c.blockSize : 512u);
        std::string image(t->ImageLength(), '\0');
        image.replace(0, 4, "   1");
        std::vector<BlobChange> blobs = {{1, "first note"}};
        if (c.kind == XBaseKind::kCdx) blobs.push_back({2, Bytes({0, 1, 0x1A, 0xFF})});
        Append(*t, image, blobs);
        image.replace(0, 4, "   2");
        Append(*t, image, {{1, big}});
        image.replace(0, 4, "   3");
        Append(*t, image);
        t.reset();
        t = OpenTable(name, true);
        std::string value;
        ASSERT_EQ(t->ReadBlob(1, 1, &value), 0u) << kce::LastText();
        EXPECT_EQ(value, "first note");
        ASSERT_EQ(t->ReadBlob(2, 1, &value), 0u);
        EXPECT_EQ(value, big);
        ASSERT_EQ(t->ReadBlob(3, 1, &value), 0u);
        EXPECT_EQ(value, "");
        std::vector<bool> nulls;
        Image(*t, 3, &nulls);
        EXPECT_TRUE(nulls[1]);
        Image(*t, 2, &nulls);
        EXPECT_FALSE(nulls[1]);
        if (c.kind == XBaseKind::kCdx) {
            ASSERT_EQ(t->ReadBlob(1, 2, &value), 0u);
            EXPECT_EQ(value, Bytes({0, 1, 0x1A, 0xFF}));
        }
    }
}

TEST_F(DbfTableTest, ReplacedMemoSpaceIsReusedAndPackReclaimsTheRest) {
    ASSERT_EQ(DbfTable::Create(PathOf("m.dbf"), XBaseKind::kCdx, {{"NOTE", 5, 0, 0}}, {}), 0u);
    auto t = OpenTable("m.dbf");
    std::string image(4, '\0');
    Append(*t, image, {{0, std::string(200, 'a')}});
    Append(*t, image, {{0, std::string(200, 'b')}});
    Append(*t, image, {{0, std::string(200, 'c')}});
    const size_t full = Read("m.fpt").size();
    uint32_t recno = 0;
    // A shorter value goes where the old one was; a longer one at the end of the file grows it
    // in place.
    ASSERT_EQ(t->WriteImage(1, reinterpret_cast<uint8_t*>(image.data()), false,
                            {{0, std::string(100, 'A')}}, &recno),
              0u);
    EXPECT_EQ(Read("m.fpt").size(), full);
    ASSERT_EQ(t->WriteImage(3, reinterpret_cast<uint8_t*>(image.data()), false,
                            {{0, std::string(300, 'C')}}, &recno),
              0u);
    EXPECT_EQ(Read("m.fpt").size(), full + 64);
    // A longer value elsewhere leaves its old space behind until pack.
    ASSERT_EQ(t->WriteImage(2, reinterpret_cast<uint8_t*>(image.data()), false,
                            {{0, std::string(400, 'B')}}, &recno),
              0u);
    EXPECT_GT(Read("m.fpt").size(), full + 64);
    ASSERT_EQ(t->SetDeleted(1, true), 0u);
    ASSERT_EQ(t->Pack(), 0u) << kce::LastText();
    ASSERT_EQ(t->RecordCount(), 2u);
    std::string value;
    ASSERT_EQ(t->ReadBlob(1, 0, &value), 0u);
    EXPECT_EQ(value, std::string(400, 'B'));
    ASSERT_EQ(t->ReadBlob(2, 0, &value), 0u);
    EXPECT_EQ(value, std::string(300, 'C'));
    EXPECT_EQ(Read("m.fpt").size(), 512u + 448 + 320);  // 8-byte headers, 64-byte blocks
    EXPECT_FALSE(std::filesystem::exists(PathOf("m.dbf.pack")));
}

// Damaged or foreign files: each gives its own status, never a crash, and the file stays as it
// was.
TEST_F(DbfTableTest, BadInputGivesItsStatusAndLeavesTheFileAlone) {
    const std::vector<Column> cols = {{"NAME", 'C', 4}, {"NOTE", 'M', 10}};
    const std::string good = DbfBytes(0x83, cols, {" abcd         1"});
    std::string dbt(512, '\0');
    dbt[0] = 3;
    dbt += std::string("hello\x1A\x1A") + std::string(505, '\0');
    struct Case {
        const char* what;
        std::string dbf;
        bool withMemo;
        KCESTATUS status;
        bool failsOnOpen;
    };
    const std::vector<Case> cases = {
        {"shorter than a header", good.substr(0, 20), true, KCE_DBF_TRUNCATED, true},
        {"shorter than its header length", good.substr(0, 70), true, KCE_DBF_TRUNCATED, true},
        {"not a DBF", "PK\x03\x04" + good.substr(4), true, KCE_WRONG_FILE_FORMAT, true},
        {"descriptors overrun the header",
         DbfBytes(0x83, cols, {" abcd         1"}, {.headerLength = 80}), true,
         KCE_DBF_DESCRIPTORS_OVERRUN, true},
        {"record length disagrees", DbfBytes(0x83, cols, {" abcd         1"}, {.recordLength = 17}),
         true, KCE_DBF_RECORD_LENGTH_MISMATCH, true},
        {"unknown field type", DbfBytes(0x03, {{"X", 'Z', 4}}, {" abcd"}), false,
         KCE_DBF_UNKNOWN_FIELD_TYPE, true},
        {"missing memo file", good, false, KCE_MEMO_FILE_MISSING, true},
        {"memo pointer past the end", DbfBytes(0x83, cols, {" abcd         9"}), true,
         KCE_MEMO_POINTER_PAST_END, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directory(dir_);
        Write("bad.dbf", c.dbf);
        if (c.withMemo) Write("bad.dbt", dbt);
        std::unique_ptr<DbfTable> t;
        KCESTATUS s = DbfTable::Open(PathOf("bad.dbf"), false, &t);
        if (c.failsOnOpen) {
            EXPECT_EQ(s, c.status) << kce::LastText();
            EXPECT_NE(kce::LastText().find(PathOf("bad.")), std::string::npos) << kce::LastText();
        } else {
            ASSERT_EQ(s, 0u) << kce::LastText();
            std::string value;
            EXPECT_EQ(t->ReadBlob(1, 1, &value), c.status);
            EXPECT_NE(kce::LastText().find("record 1, field 'NOTE'"), std::string::npos)
                << kce::LastText();
            std::vector<std::string> problems;
            ASSERT_EQ(t->Check(&problems), 0u);
            EXPECT_EQ(problems.size(), 1u);
        }
        t.reset();
        EXPECT_EQ(Read("bad.dbf"), c.dbf);
        if (c.withMemo) {
            EXPECT_EQ(Read("bad.dbt"), dbt);
        }
    }
}

TEST_F(DbfTableTest, CreateRefusesWhatTheKindCannotHold) {
    struct Case {
        XBaseKind kind;
        DbfFieldSpec field;
        KCESTATUS status;
        const char* text;
    };
    const std::vector<Case> cases = {
        {XBaseKind::kNtx,
         {"PIC", 7, 0, 0},
         KCE_FIELD_TYPE_NOT_ALLOWED,
         "field 'PIC': an NTX table cannot hold type image"},
        {XBaseKind::kCdx,
         {"T", 13, 0, 0},
         KCE_FIELD_TYPE_NOT_ALLOWED,
         "field 'T': a CDX table cannot hold type time"},
        {XBaseKind::kCdx, {"ELEVENCHARS", 4, 5, 0}, KCE_FIELD_NAME_TOO_LONG, "'ELEVENCHARS'"},
        {XBaseKind::kCdx, {"C", 4, 300, 0}, KCE_INVALID_FIELD_LENGTH, "char length 300"},
        {XBaseKind::kNtx, {"N", 2, 21, 0}, KCE_INVALID_FIELD_LENGTH, "numeric 21,0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DbfTable::Create(PathOf("x.dbf"), c.kind, {{"ID", 2, 4, 0}, c.field}, {}),
                  c.status);
        EXPECT_NE(kce::LastText().find(c.text), std::string::npos) << kce::LastText();
        EXPECT_FALSE(std::filesystem::exists(PathOf("x.dbf")));
    }
    // Clipper's long char fields are fine on NTX tables, autoincrement on CDX tables.
    ASSERT_EQ(DbfTable::Create(PathOf("ok.dbf"), XBaseKind::kNtx, {{"C", 4, 300, 0}}, {}), 0u);
    ASSERT_EQ(
        DbfTable::Create(PathOf("ai.dbf"), XBaseKind::kCdx, {{"ID", 15, 0, 0}, {"C", 4, 1, 0}}, {}),
        0u);
    auto t = OpenTable("ai.dbf");
    std::string image = "    x";
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(t->AssignAutoinc(reinterpret_cast<uint8_t*>(image.data())), 0u);
        Append(*t, image);
    }
    EXPECT_EQ(t->LastAutoinc(), 2u);
    EXPECT_EQ(Image(*t, 2), Bytes({2, 0, 0, 0}) + "x");
    t = OpenTable("ai.dbf");  // the counter lives in the file
    ASSERT_EQ(t->AssignAutoinc(reinterpret_cast<uint8_t*>(image.data())), 0u);
    EXPECT_EQ(image, Bytes({3, 0, 0, 0}) + "x");
}

// A process killed while it appends one record at a time leaves every record it wrote readable;
// the header count may lag by one, which Check reports and Repair sets right.
TEST_F(DbfTableTest, KilledAppenderLeavesEveryWrittenRecord) {
    ASSERT_EQ(
        DbfTable::Create(PathOf("k.dbf"), XBaseKind::kCdx, {{"N", 2, 8, 0}, {"NOTE", 5, 0, 0}}, {}),
        0u);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        std::unique_ptr<DbfTable> t;
        if (DbfTable::Open(PathOf("k.dbf"), false, &t)) _exit(2);
        for (uint32_t i = 1;; ++i) {
            char image[13];
            std::snprintf(image, sizeof image, "%8u", i);
            uint32_t recno = 0;
            if (t->WriteImage(0, reinterpret_cast<uint8_t*>(image), false,
                              {{1, "note " + std::to_string(i)}}, &recno)) {
                _exit(3);
            }
            if (i == 200) (void)!write(pipeFds[1], "x", 1);
        }
    }
    close(pipeFds[1]);
    char ready;
    ASSERT_EQ(read(pipeFds[0], &ready, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto t = OpenTable("k.dbf");
    ASSERT_TRUE(t);
    const uint32_t count = t->RecordCount();
    ASSERT_GE(count, 200u);
    for (uint32_t r = 1; r <= count; ++r) {
        char want[9];
        std::snprintf(want, sizeof want, "%8u", r);
        ASSERT_EQ(Image(*t, r).substr(0, 8), want) << r;
        std::string note;
        ASSERT_EQ(t->ReadBlob(r, 1, &note), 0u) << kce::LastText();
        ASSERT_EQ(note, "note " + std::to_string(r));
    }
    ASSERT_EQ(t->Repair(), 0u);
    std::vector<std::string> problems;
    ASSERT_EQ(t->Check(&problems), 0u);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(t->RecordCount(), count);
}

TEST_F(DbfTableTest, HeaderCountDisagreeingWithSizeIsReadAsTheSizeSays) {
    Write("c.dbf", DbfBytes(0x03, {{"A", 'C', 1}}, {" a", " b", " c"}, {.headerCount = 2}));
    auto t = OpenTable("c.dbf");
    EXPECT_EQ(t->RecordCount(), 3u);
    std::vector<std::string> problems;
    ASSERT_EQ(t->Check(&problems), 0u);
    EXPECT_EQ(problems, std::vector<std::string>{"the header counts 2 records, the file holds 3"});
    ASSERT_EQ(t->Repair(), 0u);
    EXPECT_EQ(Read("c.dbf")[4], 3);
}

}  // namespace

// A file system on a full disk: writes to files of one kind that would make them grow fail (or,
// with everyWrite, all writes to them, as on a failing disk).
class FullDisk : public kce::FileSystem {
  public:
    explicit FullDisk(std::string suffix, bool everyWrite = false)
        : suffix_(std::move(suffix)), everyWrite_(everyWrite) {}
    KCESTATUS Open(const std::string& path, kce::FileMode mode,
                   std::unique_ptr<kce::File>* out) override {
        kce::SetFileSystemForTesting(nullptr);
        KCESTATUS s = kce::Files().Open(path, mode, out);
        kce::SetFileSystemForTesting(this);
        if (s == 0 && path.size() >= suffix_.size() &&
            path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) == 0) {
            *out = std::make_unique<Failing>(std::move(*out), everyWrite_);
        }
        return s;
    }
    KCESTATUS Remove(const std::string& path) override { return std::remove(path.c_str()), 0; }

  private:
    class Failing : public kce::File {
      public:
        Failing(std::unique_ptr<kce::File> inner, bool everyWrite)
            : inner_(std::move(inner)), everyWrite_(everyWrite) {}
        KCESTATUS Read(uint64_t o, void* b, size_t n, size_t* got) override {
            return inner_->Read(o, b, n, got);
        }
        KCESTATUS Write(uint64_t o, const void* b, size_t n) override {
            uint64_t size = 0;
            inner_->Size(&size);
            if (everyWrite_ || o + n > size) return kce::Fail(KCE_DISK_FULL, inner_->Path());
            return inner_->Write(o, b, n);
        }
        KCESTATUS Size(uint64_t* s) override { return inner_->Size(s); }
        KCESTATUS Truncate(uint64_t s) override { return inner_->Truncate(s); }
        KCESTATUS Sync() override { return inner_->Sync(); }
        const std::string& Path() const override { return inner_->Path(); }

      private:
        std::unique_ptr<kce::File> inner_;
        bool everyWrite_;
    };
    std::string suffix_;
    bool everyWrite_;
};

TEST_F(DbfTableTest, AFailedAppendLeavesTheTableAsItWas) {
    ASSERT_EQ(
        DbfTable::Create(PathOf("f.dbf"), XBaseKind::kCdx, {{"A", 4, 2, 0}, {"NOTE", 5, 0, 0}}, {}),
        0u);
    {
        auto t = OpenTable("f.dbf");
        Append(*t, std::string("ok") + std::string(4, '\0'), {{1, "kept"}});
    }
    const std::string before = Read("f.dbf");
    // The record that would grow the table, the memo value that would grow the memo file.
    for (const char* file : {".dbf", ".fpt"}) {
        SCOPED_TRACE(file);
        FullDisk disk(file);
        kce::SetFileSystemForTesting(&disk);
        std::unique_ptr<DbfTable> t;
        ASSERT_EQ(DbfTable::Open(PathOf("f.dbf"), false, &t), 0u);
        std::string image = std::string("no") + std::string(4, '\0');
        uint32_t recno = 0;
        EXPECT_EQ(t->WriteImage(0, reinterpret_cast<uint8_t*>(image.data()), false, {{1, "lost"}},
                                &recno),
                  KCE_DISK_FULL);
        kce::SetFileSystemForTesting(nullptr);
        EXPECT_EQ(Read("f.dbf"), before);
        t = OpenTable("f.dbf");
        EXPECT_EQ(t->RecordCount(), 1u);
        std::string note;
        ASSERT_EQ(t->ReadBlob(1, 1, &note), 0u);
        EXPECT_EQ(note, "kept");
    }
}

TEST_F(DbfTableTest, AnInterruptedPackIsFinishedBeforeTheNextOpen) {
    ASSERT_EQ(DbfTable::Create(PathOf("p.dbf"), XBaseKind::kCdx, {{"NOTE", 5, 0, 0}}, {}), 0u);
    {
        auto t = OpenTable("p.dbf");
        std::string image(4, '\0');
        for (char c : {'a', 'b', 'c'}) Append(*t, image, {{0, std::string(100, c)}});
        ASSERT_EQ(t->SetDeleted(1, true), 0u);
    }
    const std::string before = Read("p.dbf");
    // Writes to the table fail: the pack stops after its commit point, with the memo file
    // already replaced and the table not yet. Left so, the old records would point into the
    // new memo file.
    {
        FullDisk disk(".dbf", true);
        kce::SetFileSystemForTesting(&disk);
        auto t = OpenTable("p.dbf");
        EXPECT_EQ(t->Pack(), KCE_DISK_FULL);
        kce::SetFileSystemForTesting(nullptr);
    }
    EXPECT_EQ(Read("p.dbf"), before);
    ASSERT_TRUE(std::filesystem::exists(PathOf("p.dbf.packed")));
    EXPECT_EQ(FinishInterruptedPack(PathOf("p.dbf"), false), KCE_DAMAGED_FILE);
    ASSERT_EQ(FinishInterruptedPack(PathOf("p.dbf"), true), 0u) << kce::LastText();
    auto t = OpenTable("p.dbf");
    ASSERT_EQ(t->RecordCount(), 2u);
    std::string value;
    ASSERT_EQ(t->ReadBlob(1, 0, &value), 0u);
    EXPECT_EQ(value, std::string(100, 'b'));
    ASSERT_EQ(t->ReadBlob(2, 0, &value), 0u);
    EXPECT_EQ(value, std::string(100, 'c'));
    for (const char* left : {"p.dbf.pack", "p.dbf.packed", "p.fpt.pack"})
        EXPECT_FALSE(std::filesystem::exists(PathOf(left))) << left;

    // Without the marker a pack never committed: its leftovers go, the table stays.
    const std::string packed = Read("p.dbf");
    { std::ofstream(PathOf("p.dbf.pack")) << "half a table"; }
    ASSERT_EQ(FinishInterruptedPack(PathOf("p.dbf"), true), 0u);
    EXPECT_FALSE(std::filesystem::exists(PathOf("p.dbf.pack")));
    EXPECT_EQ(Read("p.dbf"), packed);
}
