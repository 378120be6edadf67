// kdstool check and check --repair on damaged DBF tables. Each damage is made by hand in tables
// written by kdstool (CDX with FPT memo, NTX with DBT memo) and in one written by python3-dbf
// (dBase III, DBT memo);
// after the repair python3-dbfread reads every record the damage did not touch as it read it
// before the damage, check is clean, and the .bak files hold the damaged files byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

namespace fs = std::filesystem;
using tools_test::Outcome;

// The files of a table and where its header puts things.
struct Files {
    std::string dbf, memo, memoExt;
    bool memoGone = false;  // the memo file is not written beside the table

    uint32_t U16(size_t at) const { return uint8_t(dbf[at]) | uint8_t(dbf[at + 1]) << 8; }
    void PutU16(size_t at, uint32_t v) {
        dbf[at] = char(v);
        dbf[at + 1] = char(v >> 8);
    }
    uint32_t Count() const { return U16(4) | U16(6) << 16; }
    void SetCount(uint32_t n) {
        PutU16(4, n & 0xFFFF);
        PutU16(6, n >> 16);
    }
    size_t HeaderLength() const { return U16(8); }
    size_t RecordLength() const { return U16(10); }
    // Offset and length of a field in the record, the deletion flag at 0.
    std::pair<size_t, size_t> Field(const std::string& name) const {
        size_t offset = 1;
        for (size_t at = 32; dbf[at] != '\x0D'; at += 32) {
            const size_t length = uint8_t(dbf[at + 16]);
            if (dbf.compare(at, name.size(), name) == 0 && dbf[at + name.size()] == '\0') {
                return {offset, length};
            }
            offset += length;
        }
        ADD_FAILURE() << "no field " << name;
        return {0, 0};
    }
    size_t At(int record, const std::string& field) const {
        return HeaderLength() + (record - 1) * RecordLength() + Field(field).first;
    }
    void Put(int record, const std::string& field, const std::string& text) {
        dbf.replace(At(record, field), text.size(), text);
    }
    bool Fpt() const { return memoExt == ".fpt"; }
    uint32_t Pointer(int record) const {
        const size_t at = At(record, "NOTE");
        if (Field("NOTE").second == 4) {
            return uint8_t(dbf[at]) | uint8_t(dbf[at + 1]) << 8 | uint8_t(dbf[at + 2]) << 16 |
                   uint32_t(uint8_t(dbf[at + 3])) << 24;
        }
        return uint32_t(std::stoul(dbf.substr(at, 10)));
    }
    void SetPointer(int record, uint32_t block) {
        const size_t at = At(record, "NOTE");
        if (Field("NOTE").second == 4) {
            for (int i = 0; i < 4; ++i) dbf[at + i] = char(block >> (8 * i));
        } else {
            std::string digits = std::to_string(block);
            dbf.replace(at, 10, std::string(10 - digits.size(), ' ') + digits);
        }
    }
    void SetNextFree(uint32_t block) {
        for (int i = 0; i < 4; ++i) memo[Fpt() ? 3 - i : i] = char(block >> (8 * i));
    }
};

struct Damage {
    const char* name;
    std::function<void(Files&)> apply;
    std::set<int> touched;  // records whose values the repair may change
    std::string found;      // in what check prints
    bool warningOnly = false;
    bool fptOnly = false;
    bool indexed = false;  // needs the table's index
};

void CountTooHigh(Files& f) { f.SetCount(f.Count() + 3); }
void BadNumber(Files& f) { f.Put(1, "PAY", "12a4.00 "); }
void MemoPastEnd(Files& f) { f.SetPointer(2, 900000); }

const std::vector<Damage>& Damages() {
    static const std::vector<Damage> cases = {
        {"count too high", CountTooHigh, {}, "the header counts 7 records, the file holds 4"},
        {"count too low",
         [](Files& f) { f.SetCount(2); },
         {},
         "the header counts 2 records, the file holds 4"},
        {"end marker missing",
         [](Files& f) { f.dbf.pop_back(); },
         {},
         "warning: the end-of-file marker 0x1A is missing",
         true},
        {"padding after the end marker",
         [](Files& f) { f.dbf += std::string(3 * f.RecordLength(), '\0'); },
         {},
         "bytes of padding (0x00...) follow the end marker",
         true},
        {"end marker replaced",
         [](Files& f) { f.dbf.back() = 'Z'; },
         {},
         "the byte after the records is 0x5A, not the end marker 0x1A"},
        {"header length off",
         [](Files& f) { f.PutU16(8, f.HeaderLength() + 3); },
         {},
         "header length is"},
        {"record length off",
         [](Files& f) { f.PutU16(10, f.RecordLength() + 5); },
         {},
         "the fields need"},
        {"last record cut short",
         [](Files& f) { f.dbf.resize(f.dbf.size() - 1 - f.RecordLength() / 2); },
         {4},
         "record 4 is cut short"},
        {"deletion flag",
         [](Files& f) { f.dbf[f.At(2, "NAME") - 1] = '\0'; },
         {},
         "record 2: the deletion flag is 0x00, neither blank nor '*'"},
        {"number", BadNumber, {1}, "record 1, field PAY: the number '12a4.00 ' cannot be read"},
        {"date",
         [](Files& f) { f.Put(3, "HIRED", "2023AB01"); },
         {3},
         "record 3, field HIRED: the date '2023AB01' cannot be read"},
        {"memo pointer past the end",
         MemoPastEnd,
         {2},
         "record 2, field NOTE: memo block 900000 starts or runs past the end of"},
        {"memo pointer into another value",
         [](Files& f) { f.SetPointer(3, f.Pointer(1) + 1); },
         {3},
         "record 3, field NOTE: memo block"},
        {"memo next free block", [](Files& f) { f.SetNextFree(1); }, {}, "as the next free block"},
        {"memo file missing",
         [](Files& f) { f.memoGone = true; },
         {1, 2, 3, 4},
         " lies in the missing t"},
        {"memo block size",
         [](Files& f) {
             f.memo[6] = 0;
             f.memo[7] = 0;
         },
         {},
         "the header gives blocks of 0 bytes",
         false,
         true},
        {"index out of date",
         [](Files& f) { f.Put(2, "NAME", "zed"); },
         {2},
         "BYNAME",
         false,
         false,
         true},
        {"three together",
         [](Files& f) {
             CountTooHigh(f);
             BadNumber(f);
             MemoPastEnd(f);
         },
         {1, 2},
         "the header counts 7 records"},
    };
    return cases;
}

class KdstoolRepair : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-repair-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { fs::remove_all(dir_); }

    Outcome Run(const std::string& command, const std::string& in) {
        return tools_test::RunCommand("cd " + dir_ + "/" + in + " && " + command,
                                      dir_ + "/stderr.txt");
    }
    Outcome Kdstool(const std::string& args, const std::string& in) {
        return Run(std::string(KDSTOOL) + " " + args, in);
    }
    std::string Read(const std::string& path) {
        std::ifstream in(dir_ + "/" + path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(dir_ + "/" + path, std::ios::binary) << bytes;
    }
    // The records python3-dbfread reads, one line each.
    std::vector<std::string> Dbfread(const std::string& in) {
        Write(in + "/dump.py",
              "from dbfread import DBF\n"
              "for r in DBF('t.dbf', char_decode_errors='replace'):\n"
              "    print('|'.join(str(v) for v in r.values()))\n");
        Outcome run = Run("/usr/bin/python3 dump.py", in);
        EXPECT_EQ(run.status, 0) << in << ": " << run.err;
        std::vector<std::string> lines;
        std::istringstream text(run.out);
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    // The sources: t.dbf in engine/ (with its t.fpt and t.cdx, tag BYNAME), in ntx/ (t.dbt,
    // BYNAME.ntx) and in pydbf/ (t.dbt).
    void MakeSources() {
        const std::string note1(1000, 'a');
        fs::create_directories(dir_ + "/engine");
        fs::create_directories(dir_ + "/pydbf");
        fs::create_directories(dir_ + "/ntx");
        Write("in.jsonl",
              "{\"NAME\": \"ann\", \"PAY\": 1.5, \"HIRED\": \"2001-02-03\", \"NOTE\": \"" + note1 +
                  "\"}\n"
                  "{\"NAME\": \"bob\", \"PAY\": 22.25, \"HIRED\": \"1999-12-31\", \"NOTE\": "
                  "\"short note\"}\n"
                  "{\"NAME\": \"cid\", \"PAY\": 333, \"HIRED\": \"2010-06-15\", \"NOTE\": "
                  "\"third\"}\n"
                  "{\"NAME\": \"dee\", \"PAY\": 4, \"HIRED\": \"2020-02-29\", \"NOTE\": "
                  "\"fourth\"}\n");
        for (const char* kind : {"cdx", "ntx"}) {
            const std::string in = kind == std::string("cdx") ? "engine" : "ntx";
            ASSERT_EQ(Kdstool(std::string("create t.dbf --type ") + kind +
                                  " NAME:char:10 PAY:numeric:8:2 HIRED:date NOTE:memo "
                                  "--index BYNAME=NAME",
                              in)
                          .status,
                      0);
            Outcome import = Kdstool("import t.dbf ../in.jsonl", in);
            ASSERT_EQ(import.status, 0) << import.err;
        }
        Write("pydbf/make.py",
              "import dbf, datetime\n"
              "t = dbf.Table('t.dbf', 'NAME C(10); PAY N(8,2); HIRED D; NOTE M', "
              "dbf_type='db3')\n"
              "t.open(dbf.READ_WRITE)\n"
              "d = datetime.date\n"
              "t.append(('ann', 1.5, d(2001, 2, 3), '" +
                  note1 +
                  "'))\n"
                  "t.append(('bob', 22.25, d(1999, 12, 31), 'short note'))\n"
                  "t.append(('cid', 333, d(2010, 6, 15), 'third'))\n"
                  "t.append(('dee', 4, d(2020, 2, 29), 'fourth'))\n"
                  "t.close()\n");
        Outcome make = Run("/usr/bin/python3 make.py", "pydbf");
        ASSERT_EQ(make.status, 0) << make.err;
        for (const char* source : {"engine", "ntx", "pydbf"}) {
            Outcome check = Kdstool("check t.dbf", source);
            ASSERT_EQ(check.status, 0) << source << ": " << check.out << check.err;
            ASSERT_EQ(check.out, "") << source;
        }
    }

    std::string dir_;
};

TEST_F(KdstoolRepair, EachDamageAloneAndThreeTogether) {
    MakeSources();
    // The index file of each source: the CDX table's own, the one the NTX table's list names.
    const std::map<std::string, std::string> indexOf = {{"engine", "t.cdx"}, {"ntx", "BYNAME.ntx"}};
    for (const char* source : {"engine", "ntx", "pydbf"}) {
        const std::string memoExt = std::string(source) == "engine" ? ".fpt" : ".dbt";
        const std::string index = indexOf.count(source) ? indexOf.at(source) : "";
        const std::vector<std::string> before = Dbfread(source);
        ASSERT_EQ(before.size(), 4u) << source;
        for (const Damage& d : Damages()) {
            if (d.fptOnly && memoExt != ".fpt") continue;
            const bool indexed = !index.empty();
            if (d.indexed && !indexed) continue;
            SCOPED_TRACE(std::string(source) + ": " + d.name);
            std::string dir = std::string(source) + "-" + d.name;
            std::replace(dir.begin(), dir.end(), ' ', '-');
            fs::create_directories(dir_ + "/" + dir);
            Files f{Read(std::string(source) + "/t.dbf"),
                    Read(std::string(source) + "/t" + memoExt), memoExt};
            d.apply(f);
            std::vector<std::string> names = {"t.dbf", "t" + memoExt};
            if (indexed) names.push_back(index);
            Write(dir + "/t.dbf", f.dbf);
            if (!f.memoGone) Write(dir + "/t" + memoExt, f.memo);
            if (indexed) Write(dir + "/" + index, Read(std::string(source) + "/" + index));
            if (fs::exists(dir_ + "/" + source + "/t.ntxlist")) {
                Write(dir + "/t.ntxlist", Read(std::string(source) + "/t.ntxlist"));
            }
            std::vector<std::string> damaged;
            for (const std::string& n : names) damaged.push_back(Read(dir + "/" + n));

            Outcome check = Kdstool("check t.dbf", dir);
            EXPECT_EQ(check.status, d.warningOnly ? 0 : 1) << check.out << check.err;
            EXPECT_NE(check.out.find(d.found), std::string::npos) << check.out << check.err;
            for (size_t i = 0; i < names.size(); ++i) {
                EXPECT_EQ(Read(dir + "/" + names[i]), damaged[i]) << "check changed " << names[i];
            }

            Outcome repair = Kdstool("check t.dbf --repair", dir);
            EXPECT_EQ(repair.status, 0) << repair.out << repair.err;
            EXPECT_NE(repair.out.find(d.found), std::string::npos) << repair.out;
            EXPECT_NE(repair.out.find("repaired\n"), std::string::npos) << repair.out;

            Outcome after = Kdstool("check t.dbf", dir);
            EXPECT_EQ(after.status, 0) << after.out << after.err;
            EXPECT_EQ(after.out, "");

            int backups = 0;
            for (size_t i = 0; i < names.size(); ++i) {
                if (!fs::exists(dir_ + "/" + dir + "/" + names[i] + ".bak")) continue;
                ++backups;
                EXPECT_EQ(Read(dir + "/" + names[i] + ".bak"), damaged[i]) << names[i];
                EXPECT_NE(
                    repair.out.find("kept a copy of " + names[i] + " as " + names[i] + ".bak"),
                    std::string::npos)
                    << repair.out;
            }
            EXPECT_GT(backups, 0);
            if (f.memoGone) {
                // Made anew, empty: there was nothing to keep a copy of.
                EXPECT_NE(repair.out.find("t" + memoExt +
                                          ", the memo file of the table, is missing; an empty t" +
                                          memoExt + " made"),
                          std::string::npos)
                    << repair.out;
                EXPECT_FALSE(fs::exists(dir_ + "/" + dir + "/t" + memoExt + ".bak"));
            }

            const std::vector<std::string> read = Dbfread(dir);
            ASSERT_EQ(read.size(), before.size()) << repair.out;
            for (size_t r = 0; r < read.size(); ++r) {
                if (d.touched.count(int(r) + 1) == 0) {
                    EXPECT_EQ(read[r], before[r]) << "record " << r + 1;
                }
            }
        }
    }
}

// A table file cut inside its field list has lost fields that cannot be told: check and repair
// both refuse it, naming the cut, and change nothing (a repair once made a table of the fields
// left, taking the bytes of a cut descriptor for a record). Cut after the list's end, only the
// header's padding is gone: the repair mends the header length, and the fields stay.
TEST_F(KdstoolRepair, AFileCutInsideItsHeader) {
    fs::create_directories(dir_ + "/cut");
    ASSERT_EQ(Kdstool("create t.dbf --type cdx NAME:char:10 PAY:numeric:8:2", "cut").status, 0);
    Write("in.jsonl", "{\"NAME\": \"ann\", \"PAY\": 1.5}\n{\"NAME\": \"bob\", \"PAY\": 2}\n");
    ASSERT_EQ(Kdstool("import t.dbf ../in.jsonl", "cut").status, 0);
    const Files whole{Read("cut/t.dbf"), "", ""};
    const size_t listEnd = 32 + 2 * 32;  // two descriptors, then the terminator
    ASSERT_EQ(whole.dbf[listEnd], '\x0D');
    ASSERT_GT(whole.HeaderLength(), listEnd + 1);
    for (size_t cut : {size_t(40), listEnd - 16, listEnd}) {
        SCOPED_TRACE(cut);
        const std::string bytes = whole.dbf.substr(0, cut);
        Write("cut/t.dbf", bytes);
        for (const char* command : {"check t.dbf", "check t.dbf --repair"}) {
            Outcome run = Kdstool(command, "cut");
            EXPECT_EQ(run.status, 1) << command << ": " << run.out << run.err;
            EXPECT_NE(run.err.find("ends inside its field list"), std::string::npos) << run.err;
            EXPECT_EQ(Read("cut/t.dbf"), bytes) << command;
            EXPECT_FALSE(fs::exists(dir_ + "/cut/t.dbf.bak")) << command;
        }
    }
    const std::string bytes = whole.dbf.substr(0, listEnd + 1);
    Write("cut/t.dbf", bytes);
    Outcome repair = Kdstool("check t.dbf --repair", "cut");
    EXPECT_EQ(repair.status, 0) << repair.out << repair.err;
    EXPECT_EQ(Read("cut/t.dbf.bak"), bytes);
    EXPECT_EQ(Kdstool("check t.dbf", "cut").out, "");
    Outcome info = Kdstool("info t.dbf", "cut");
    EXPECT_NE(info.out.find("\"records\": 0"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"name\": \"PAY\""), std::string::npos) << info.out;
}

// A repair that cannot finish (here: an earlier backup is in the way) changes nothing and says
// so; check without --repair never writes a backup.
TEST_F(KdstoolRepair, ARepairThatCannotFinishLeavesTheOriginals) {
    MakeSources();
    Files f{Read("engine/t.dbf"), Read("engine/t.fpt"), ".fpt"};
    CountTooHigh(f);
    f.SetNextFree(1);
    Write("engine/t.dbf", f.dbf);
    Write("engine/t.fpt", f.memo);
    Write("engine/t.fpt.bak", "an earlier backup");
    const std::string cdx = Read("engine/t.cdx");
    Outcome repair = Kdstool("check t.dbf --repair", "engine");
    EXPECT_EQ(repair.status, 1);
    EXPECT_NE(repair.err.find("t.fpt.bak already exists"), std::string::npos) << repair.err;
    EXPECT_EQ(Read("engine/t.dbf"), f.dbf);
    EXPECT_EQ(Read("engine/t.fpt"), f.memo);
    EXPECT_EQ(Read("engine/t.cdx"), cdx);
    EXPECT_EQ(Read("engine/t.fpt.bak"), "an earlier backup");
    EXPECT_FALSE(fs::exists(dir_ + "/engine/t.dbf.bak"));
    EXPECT_FALSE(fs::exists(dir_ + "/engine/t.cdx.bak"));
    for (const auto& entry : fs::directory_iterator(dir_ + "/engine")) {
        EXPECT_EQ(entry.path().filename().string().find(".repair-"), std::string::npos)
            << "staging folder left behind";
    }
}

}  // namespace
