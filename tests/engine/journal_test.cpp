// A rollback journal left beside a DBF table is rolled back by the next open; one that was not
// written by this engine for this table is refused whole, and no file changes.
#include <fstream>
#include <iterator>

#include "engine_test_util.h"

using namespace kcetest;

namespace {

// The journal's record form: type, file number, offset, length, bytes, FNV-1a 64 of it all.
std::string JournalRecord(char type, uint32_t file, uint64_t offset, const std::string& bytes) {
    std::string r(1, type);
    auto put = [&](uint64_t v, int n) {
        for (int i = 0; i < n; ++i) r += char(uint8_t(v >> (8 * i)));
    };
    put(file, 4);
    put(offset, 8);
    put(bytes.size(), 4);
    r += bytes;
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : r) {
        h ^= c;
        h *= 1099511628211ull;
    }
    put(h, 8);
    return r;
}

class JournalTest : public EngineTest {
  protected:
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteJournal(const std::string& records) {
        std::ofstream(Path("T.dbf-journal"), std::ios::binary) << "KDBJRNL1" << records;
    }
    KCESTATUS OpenDbf(KDSHANDLE* t) {
        return KdsOpenTable(conn_, U("T.dbf"), nullptr, KCE_CDX, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                            KCE_CHECK_RIGHTS, 0, t);
    }
    void AppendName(KDSHANDLE t, const char* name) {
        ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
        Set(t, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
};

TEST_F(JournalTest, AJournalOfTheTableIsRolledBackAndAForeignOneIsRefusedWhole) {
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("T.dbf"), KCE_CDX, KCE_ANSI, U("NAME,char,10"), 0, &t), 0u)
        << LastErrorText();
    AppendName(t, "FIRST");
    ASSERT_EQ(KdsCloseTable(t), 0u);
    const std::string before = Read(Path("T.dbf"));
    ASSERT_EQ(OpenDbf(&t), 0u) << LastErrorText();
    AppendName(t, "SECOND");
    ASSERT_EQ(KdsCloseTable(t), 0u);
    const std::string after = Read(Path("T.dbf"));
    ASSERT_GT(after.size(), before.size());
    const std::string victim = dir_ + "/../" + dir_.substr(dir_.rfind('/') + 1) + "-victim";
    std::ofstream(victim) << "keep me";
    const std::string header = before.substr(0, 32);

    // Files named outside the table's folder are left alone; the rest of the journal applies.
    for (const std::string& name : {victim, "../" + victim.substr(victim.rfind('/') + 1)}) {
        SCOPED_TRACE(name);
        WriteJournal(JournalRecord('F', 0, 2, name) + JournalRecord('B', 0, 0, "XX") +
                     JournalRecord('F', 1, UINT64_MAX, name));
        ASSERT_EQ(OpenDbf(&t), 0u) << LastErrorText();
        EXPECT_EQ(Count(t), 2u);
        ASSERT_EQ(KdsCloseTable(t), 0u);
        EXPECT_EQ(Read(victim), "keep me");
        EXPECT_EQ(Read(Path("T.dbf")), after);
        EXPECT_FALSE(std::filesystem::exists(Path("T.dbf-journal")));
    }
    // A journal this engine cannot have written is refused whole.
    struct Case {
        const char* what;
        std::string records;
    } foreign[] = {
        {"before-image past the file", JournalRecord('F', 0, before.size(), "T.dbf") +
                                           JournalRecord('B', 0, 0, header) +
                                           JournalRecord('B', 0, before.size() - 1, "XX")},
        {"size the file never had", JournalRecord('F', 0, uint64_t(1) << 40, "T.dbf")},
        {"unknown record",
         JournalRecord('F', 0, before.size(), "T.dbf") + JournalRecord('Z', 0, 0, "")},
    };
    for (const Case& c : foreign) {
        SCOPED_TRACE(c.what);
        WriteJournal(c.records);
        EXPECT_EQ(OpenDbf(&t), KCE_DAMAGED_FILE);
        EXPECT_NE(LastErrorText().find("nothing was rolled back"), std::string::npos)
            << LastErrorText();
        EXPECT_EQ(Read(Path("T.dbf")), after);
        EXPECT_TRUE(std::filesystem::exists(Path("T.dbf-journal")));
    }

    // The journal of the second append: the header and the end mark as they were, the file cut
    // to its old size.
    WriteJournal(JournalRecord('F', 0, before.size(), "T.dbf") + JournalRecord('B', 0, 0, header) +
                 JournalRecord('B', 0, before.size() - 1, before.substr(before.size() - 1)));
    ASSERT_EQ(OpenDbf(&t), 0u) << LastErrorText();
    EXPECT_EQ(Count(t), 1u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
    EXPECT_EQ(Read(Path("T.dbf")), before);
    std::filesystem::remove(victim);
}

}  // namespace
