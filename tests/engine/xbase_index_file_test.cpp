// The .cdx and .ntx readers and writers against files other programs wrote, and against trees
// this program changes at random.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "engine/index/cdx/cdx_file.h"
#include "engine/index/ntx/ntx_file.h"
#include "engine/index/table_indexes.h"
#include "engine/keys/index_key.h"
#include "engine/status.h"
#include "engine/storage.h"
#include "tests/engine/xbase_samples.h"
#include "tests/support/files.h"
#include "tests/support/scoped.h"

namespace {

using namespace kce;
namespace fs = std::filesystem;

using KeyList = std::vector<std::pair<std::string, uint32_t>>;

// The keys a tag should hold: its expression over every record it includes, sorted.
KeyList ExpectedKeys(Storage& storage, const IndexKey& key) {
    ExprSchema schema = SchemaOfLayout(storage.Layout());
    std::vector<uint8_t> image(storage.Layout().recordLength);
    KeyList out;
    UNSIGNED32 recno = 0;
    while (storage.NextRecno(recno, &recno) == KCE_SUCCESS && recno) {
        bool exists = false, deleted = false;
        EXPECT_EQ(storage.ReadRecord(recno, image.data(), &exists, &deleted), KCE_SUCCESS);
        ImageRecord record(schema, image.data(), image.size());
        record.SetRecNo(recno);
        record.SetDeleted(deleted);
        if (!key.Includes(record)) continue;
        std::string k;
        EXPECT_EQ(key.KeyOf(record, &k), KCE_SUCCESS) << LastFailureDetail();
        if (key.Nullable()) {
            bool isNull = false;
            for (int f : key.SegmentFields()) isNull = isNull || storage.IsNull(f, image.data());
            if (isNull) k.assign(k.size(), '\0');
        }
        out.emplace_back(k, recno);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::unique_ptr<Storage> OpenTable(const fs::path& table, UNSIGNED16 type) {
    std::unique_ptr<Storage> storage;
    OpenRequest request;
    request.path = table.string();
    EXPECT_EQ(FindStorageKind(type)->open(request, &storage), KCE_SUCCESS) << LastFailureDetail();
    return storage;
}

TEST(CdxFileTest, EveryTagOfTheSampleFilesHoldsItsTableInKeyOrderAndFindsEachKey) {
    auto samples = xbasesamples::Samples("cdx");
    if (samples.empty()) GTEST_SKIP() << xbasesamples::kMissing;
    size_t tags = 0;
    testsupport::ScopedTempDir scratch("cdx-samples");
    const fs::path& folder = scratch.Path();
    for (const auto& original : samples) {
        SCOPED_TRACE(original.index.string());
        auto sample = xbasesamples::CopySample(original, folder);
        auto storage = OpenTable(sample.table, 2);
        ASSERT_TRUE(storage);
        std::unique_ptr<cdx::CdxFile> file;
        ASSERT_EQ(cdx::CdxFile::Open(sample.index.string(), true, &file), KCE_SUCCESS)
            << LastFailureDetail();
        EXPECT_TRUE(file->Structural());
        ExprSchema schema = SchemaOfLayout(storage->Layout());
        for (const cdx::TagInfo& tag : file->Tags()) {
            SCOPED_TRACE(tag.name + ": " + tag.header.keyExpr);
            std::unique_ptr<IndexKey> key;
            KeyFileOptions options{KeyDialect::kCdx, tag.header.keyLength,
                                   (tag.header.options & 0x02) != 0, 0};
            ASSERT_EQ(IndexKey::Compile(schema, tag.header.keyExpr, false, tag.header.forExpr, &key,
                                        options),
                      KCE_SUCCESS)
                << LastFailureDetail();
            uint8_t filler =
                cdx::FillerFor(key->FirstType() == ValueType::kCharacter, tag.header.signature);
            cdx::Tree* tree = nullptr;
            ASSERT_EQ(file->OpenTag(tag.name, filler, &tree), KCE_SUCCESS) << LastFailureDetail();
            KeyList stored;
            for (auto p = tree->First(); p.Valid(); p = tree->Next(p)) {
                stored.emplace_back(tree->At(p).key, tree->At(p).recno);
            }
            KeyList expected = ExpectedKeys(*storage, *key);
            ASSERT_EQ(stored.size(), expected.size());
            for (size_t i = 0; i < stored.size(); ++i) {
                ASSERT_EQ(testsupport::Hex(stored[i].first), testsupport::Hex(expected[i].first))
                    << "entry " << i;
                ASSERT_EQ(stored[i].second, expected[i].second) << "entry " << i;
            }
            for (const auto& [k, recno] : expected) {
                auto p = tree->Seek(k, 0, false);
                ASSERT_TRUE(p.Valid());
                EXPECT_EQ(tree->At(p).key, k);
                auto after = tree->Seek(k, recno, true);
                auto back = after.Valid() ? tree->Prev(after) : tree->Last();
                ASSERT_TRUE(back.Valid());
                EXPECT_EQ(tree->At(back).recno, recno);
            }
            ++tags;
        }
    }
    EXPECT_GT(tags, 0u);
}

TEST(NtxFileTest, EverySampleFileHoldsItsTableInKeyOrderAndFindsEachKey) {
    auto samples = xbasesamples::Samples("ntx");
    if (samples.empty()) GTEST_SKIP() << xbasesamples::kMissing;
    testsupport::ScopedTempDir scratch("ntx-samples");
    const fs::path& folder = scratch.Path();
    for (const auto& original : samples) {
        SCOPED_TRACE(original.index.string());
        auto sample = xbasesamples::CopySample(original, folder);
        auto storage = OpenTable(sample.table, 1);
        ASSERT_TRUE(storage);
        std::unique_ptr<ntx::NtxFile> file;
        ASSERT_EQ(ntx::NtxFile::Open(sample.index.string(), true, &file), KCE_SUCCESS)
            << LastFailureDetail();
        const ntx::Header& h = file->Head();
        SCOPED_TRACE(h.keyExpr);
        std::unique_ptr<IndexKey> key;
        ExprSchema schema = SchemaOfLayout(storage->Layout());
        KeyFileOptions options{KeyDialect::kNtx, h.keyLength, false, h.decimals};
        ASSERT_EQ(IndexKey::Compile(schema, h.keyExpr, false, h.forExpr, &key, options),
                  KCE_SUCCESS)
            << LastFailureDetail();
        KeyList stored;
        file->ForEach([&](const ntx::Item& e) {
            stored.emplace_back(e.key, e.recno);
            return true;
        });
        KeyList expected = ExpectedKeys(*storage, *key);
        ASSERT_EQ(stored.size(), expected.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            ASSERT_EQ(stored[i].first, expected[i].first) << "entry " << i;
            ASSERT_EQ(stored[i].second, expected[i].second) << "entry " << i;
        }
        for (const auto& [k, recno] : expected) {
            ntx::Item found;
            ASSERT_TRUE(file->Ceiling(k, 0, false, &found));
            EXPECT_EQ(found.key, k);
            ASSERT_TRUE(file->Floor(k, recno, false, &found));
            EXPECT_EQ(found.recno, recno);
        }
        std::vector<std::string> problems;
        file->Audit(&problems);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }
}

}  // namespace

namespace {

// Random keys with long shared prefixes and many duplicates, so that leaves compress, split and
// empty again.
std::string RandomKey(std::mt19937& rng, size_t width) {
    static const char* stems[] = {"SMITH", "SMITHSON", "JONES", "", "ZZ", "A"};
    std::string k = stems[rng() % 6];
    k += std::to_string(rng() % 300);
    k.resize(width, ' ');
    return k;
}

// What a tree changed at random must hold whenever it is read: nothing for check to report, and
// the keys of the model, in order.
void ExpectTreeHolds(const cdx::Tree& tree,
                     const std::set<std::pair<std::string, uint32_t>>& model) {
    std::vector<std::string> problems;
    tree.Audit(&problems);
    ASSERT_TRUE(problems.empty()) << problems.front();
    auto it = model.begin();
    for (auto p = tree.First(); p.Valid(); p = tree.Next(p), ++it) {
        ASSERT_NE(it, model.end());
        ASSERT_EQ(tree.At(p).key, it->first);
        ASSERT_EQ(tree.At(p).recno, it->second);
    }
    ASSERT_EQ(it, model.end());
}

TEST(CdxFileTest, RandomChangesKeepTheTreeInOrderAcrossReopening) {
    testsupport::ScopedTempDir scratch("random-cdx");
    const fs::path path = scratch / "random.cdx";
    std::mt19937 rng(7);
    std::set<std::pair<std::string, uint32_t>> model;
    {
        std::unique_ptr<cdx::CdxFile> file;
        ASSERT_EQ(cdx::CdxFile::Create(path.string(), true, &file), KCE_SUCCESS);
        cdx::Header proto;
        proto.keyLength = 12;
        proto.keyExpr = "NAME";
        std::vector<cdx::Entry> initial;
        for (uint32_t r = 1; r <= 400; ++r) model.insert({RandomKey(rng, 12), r});
        for (const auto& [k, r] : model) initial.push_back({k, r, 0});
        cdx::Tree* tree = nullptr;
        ASSERT_EQ(file->AddTag("names", proto, ' ', initial, &tree), KCE_SUCCESS);
        cdx::Tree* other = nullptr;
        proto.keyExpr = "OTHER";
        ASSERT_EQ(file->AddTag("other", proto, ' ', {}, &other), KCE_SUCCESS);
        uint32_t next = 401;
        for (int op = 0; op < 6000; ++op) {
            if (rng() % 3 != 0 || model.empty()) {
                std::string k = RandomKey(rng, 12);
                ASSERT_EQ(tree->Insert(k, next), KCE_SUCCESS);
                model.insert({k, next++});
            } else {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                bool found = false;
                ASSERT_EQ(tree->Remove(it->first, it->second, &found), KCE_SUCCESS);
                ASSERT_TRUE(found);
                model.erase(it);
            }
            if (op == 3000) {
                // Empty it almost entirely once: nodes go to the free list and come back.
                while (model.size() > 3) {
                    bool found = false;
                    ASSERT_EQ(tree->Remove(model.begin()->first, model.begin()->second, &found),
                              KCE_SUCCESS);
                    model.erase(model.begin());
                }
            }
        }
    }
    std::unique_ptr<cdx::CdxFile> file;
    ASSERT_EQ(cdx::CdxFile::Open(path.string(), true, &file), KCE_SUCCESS) << LastFailureDetail();
    ASSERT_EQ(file->Tags().size(), 2u);
    EXPECT_EQ(file->Tags()[0].name, "NAMES");
    cdx::Tree* tree = nullptr;
    ASSERT_EQ(file->OpenTag("NAMES", ' ', &tree), KCE_SUCCESS) << LastFailureDetail();
    ExpectTreeHolds(*tree, model);
}

// Keys as long as a tag allows, of random lengths over shared prefixes (so that leaf compression
// varies from entry to entry), with record numbers large enough for wide leaf entries: a leaf of
// 240-byte keys may hold only one, and an insert or a removal (which can undo the compression of
// the next key) may need a node cut in more than two. Every few steps the tree is audited as check
// does and walked against the model; at the end it is read again from the file.
TEST(CdxFileTest, LongKeysSplitAndShrinkUnderRandomChanges) {
    testsupport::ScopedTempDir scratch("long-cdx");
    for (uint16_t width :
         {uint16_t(1), uint16_t(100), uint16_t(150), uint16_t(200), uint16_t(240)}) {
        SCOPED_TRACE("key length " + std::to_string(width));
        const fs::path path = scratch / ("long" + std::to_string(width) + ".cdx");
        std::mt19937 rng(width);
        auto randomKey = [&] {
            static const char* stems[] = {"", "A", "SMITH", "SMITHSONIAN INSTITUTE ", "ZZ"};
            std::string k = stems[rng() % 5];
            size_t len = rng() % (size_t(width) + 1);
            while (k.size() < len) k += char('A' + rng() % 3);
            k.resize(width, ' ');
            return k;
        };
        std::set<std::pair<std::string, uint32_t>> model;
        auto verify = [&](cdx::Tree* tree) { ExpectTreeHolds(*tree, model); };
        {
            std::unique_ptr<cdx::CdxFile> file;
            ASSERT_EQ(cdx::CdxFile::Create(path.string(), true, &file), KCE_SUCCESS);
            cdx::Header proto;
            proto.keyLength = width;
            proto.keyExpr = "NAME";
            cdx::Tree* tree = nullptr;
            ASSERT_EQ(file->AddTag("names", proto, ' ', {}, &tree), KCE_SUCCESS);
            for (int op = 0; op < 2500; ++op) {
                if (rng() % 5 < 3 || model.empty()) {
                    std::string k = randomKey();
                    uint32_t recno = 1 + rng() % (op < 1200 ? 60000u : 5000000u);
                    if (!model.insert({k, recno}).second) continue;
                    ASSERT_EQ(tree->Insert(k, recno), KCE_SUCCESS)
                        << "op " << op << ": " << LastFailureDetail();
                } else {
                    auto it = model.begin();
                    std::advance(it, long(rng() % model.size()));
                    bool found = false;
                    ASSERT_EQ(tree->Remove(it->first, it->second, &found), KCE_SUCCESS)
                        << "op " << op << ": " << LastFailureDetail();
                    ASSERT_TRUE(found);
                    model.erase(it);
                }
                if (op % 250 == 0) verify(tree);
                if (HasFatalFailure()) return;
            }
        }
        std::unique_ptr<cdx::CdxFile> file;
        ASSERT_EQ(cdx::CdxFile::Open(path.string(), true, &file), KCE_SUCCESS)
            << LastFailureDetail();
        cdx::Tree* tree = nullptr;
        ASSERT_EQ(file->OpenTag("NAMES", ' ', &tree), KCE_SUCCESS) << LastFailureDetail();
        verify(tree);
    }
}

// Removing most keys leaves nodes less than half full, which are merged with their neighbours:
// the tree keeps no more than twice the nodes a fresh build of the keys left needs, the freed nodes
// serve later inserts, and rounds of inserts and removals do not make the file grow on.
TEST(CdxFileTest, RemovalsMergeNodesSoTheFileStopsGrowing) {
    testsupport::ScopedTempDir scratch("merge-cdx");
    const fs::path path = scratch / "merge.cdx";
    std::mt19937 rng(19);
    std::set<std::pair<std::string, uint32_t>> model;
    std::unique_ptr<cdx::CdxFile> file;
    ASSERT_EQ(cdx::CdxFile::Create(path.string(), true, &file), KCE_SUCCESS);
    cdx::Header proto;
    proto.keyLength = 30;
    proto.keyExpr = "NAME";
    cdx::Tree* tree = nullptr;
    ASSERT_EQ(file->AddTag("names", proto, ' ', {}, &tree), KCE_SUCCESS);
    uint32_t next = 1;
    auto insert = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            std::string k = RandomKey(rng, 30);
            ASSERT_EQ(tree->Insert(k, next), KCE_SUCCESS) << LastFailureDetail();
            model.insert({k, next++});
        }
    };
    auto removeAllBut = [&](size_t keep) {
        while (model.size() > keep) {
            auto it = model.begin();
            std::advance(it, long(rng() % model.size()));
            bool found = false;
            ASSERT_EQ(tree->Remove(it->first, it->second, &found), KCE_SUCCESS);
            ASSERT_TRUE(found);
            model.erase(it);
        }
    };
    insert(4000);
    const size_t full = tree->NodeCount();
    removeAllBut(300);
    // What the keys left need when built afresh, in a second tag of the same file.
    std::vector<cdx::Entry> left;
    for (const auto& [k, r] : model) left.push_back({k, r, 0});
    cdx::Tree* fresh = nullptr;
    ASSERT_EQ(file->AddTag("fresh", proto, ' ', left, &fresh), KCE_SUCCESS);
    EXPECT_LE(tree->NodeCount(), 2 * fresh->NodeCount() + 1)
        << "of " << full << " nodes at 4000 keys";
    ASSERT_EQ(file->DropTag("fresh"), KCE_SUCCESS);
    insert(3700);
    uint64_t peak = fs::file_size(path);
    // The tree's shape varies from round to round; a node lost on the way would add up.
    for (int round = 0; round < 8; ++round) {
        removeAllBut(300);
        insert(3700);
    }
    EXPECT_LE(fs::file_size(path), peak + peak / 2);
    removeAllBut(50);
    file.reset();
    ASSERT_EQ(cdx::CdxFile::Open(path.string(), true, &file), KCE_SUCCESS) << LastFailureDetail();
    ASSERT_EQ(file->OpenTag("NAMES", ' ', &tree), KCE_SUCCESS) << LastFailureDetail();
    ExpectTreeHolds(*tree, model);
}

TEST(NtxFileTest, RandomChangesKeepTheTreeBalancedAcrossReopening) {
    testsupport::ScopedTempDir scratch("random-ntx");
    const fs::path path = scratch / "random.ntx";
    std::mt19937 rng(11);
    std::set<std::pair<std::string, uint32_t>> model;
    {
        ntx::Header proto;
        proto.keyLength = 40;  // M = 18: a few hundred keys make three levels
        proto.keyExpr = "NAME";
        std::vector<ntx::Item> initial;
        for (uint32_t r = 1; r <= 300; ++r) model.insert({RandomKey(rng, 40), r});
        for (const auto& [k, r] : model) initial.push_back({k, r, 0});
        std::unique_ptr<ntx::NtxFile> file;
        ASSERT_EQ(ntx::NtxFile::Create(path.string(), proto, initial, &file), KCE_SUCCESS);
        uint32_t next = 301;
        for (int op = 0; op < 6000; ++op) {
            if (rng() % 2 == 0 || model.empty()) {
                std::string k = RandomKey(rng, 40);
                ASSERT_EQ(file->Insert(k, next), KCE_SUCCESS);
                model.insert({k, next++});
            } else {
                auto it = model.begin();
                std::advance(it, long(rng() % model.size()));
                bool found = false;
                ASSERT_EQ(file->Remove(it->first, it->second, &found), KCE_SUCCESS);
                ASSERT_TRUE(found);
                model.erase(it);
            }
        }
        bool found = true;
        ASSERT_EQ(file->Remove(std::string(40, 'q'), 1, &found), KCE_SUCCESS);
        EXPECT_FALSE(found);
    }
    std::unique_ptr<ntx::NtxFile> file;
    ASSERT_EQ(ntx::NtxFile::Open(path.string(), true, &file), KCE_SUCCESS) << LastFailureDetail();
    EXPECT_EQ(file->Head().maxKeys, 18);
    std::vector<std::string> problems;
    file->Audit(&problems);
    EXPECT_TRUE(problems.empty()) << problems.front();
    auto it = model.begin();
    file->ForEach([&](const ntx::Item& e) {
        EXPECT_NE(it, model.end());
        EXPECT_EQ(e.key, it->first);
        EXPECT_EQ(e.recno, it->second);
        ++it;
        return it != model.end() || true;
    });
    EXPECT_EQ(it, model.end());
}

// The pages a removal frees are kept in a list threaded through them (the head in the header):
// a reopened file takes new pages from it before it grows, and a list entry that cannot be a free
// page refuses the file, never followed.
TEST(NtxFileTest, FreePagesAreUsedAgainAfterReopeningAndABrokenListRefusesTheFile) {
    testsupport::ScopedTempDir scratch("free-ntx");
    const fs::path path = scratch / "free.ntx";
    auto key = [](uint32_t r) {
        std::string k = "K" + std::to_string(100000 + r);
        k.resize(40, ' ');
        return k;
    };
    {
        ntx::Header proto;
        proto.keyLength = 40;
        proto.keyExpr = "NAME";
        std::vector<ntx::Item> initial;
        for (uint32_t r = 1; r <= 300; ++r) initial.push_back({key(r), r, 0});
        std::unique_ptr<ntx::NtxFile> file;
        ASSERT_EQ(ntx::NtxFile::Create(path.string(), proto, initial, &file), KCE_SUCCESS);
        for (uint32_t r = 1; r <= 280; ++r) {
            bool found = false;
            ASSERT_EQ(file->Remove(key(r), r, &found), KCE_SUCCESS);
            ASSERT_TRUE(found);
        }
    }
    auto header32 = [&](size_t at) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(long(at));
        uint8_t b[4] = {};
        in.read(reinterpret_cast<char*>(b), 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    };
    const uint32_t head = header32(8), root = header32(4);
    const uintmax_t size = fs::file_size(path);
    ASSERT_NE(head, 0u);
    {
        std::unique_ptr<ntx::NtxFile> file;
        ASSERT_EQ(ntx::NtxFile::Open(path.string(), false, &file), KCE_SUCCESS)
            << LastFailureDetail();
        for (uint32_t r = 1; r <= 40; ++r) ASSERT_EQ(file->Insert(key(r), r), KCE_SUCCESS);
    }
    EXPECT_EQ(fs::file_size(path), size);
    EXPECT_NE(header32(8), head);
    {
        std::unique_ptr<ntx::NtxFile> file;
        ASSERT_EQ(ntx::NtxFile::Open(path.string(), true, &file), KCE_SUCCESS)
            << LastFailureDetail();
        std::vector<std::string> problems;
        file->Audit(&problems);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }

    const fs::path broken = scratch / "broken.ntx";
    const uint32_t freeHead = header32(8);
    ASSERT_NE(freeHead, 0u);
    struct Case {
        const char* what;
        uint32_t at, value;  // the four bytes written at `at`
    };
    const Case cases[] = {
        {"a link off a page boundary", freeHead, freeHead + 1},
        {"head past the end of the file", 8, uint32_t(size)},
        {"head on a page of the tree", 8, root},
        {"a page that links to itself", freeHead, freeHead},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::copy_file(path, broken, fs::copy_options::overwrite_existing);
        {
            std::fstream io(broken, std::ios::binary | std::ios::in | std::ios::out);
            io.seekp(long(c.at));
            const uint8_t b[4] = {uint8_t(c.value), uint8_t(c.value >> 8), uint8_t(c.value >> 16),
                                  uint8_t(c.value >> 24)};
            io.write(reinterpret_cast<const char*>(b), 4);
        }
        std::unique_ptr<ntx::NtxFile> file;
        EXPECT_EQ(ntx::NtxFile::Open(broken.string(), true, &file), KCE_DAMAGED_FILE);
        EXPECT_NE(LastFailureDetail().find("free list entry"), std::string::npos)
            << LastFailureDetail();
    }
}

}  // namespace

namespace {

TEST(CdxFileTest, LeafNodeBytesAreCompressedAsOtherReadersExpect) {
    // Three keys of a C(10) tag in one root leaf: two-byte entries (8 record bits, 4 duplicate
    // bits, 4 trailing bits), key bytes packed from the end of the node.
    cdx::Node node;
    node.attr = cdx::kAttrRoot | cdx::kAttrLeaf;
    node.entries = {{"ADAMS     ", 1, 0}, {"ADAMSON   ", 7, 0}, {"BAKER     ", 3, 0}};
    uint8_t page[cdx::kNodeSize];
    ASSERT_TRUE(cdx::EncodeNode(node, 10, ' ', page));
    const uint8_t head[] = {0x03, 0x00, 0x03, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                            0xFF, 0xFF, 0xD6, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x0F, 0x0F,
                            0x08, 0x04, 0x04, 0x02, 0x01, 0x50, 0x07, 0x35, 0x03, 0x50};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page), sizeof head),
              std::string(reinterpret_cast<const char*>(head), sizeof head));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page) + 500, 12), "BAKERONADAMS");
    cdx::Node back;
    std::string why;
    ASSERT_TRUE(cdx::DecodeNode(page, 10, ' ', &back, &why)) << why;
    ASSERT_EQ(back.entries.size(), 3u);
    EXPECT_EQ(back.entries[1].key, "ADAMSON   ");
    EXPECT_EQ(back.entries[1].recno, 7u);
}

}  // namespace
