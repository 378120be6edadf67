// The byte rules of .cdx files, read by a decoder of this test's own rather than the engine's:
// first on the real files of the sample folder, which shows that the rules hold for what other
// programs wrote, then on files the engine writes, where the writer's own choices hold as well and
// every key must be the one computed here from the values stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/engine_test_util.h"
#include "tests/engine/xbase_samples.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"

namespace {

using namespace kcetest;
namespace fs = std::filesystem;

using KeyList = std::vector<std::pair<std::string, uint32_t>>;

struct TagBytes {
    std::string name;
    uint16_t keyLength = 0;
    std::string keyExpr, forExpr;
    KeyList keys;  // in the order the leaves hold them
};

int BitLength(uint32_t v) {
    int n = 0;
    for (; v; v >>= 1) ++n;
    return n;
}

// Reads a whole .cdx file and lists every rule it breaks. strict adds the choices this engine's
// writer makes where other writers differ (write 0 in the reserved fields, signature 1, MACHINE
// collation, the narrowest leaf entries); fillers gives the trailing byte of the tags whose keys
// are known (a blank for character keys, a zero for the others).
class CdxAudit {
  public:
    CdxAudit(std::string bytes, bool strict, const std::map<std::string, char>& fillers = {})
        : f_(std::move(bytes)), strict_(strict) {
        if (f_.size() < 1024 || f_.size() % 512 != 0) {
            Problem("file size " + std::to_string(f_.size()) + " is not 1024 + a multiple of 512");
            return;
        }
        TagBytes directory;
        Header(0, true, &directory);
        if (!problems.empty()) return;
        if (directory.keyLength != 10) Problem("the tag directory's key length is not 10");
        Tree(LE32(0), directory.keyLength, ' ', &directory.keys, "directory");
        std::string last;
        for (const auto& [key, offset] : directory.keys) {
            std::string name = key.substr(0, key.find_last_not_of(' ') + 1);
            if (key <= last) Problem("directory: tag names are not in ascending order");
            last = key;
            for (char c : name)
                if (std::islower(static_cast<unsigned char>(c)))
                    Problem("tag " + name + ": lower case");
            TagBytes tag;
            tag.name = name;
            Header(offset, false, &tag);
            if (!problems.empty()) return;
            // Keys are cut of trailing blanks (character tags) or zeros (the others); a tag
            // whose type is not given is read both ways and must keep every rule in one.
            auto known = fillers.find(name);
            std::vector<std::string> before = problems;
            for (char filler : {' ', '\0'}) {
                if (known != fillers.end() && known->second != filler) continue;
                problems = before;
                tag.keys.clear();
                Tree(LE32(offset), tag.keyLength, filler, &tag.keys, "tag " + name);
                if (problems.size() == before.size()) break;
            }
            tags.push_back(std::move(tag));
        }
    }

    std::vector<std::string> problems;
    std::vector<TagBytes> tags;

  private:
    void Problem(const std::string& p) {
        if (problems.size() < 20) problems.push_back(p);
    }
    uint8_t At(size_t i) const { return static_cast<uint8_t>(f_[i]); }
    uint32_t LE32(size_t i) const {
        return uint32_t(At(i)) | uint32_t(At(i + 1)) << 8 | uint32_t(At(i + 2)) << 16 |
               uint32_t(At(i + 3)) << 24;
    }
    uint16_t LE16(size_t i) const { return uint16_t(At(i) | At(i + 1) << 8); }
    uint32_t BE32(size_t i) const {
        return uint32_t(At(i)) << 24 | uint32_t(At(i + 1)) << 16 | uint32_t(At(i + 2)) << 8 |
               At(i + 3);
    }
    bool Block(uint32_t offset, uint32_t size) const {
        return offset % 512 == 0 && size_t(offset) + size <= f_.size();
    }

    // An index header: the file's own (the tag directory's) at 0, or a tag's.
    void Header(uint32_t h, bool directory, TagBytes* tag) {
        std::string where = directory ? "file header" : "tag " + tag->name + " header";
        if (!Block(h, 1024)) return Problem(where + ": not a 1024-byte block inside the file");
        if (!Block(LE32(h), 512)) return Problem(where + ": root offset outside the file");
        uint32_t free = LE32(h + 4);
        if (free != 0 && free != 0xFFFFFFFF && !Block(free, 512))
            Problem(where + ": free list head " + std::to_string(free));
        if (strict_ && LE32(h + 8) != 0) Problem(where + ": bytes 8-11 are not 0");
        tag->keyLength = LE16(h + 12);
        if (tag->keyLength == 0 || tag->keyLength > 240)
            Problem(where + ": key length " + std::to_string(tag->keyLength));
        uint8_t options = At(h + 14);
        if ((options & 0x60) != 0x60) Problem(where + ": options lack compact and compound");
        if (!directory && (options & 0x80)) Problem(where + ": structural bit on a tag");
        uint8_t signature = At(h + 15);
        if (signature != 1 && (strict_ || signature != 2))
            Problem(where + ": signature " + std::to_string(signature));
        for (size_t i = 36; i < 494; ++i) {
            if (At(h + i)) {
                Problem(where + ": reserved byte " + std::to_string(i) + " is not 0");
                break;
            }
        }
        bool collation = false;
        for (size_t i = 494; i < 502; ++i) collation = collation || At(h + i);
        if (collation && (strict_ || directory)) Problem(where + ": names a collation");
        if (LE16(h + 502) != 0) Problem(where + ": not ascending");
        uint16_t keyPool = LE16(h + 510), forPool = LE16(h + 506);
        if (LE16(h + 504) != keyPool) Problem(where + ": bytes 504 and 510 differ");
        if (LE16(h + 508) != 0) Problem(where + ": bytes 508-509 are not 0");
        if (keyPool == 0 || forPool == 0 || keyPool + forPool > 512)
            return Problem(where + ": expression pool lengths");
        const char* pool = f_.data() + h + 512;
        tag->keyExpr.assign(pool, keyPool - 1);
        tag->forExpr.assign(pool + keyPool, forPool - 1);
        if (pool[keyPool - 1] || pool[keyPool + forPool - 1] ||
            tag->keyExpr.find('\0') != std::string::npos ||
            tag->forExpr.find('\0') != std::string::npos)
            Problem(where + ": expressions are not each closed by one NUL");
        for (size_t i = keyPool + forPool; i < 512; ++i) {
            if (pool[i]) {
                Problem(where + ": bytes after the expressions are not 0");
                break;
            }
        }
        if (directory && (keyPool != 1 || forPool != 1)) Problem(where + ": pool is not one NUL");
        if (bool(options & 0x08) != !tag->forExpr.empty())
            Problem(where + ": FOR bit disagrees with the FOR expression");
    }

    // Walks a tree level by level, checking each node and the sibling chains; the leaves' keys,
    // in order, go to *keys.
    void Tree(uint32_t root, uint16_t k, char filler, KeyList* keys, const std::string& where) {
        std::vector<uint32_t> level{root};
        // The last key and record of each node's subtree, as its parent must name them.
        std::map<uint32_t, std::pair<std::string, uint32_t>> expectedLast;
        for (int depth = 0; !level.empty() && depth < 16; ++depth) {
            std::vector<uint32_t> next;
            for (size_t i = 0; i < level.size(); ++i) {
                uint32_t n = level[i];
                std::string at = where + " node " + std::to_string(n);
                if (!Block(n, 512)) return Problem(at + ": outside the file");
                uint16_t attr = LE16(n) & 3;
                if (bool(attr & 1) != (depth == 0)) Problem(at + ": root bit");
                uint32_t left = LE32(n + 4), right = LE32(n + 8);
                if (left != (i ? level[i - 1] : 0xFFFFFFFF)) Problem(at + ": left sibling");
                if (right != (i + 1 < level.size() ? level[i + 1] : 0xFFFFFFFF))
                    Problem(at + ": right sibling");
                if (attr & 2) {
                    if (!next.empty()) Problem(at + ": leaves and interior nodes on one level");
                    size_t before = keys->size();
                    Leaf(n, k, filler, keys, at);
                    if (strict_ && depth > 0 && keys->size() == before)
                        Problem(at + ": an empty leaf");
                    if (keys->size() > before && expectedLast.count(n) &&
                        keys->back() != expectedLast[n])
                        Problem(at + ": its parent names another last key");
                } else {
                    Interior(n, k, &next, &expectedLast, at);
                }
            }
            bool leaves = LE16(level[0]) & 2;
            if (leaves) {
                if (!next.empty()) Problem(where + ": leaves at different depths");
                break;
            }
            level = std::move(next);
            if (level.empty()) Problem(where + ": an interior level without children");
        }
        for (size_t i = 1; i < keys->size(); ++i) {
            if ((*keys)[i] <= (*keys)[i - 1]) {
                Problem(where + ": keys out of order at entry " + std::to_string(i));
                break;
            }
        }
    }

    void Interior(uint32_t n, uint16_t k, std::vector<uint32_t>* children,
                  std::map<uint32_t, std::pair<std::string, uint32_t>>* last,
                  const std::string& at) {
        uint16_t count = LE16(n + 2);
        if (count == 0 || count > 500 / (k + 8))
            return Problem(at + ": " + std::to_string(count) + " entries in an interior node");
        for (uint16_t e = 0; e < count; ++e) {
            size_t p = n + 12 + size_t(e) * (k + 8);
            uint32_t child = BE32(p + k + 4);
            (*last)[child] = {f_.substr(p, k), BE32(p + k)};
            children->push_back(child);
        }
        // Each entry names the last key of its child; for an interior child, that is the child's
        // own last entry.
        auto it = last->find(n);
        if (it != last->end()) {
            size_t p = n + 12 + size_t(count - 1) * (k + 8);
            if (f_.compare(p, k, it->second.first) != 0 || BE32(p + k) != it->second.second)
                Problem(at + ": its parent names another last key");
        }
    }

    void Leaf(uint32_t n, uint16_t k, char filler, KeyList* keys, const std::string& at) {
        uint16_t count = LE16(n + 2), free = LE16(n + 12);
        uint32_t recMask = LE32(n + 14);
        uint8_t dupMask = At(n + 18), trailMask = At(n + 19);
        int r = At(n + 20), d = At(n + 21), t = At(n + 22), b = At(n + 23);
        if (b < 1 || b > 4 || r + d + t != 8 * b) return Problem(at + ": entry widths");
        if (recMask != (r >= 32 ? 0xFFFFFFFF : (1u << r) - 1) || dupMask != (1u << d) - 1 ||
            trailMask != (1u << t) - 1)
            Problem(at + ": masks disagree with the widths");
        if (d != BitLength(k) || t != BitLength(k))
            Problem(at + ": duplicate and trailing counts are not " + std::to_string(BitLength(k)) +
                    " bits");
        if (24 + size_t(count) * b > 512) return Problem(at + ": too many entries");
        size_t stored = 0, maxRecno = 0, end = 512;
        std::string prev;
        int prevTrail = 0;
        for (uint16_t e = 0; e < count; ++e) {
            uint64_t v = 0;
            for (int i = b - 1; i >= 0; --i) v = v << 8 | At(n + 24 + size_t(e) * b + size_t(i));
            uint32_t recno = uint32_t(v & recMask);
            int dup = int(v >> r & dupMask), trail = int(v >> (r + d) & trailMask);
            int len = k - dup - trail;
            if (len < 0 || 24 + size_t(count) * b + size_t(len) > end || (e == 0 && dup))
                return Problem(at + ": entry " + std::to_string(e) + " overruns the node");
            end -= size_t(len);
            stored += size_t(len);
            std::string key = prev.substr(0, size_t(dup)) + f_.substr(n + end, size_t(len)) +
                              std::string(size_t(trail), filler);
            // The shared bytes never reach into either key's cut tail, and the tail cut is every
            // trailing filler byte.
            size_t common = 0;
            while (e && common < size_t(k) && key[common] == prev[common]) ++common;
            size_t want = std::min({common, size_t(k - trail), size_t(k - prevTrail)});
            size_t kept = key.find_last_not_of(filler);
            size_t wantTrail = kept == std::string::npos ? size_t(k) : size_t(k) - kept - 1;
            if ((e && size_t(dup) != want) || size_t(trail) != wantTrail)
                Problem(at + ": entry " + std::to_string(e) + " shares or cuts the wrong count");
            maxRecno = std::max<size_t>(maxRecno, recno);
            keys->emplace_back(key, recno);
            prev = key;
            prevTrail = trail;
        }
        if (free != 488 - count * b - stored)
            Problem(at + ": free bytes " + std::to_string(free) + ", expected " +
                    std::to_string(488 - count * b - stored));
        if (strict_ && count && BitLength(uint32_t(maxRecno)) + d + t <= 8 * (b - 1))
            Problem(at + ": entries wider than needed");
    }

    std::string f_;
    bool strict_;
};

using testsupport::Hex;
using testsupport::ReadFile;
using testsupport::ShellOutput;

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

TEST(CdxBytes, TheSampleFilesFollowTheByteRules) {
    auto samples = xbasesamples::Samples("cdx");
    if (samples.empty()) GTEST_SKIP() << xbasesamples::kMissing;
    size_t tags = 0, keys = 0;
    for (const auto& sample : samples) {
        CdxAudit audit(ReadFile(sample.index), false);
        EXPECT_EQ(Joined(audit.problems), "") << sample.index;
        tags += audit.tags.size();
        for (const auto& t : audit.tags) keys += t.keys.size();
    }
    EXPECT_GT(tags, 0u);
    EXPECT_GT(keys, 0u);
}

// Key bytes as the format defines them, computed here independently of the engine.
std::string NumberKey(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    bits = v < 0 ? ~bits : bits | 0x8000000000000000ull;
    std::string key(8, '\0');
    for (int i = 0; i < 8; ++i) key[size_t(i)] = char(bits >> (56 - 8 * i));
    return key;
}
long Julian(int y, int m, int d) {
    int a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365L * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

using Rows = std::map<uint32_t, std::map<std::string, std::string>>;

// Every tag of the audit holds exactly the keys computed here from rows: TX for field X of type
// char, numeric, date or logical, and TFOR on C10 for the records whose L is true.
void ExpectKeysOf(const std::vector<TagBytes>& tags, const Rows& rows) {
    for (const TagBytes& tag : tags) {
        SCOPED_TRACE(tag.name);
        std::string field = tag.name == "TFOR" ? "C10" : tag.name.substr(1);
        EXPECT_EQ(tag.keyExpr, field);
        EXPECT_EQ(tag.forExpr, tag.name == "TFOR" ? "L" : "");
        KeyList expected;
        for (const auto& [recno, row] : rows) {
            if (tag.name == "TFOR" && row.at("L") != "T") continue;
            const std::string& v = row.at(field);
            std::string key;
            if (field[0] == 'C') {
                key = v + std::string(tag.keyLength - v.size(), ' ');
            } else if (field == "N") {
                key = NumberKey(std::strtod(v.c_str(), nullptr));
            } else if (field == "D") {
                key = NumberKey(double(Julian(std::stoi(v.substr(0, 4)), std::stoi(v.substr(5, 2)),
                                              std::stoi(v.substr(8, 2)))));
            } else {
                key = v;
            }
            expected.emplace_back(key, recno);
        }
        std::sort(expected.begin(), expected.end());
        size_t same = 0;
        while (same < std::min(tag.keys.size(), expected.size()) &&
               tag.keys[same] == expected[same])
            ++same;
        EXPECT_EQ(same == tag.keys.size() && same == expected.size(), true)
            << tag.keys.size() << " keys for " << expected.size() << "; first difference at "
            << same << ": "
            << (same < tag.keys.size()
                    ? Hex(tag.keys[same].first) + " record " + std::to_string(tag.keys[same].second)
                    : "none")
            << " where "
            << (same < expected.size()
                    ? Hex(expected[same].first) + " record " + std::to_string(expected[same].second)
                    : "none")
            << " was expected";
    }
}

bool PerlXBaseInstalled() {
    return ShellOutput("perl -MXBase -e 'print qq(ok)' 2>/dev/null") == "ok";
}

// An independent reader (Perl's XBase modules) looks every record of the table up by its key in
// the character tags TC1..TC240; prints the tags that miss a record and then "read N".
std::string PerlLookups(const fs::path& script, const fs::path& dbf, const fs::path& cdx) {
    std::ofstream(script) << R"(
use XBase; use XBase::Index;
my ($dbf, $cdx) = @ARGV;
my $t = XBase->new($dbf) or die XBase->errstr;
for my $f (qw(C1 C10 C37 C100 C150 C240)) {
  my $i = XBase::Index->new($cdx, tag => "T$f", type => "C") or die XBase::Index->errstr;
  my $missed = 0;
  for my $r (0 .. $t->last_record) {
    my (undef, $v) = $t->get_record($r, $f);
    $i->prepare_select_eq($v);
    my $found = 0;
    while (my ($k, $n) = $i->fetch) {
      last if $k ne $v;
      if ($n == $r + 1) { $found = 1; last }
    }
    $missed++ unless $found;
  }
  print "T$f misses $missed\n" if $missed;
}
print "read ", $t->last_record + 1, "\n";
)";
    return ShellOutput("perl " + script.string() + " " + dbf.string() + " " + cdx.string() +
                       " 2>&1");
}

class CdxWritten : public EngineTest {};

// Character tags of widths from 1 to 240, numeric, date and logical tags and one with a FOR
// condition, after appends, changes, removals of most keys and deletions: every rule holds, and
// every tag holds exactly the keys computed here from the values written.
TEST_F(CdxWritten, FilesTheEngineWritesFollowTheByteRulesWithTheRightKeys) {
    const std::vector<int> widths = {1, 10, 37, 100, 150, 240};
    std::string fields;
    for (int w : widths) fields += "C" + std::to_string(w) + ",char," + std::to_string(w) + ";";
    fields += "N,numeric,9,2;D,date;L,logical";
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("K.dbf"), KCE_CDX, KCE_ANSI, U(fields), 0, &t), 0u)
        << LastErrorText();
    std::vector<std::string> names;
    for (int w : widths) names.push_back("C" + std::to_string(w));
    for (const char* f : {"N", "D", "L"}) names.push_back(f);
    for (const std::string& f : names) {
        KDSHANDLE h = 0;
        ASSERT_EQ(KdsCreateIndex(t, nullptr, U("T" + f), U(f), nullptr, 0, &h), 0u)
            << f << ": " << LastErrorText();
    }
    KDSHANDLE h = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("TFOR"), U("C10"), U("L"), 0, &h), 0u)
        << LastErrorText();

    std::mt19937 rng(71);
    Rows rows;
    auto fill = [&](uint32_t recno) {
        auto& row = rows[recno];
        for (int w : widths) {
            std::string s(rng() % 3 ? rng() % size_t(w + 1) : 0, 'Q');
            while (s.size() < size_t(w) && rng() % 5) s += char('A' + rng() % 4);
            row["C" + std::to_string(w)] = s.substr(0, size_t(w));
        }
        char amount[32], day[16];
        std::snprintf(amount, sizeof amount, "%.2f", (int(rng() % 2000000) - 1000000) / 100.0);
        std::snprintf(day, sizeof day, "%04d-%02d-%02d", 1 + int(rng() % 9999), 1 + int(rng() % 12),
                      1 + int(rng() % 28));
        row["N"] = amount;
        row["D"] = day;
        row["L"] = rng() % 2 ? "T" : "F";
        for (const auto& [field, value] : row) Set(t, field.c_str(), value);
    };
    for (uint32_t i = 1; i <= 900; ++i) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        fill(i);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    for (int i = 0; i < 300; ++i) {
        uint32_t recno = 1 + rng() % 900;
        ASSERT_EQ(KdsGotoRecord(t, recno), 0u);
        fill(recno);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    // Most character values blanked: keys leave every part of those tags, whose nodes go under
    // half full and are merged.
    for (uint32_t recno = 1; recno <= 900; ++recno) {
        if (recno % 7 == 0) continue;
        ASSERT_EQ(KdsGotoRecord(t, recno), 0u);
        for (int w : widths) {
            std::string field = "C" + std::to_string(w);
            rows[recno][field] = "";
            Set(t, field.c_str(), "");
        }
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    // Deleted records keep their keys (no tag's condition mentions deletion).
    for (uint32_t recno = 3; recno <= 900; recno += 3) {
        ASSERT_EQ(KdsGotoRecord(t, recno), 0u);
        ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
    }
    EXPECT_EQ(KdsCheckIndexes(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsCloseTable(t), 0u);

    std::map<std::string, char> fillers{{"TN", '\0'}, {"TD", '\0'}, {"TL", ' '}, {"TFOR", ' '}};
    for (int w : widths) fillers["TC" + std::to_string(w)] = ' ';
    CdxAudit audit(ReadFile(Path("K.cdx")), true, fillers);
    ASSERT_EQ(Joined(audit.problems), "");
    ASSERT_EQ(audit.tags.size(), names.size() + 1);
    ExpectKeysOf(audit.tags, rows);

    // The tags whose nodes were merged still find every record for another reader.
    if (!PerlXBaseInstalled()) GTEST_SKIP() << "the Perl XBase modules are not installed";
    EXPECT_EQ(PerlLookups(Path("find.pl"), Path("K.dbf"), Path("K.cdx")), "read 900\n");
}

// The same for the files the command-line tool writes: a table created with its tags, filled from
// JSON lines (some records deleted), and then rebuilt by reindex.
TEST_F(CdxWritten, FilesKdstoolWritesFollowTheByteRulesWithTheRightKeys) {
    const std::vector<int> widths = {1, 10, 37, 100, 150, 240};
    std::string create = std::string(KDSTOOL) + " create " + Path("T.dbf") + " --type cdx";
    for (int w : widths) create += " C" + std::to_string(w) + ":char:" + std::to_string(w);
    create += " N:numeric:9:2 D:date L:logical";
    for (int w : widths) create += " --index TC" + std::to_string(w) + "=C" + std::to_string(w);
    create += " --index TN=N --index TD=D --index TL=L";
    ASSERT_EQ(std::system((create + " >/dev/null").c_str()), 0) << create;

    std::mt19937 rng(29);
    Rows rows;
    std::ofstream lines(Path("in.jsonl"));
    for (uint32_t recno = 1; recno <= 700; ++recno) {
        auto& row = rows[recno];
        lines << "{";
        for (int w : widths) {
            std::string s(rng() % 4 ? 0 : rng() % size_t(w + 1), 'Q');
            while (s.size() < size_t(w) && rng() % 6) s += char('A' + rng() % 4);
            s = s.substr(0, size_t(w));
            row["C" + std::to_string(w)] = s;
            lines << "\"C" << w << "\": \"" << s << "\", ";
        }
        char amount[32], day[16];
        std::snprintf(amount, sizeof amount, "%.2f", (int(rng() % 2000000) - 1000000) / 100.0);
        std::snprintf(day, sizeof day, "%04d-%02d-%02d", 1 + int(rng() % 9999), 1 + int(rng() % 12),
                      1 + int(rng() % 28));
        row["N"] = amount;
        row["D"] = day;
        row["L"] = rng() % 2 ? "T" : "F";
        lines << "\"N\": " << amount << ", \"D\": \"" << day
              << "\", \"L\": " << (row["L"] == "T" ? "true" : "false")
              << (recno % 5 ? "" : ", \"_deleted\": true") << "}\n";
    }
    lines.close();
    std::string import = std::string(KDSTOOL) + " import " + Path("T.dbf") + " " + Path("in.jsonl");
    ASSERT_EQ(std::system(import.c_str()), 0) << import;

    std::map<std::string, char> fillers{{"TN", '\0'}, {"TD", '\0'}, {"TL", ' '}};
    for (int w : widths) fillers["TC" + std::to_string(w)] = ' ';
    for (const char* step : {"imported", "reindexed"}) {
        SCOPED_TRACE(step);
        if (std::string(step) == "reindexed") {
            std::string reindex =
                std::string(KDSTOOL) + " reindex " + Path("T.dbf") + " >/dev/null";
            ASSERT_EQ(std::system(reindex.c_str()), 0) << reindex;
        }
        CdxAudit audit(ReadFile(Path("T.cdx")), true, fillers);
        ASSERT_EQ(Joined(audit.problems), "");
        ASSERT_EQ(audit.tags.size(), widths.size() + 3);
        ExpectKeysOf(audit.tags, rows);
        if (PerlXBaseInstalled()) {
            EXPECT_EQ(PerlLookups(Path("find.pl"), Path("T.dbf"), Path("T.cdx")), "read 700\n");
        }
    }
    if (!PerlXBaseInstalled()) GTEST_SKIP() << "the Perl XBase modules are not installed";
}

}  // namespace
