// Sharing, locks and crashes across processes: a second process runs kce_helper.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>

#include "engine_test_util.h"

using namespace kcetest;

namespace {

// A running kce_helper with a pipe to its input and one from its output.
class Helper {
  public:
    explicit Helper(std::vector<std::string> args) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> argv;
            std::string program = KCE_HELPER;
            argv.push_back(program.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        toChild_ = in[1];
        fromChild_ = ::fdopen(out[0], "r");
    }
    ~Helper() {
        Finish();
        if (fromChild_) std::fclose(fromChild_);
    }
    // The next line the helper printed, without its newline; empty at its end.
    std::string Line() {
        char buf[256];
        if (!fromChild_ || !std::fgets(buf, sizeof buf, fromChild_)) return {};
        std::string line = buf;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return line;
    }
    // Closes the helper's input and waits for it.
    void Finish() {
        if (toChild_ >= 0) ::close(toChild_);
        toChild_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void Kill() {
        ::kill(pid_, SIGKILL);
        Finish();
    }

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    FILE* fromChild_ = nullptr;
};

class ProcessTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        KDSHANDLE t = Create("SHARED", "A,integer;PAD,char,30");
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "A", "1");
        ASSERT_EQ(KdsWriteRecord(t), 0u);
        KdsCloseTable(t);
    }
};

TEST_F(ProcessTest, AnExclusiveOpenShutsOutOtherProcesses) {
    KDSHANDLE t = Open("SHARED", KCE_OPEN_EXCLUSIVE);
    EXPECT_EQ(Helper({"open", dir_, "SHARED", "0"}).Line(), std::to_string(KCE_TABLE_IN_USE));
    KdsCloseTable(t);
    // The other way round: a process holding the table exclusively, then one holding it shared.
    {
        Helper holder({"hold", dir_, "SHARED", "1"});
        ASSERT_EQ(holder.Line(), "ready");
        KDSHANDLE h = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U("SHARED"), nullptr, KCE_KDT, KCE_ANSI,
                               KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &h),
                  KCE_TABLE_IN_USE);
        EXPECT_NE(LastErrorText().find("exclusively in another process"), std::string::npos);
    }
    {
        Helper holder({"hold", dir_, "SHARED", "0"});
        ASSERT_EQ(holder.Line(), "ready");
        KDSHANDLE h = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U("SHARED"), nullptr, KCE_KDT, KCE_ANSI,
                               KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, KCE_OPEN_EXCLUSIVE, &h),
                  KCE_TABLE_IN_USE);
        t = Open("SHARED");  // shared with the other process
        EXPECT_NE(t, 0u);
        KdsCloseTable(t);
    }
    // Once the other process is gone the table is free again.
    t = Open("SHARED", KCE_OPEN_EXCLUSIVE);
    EXPECT_NE(t, 0u);
}

TEST_F(ProcessTest, RecordLocksHoldAcrossProcesses) {
    KDSHANDLE t = Open("SHARED");
    {
        Helper locker({"lock", dir_, "SHARED", "1"});
        ASSERT_EQ(locker.Line(), "0");
        EXPECT_EQ(KdsLockRecord(t, 1), KCE_RECORD_LOCKED);
        EXPECT_NE(LastErrorText().find("another process"), std::string::npos);
        ASSERT_EQ(KdsGotoTop(t), 0u);
        Set(t, "A", "2");
        EXPECT_EQ(KdsWriteRecord(t), KCE_RECORD_LOCKED);
        EXPECT_EQ(KdsLockRecord(t, 2), 0u);  // another record is free
        ASSERT_EQ(KdsUnlockRecord(t, 2), 0u);
    }
    // A lock dies with its process, even one that never unlocked.
    ASSERT_EQ(KdsLockRecord(t, 1), 0u);
    EXPECT_EQ(Helper({"lock", dir_, "SHARED", "1"}).Line(), std::to_string(KCE_RECORD_LOCKED));
    ASSERT_EQ(KdsWriteRecord(t), 0u);
}

// Processes opening one DBF table shared at the same time all get it: an open never holds the
// table alone (that is only for finishing an interrupted pack), so none is turned away as if
// another had it exclusively. Two processes open and close it in a loop while this one does too.
TEST_F(ProcessTest, ProcessesOpeningADbfTableAtOnceAreNeverTurnedAway) {
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("STAFF"), KCE_CDX, KCE_ANSI, U("NAME,char,10"), 0, &t), 0u)
        << LastErrorText();
    KdsCloseTable(t);
    const std::string type = std::to_string(KCE_CDX);
    Helper first({"reopen", dir_, "STAFF", type, "400"});
    Helper second({"reopen", dir_, "STAFF", type, "400"});
    KCESTATUS here = 0;
    for (int i = 0; i < 400 && here == 0; ++i) {
        here = KdsOpenTable(conn_, U("STAFF"), nullptr, KCE_CDX, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                            KCE_CHECK_RIGHTS, 0, &t);
        if (here == 0) here = KdsCloseTable(t);
    }
    EXPECT_EQ(here, 0u) << LastErrorText();
    EXPECT_EQ(first.Line(), "0");
    EXPECT_EQ(second.Line(), "0");
}

TEST_F(ProcessTest, AProcessKilledWhileAppendingLosesNothingItWrote) {
    std::set<int> written;
    {
        Helper appender({"append", dir_, "SHARED"});
        for (int i = 0; i < 300; ++i) {
            std::string line = appender.Line();
            ASSERT_FALSE(line.empty()) << "the appender stopped early";
            written.insert(std::stoi(line));
        }
        appender.Kill();
        // What it printed before it died, still in the pipe.
        for (std::string line = appender.Line(); !line.empty(); line = appender.Line()) {
            written.insert(std::stoi(line));
        }
    }
    KDSHANDLE t = Open("SHARED", KCE_OPEN_EXCLUSIVE);
    ASSERT_NE(t, 0u);
    std::multiset<int> found;
    ASSERT_EQ(KdsGotoTop(t), 0u);
    while (!Eof(t)) {
        found.insert(std::stoi(Field(t, "A")));
        ASSERT_EQ(KdsSkip(t, 1), 0u);
    }
    // Record 1 of the fixture, then every value the appender reported (and perhaps the one it
    // was writing when killed).
    for (int value : written) EXPECT_EQ(found.count(value), value == 1 ? 2u : 1u) << value;
    EXPECT_GE(found.size(), written.size() + 1);
    EXPECT_LE(found.size(), written.size() + 2);
}

// Another process changes a record just before this one reads it by number, locks it or
// refreshes it: each of the three answers the stored row, on every table kind. This process has
// just begun a walk of the table (a walk may keep the rows it reads), so a stale answer shows.
// Posting after the lock keeps the other process's change: no update is lost.
class SeeOtherWritesTest : public EngineTest, public ::testing::WithParamInterface<UNSIGNED16> {};

TEST_P(SeeOtherWritesTest, ReadLockAndRefreshAnswerWhatIsStored) {
    const UNSIGNED16 type = GetParam();
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("PEOPLE"), type, KCE_ANSI, U("AGE,numeric,3,0;NAME,char,10"),
                             0, &t),
              0u)
        << LastErrorText();
    for (const char* age : {"41", "50", "60"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "AGE", age);
        Set(t, "NAME", "ANN");
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    KdsCloseTable(t);
    ASSERT_EQ(KdsOpenTable(conn_, U("PEOPLE"), nullptr, type, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &t),
              0u)
        << LastErrorText();
    auto changeElsewhere = [&](const std::string& age) {
        Helper writer({"set", dir_, "PEOPLE", std::to_string(type), "1", "AGE", age});
        ASSERT_EQ(writer.Line(), "0") << "the other process could not write";
    };
    struct Step {
        const char* what;
        std::function<KCESTATUS()> call;
    };
    const Step steps[] = {
        {"read by number", [&] { return KdsGotoRecord(t, 1); }},
        {"lock", [&] { return KdsLockRecord(t, 1); }},
        {"refresh", [&] { return KdsRefreshRecord(t); }},
    };
    int age = 70;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        // A walk from the top: the cursor stands on record 1 as the walk read it.
        ASSERT_EQ(KdsGotoTop(t), 0u);
        const std::string before = Field(t, "AGE");
        changeElsewhere(std::to_string(++age));
        ASSERT_EQ(step.call(), 0u) << LastErrorText();
        EXPECT_EQ(Field(t, "AGE"), std::to_string(age)) << "was " << before;
        if (std::string(step.what) == "lock") {
            ASSERT_EQ(KdsUnlockRecord(t, 1), 0u);
        }
    }
    // The lost update: lock, change another field, write; the other process's AGE stays.
    ASSERT_EQ(KdsGotoTop(t), 0u);
    changeElsewhere("77");
    ASSERT_EQ(KdsLockRecord(t, 1), 0u) << LastErrorText();
    Set(t, "NAME", "BOB");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsUnlockRecord(t, 1), 0u);
    KdsCloseTable(t);
    ASSERT_EQ(KdsOpenTable(conn_, U("PEOPLE"), nullptr, type, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &t),
              0u);
    ASSERT_EQ(KdsGotoRecord(t, 1), 0u);
    EXPECT_EQ(Field(t, "AGE"), "77");
    EXPECT_EQ(Field(t, "NAME"), "BOB");
    KdsCloseTable(t);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, SeeOtherWritesTest,
                         ::testing::Values(UNSIGNED16(KCE_KDT), UNSIGNED16(KCE_CDX),
                                           UNSIGNED16(KCE_NTX)),
                         [](const ::testing::TestParamInfo<UNSIGNED16>& info) {
                             return std::string(info.param == KCE_KDT   ? "Native"
                                                : info.param == KCE_CDX ? "Cdx"
                                                                        : "Ntx");
                         });

// Another process appends a record and changes a key while this one has the table and its index
// open and has walked them (and may keep the keys, pages and counts it read): the next seek,
// count and walk of the index here answer what is stored, on every table kind, the encrypted
// native table (whose keys each process keeps in memory) included.
struct IndexKind {
    const char* name;
    UNSIGNED16 type;
    const char* indexFile;  // opened by name; nullptr: a structural index
    const char* password;   // the table is encrypted with it; nullptr: plain
};

class OtherProcessIndexTest : public EngineTest, public ::testing::WithParamInterface<IndexKind> {};

TEST_P(OtherProcessIndexTest, SeekCountAndWalkSeeTheOtherProcessesKeys) {
    const IndexKind kind = GetParam();
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U("PEOPLE"), kind.type, KCE_ANSI, U("NAME,char,10"), 0, &t), 0u)
        << LastErrorText();
    for (const char* name : {"BOB", "ANN"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, kind.indexFile ? U(kind.indexFile) : nullptr, U("BYNAME"),
                             U("NAME"), nullptr, 0, &index),
              0u)
        << LastErrorText();
    if (kind.password) {
        ASSERT_EQ(KdsEncryptTable(t, U(kind.password)), 0u) << LastErrorText();
    }
    KdsCloseTable(t);

    ASSERT_EQ(KdsOpenTable(conn_, U("PEOPLE"), nullptr, kind.type, KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &t),
              0u)
        << LastErrorText();
    if (kind.password) {
        ASSERT_EQ(KdsEnableEncryption(t, U(kind.password)), 0u);
    }
    if (kind.indexFile) {
        KDSHANDLE handles[50];
        UNSIGNED16 count = 50;
        ASSERT_EQ(KdsOpenIndex(t, U(kind.indexFile), handles, &count), 0u) << LastErrorText();
    }
    ASSERT_EQ(KdsGetIndexHandle(t, U("BYNAME"), &index), 0u) << LastErrorText();
    auto walk = [&] {
        std::vector<std::string> names;
        EXPECT_EQ(KdsGotoTop(index), 0u) << LastErrorText();
        while (!Eof(index)) {
            names.push_back(Field(t, "NAME"));
            if (KdsSkip(index, 1) != 0) break;
        }
        return names;
    };
    ASSERT_EQ(walk(), (std::vector<std::string>{"ANN", "BOB"}));
    UNSIGNED32 count = 0;
    ASSERT_EQ(KdsGetRecordCount(index, KCE_RESPECT_SCOPES, &count), 0u);
    ASSERT_EQ(count, 2u);

    const std::string type = std::to_string(kind.type);
    std::vector<std::string> extra;
    if (kind.indexFile || kind.password) extra.push_back(kind.indexFile ? kind.indexFile : "-");
    if (kind.password) extra.push_back(kind.password);
    auto elsewhere = [&](const char* recno, const char* value) {
        std::vector<std::string> args = {"set", dir_, "PEOPLE", type, recno, "NAME", value};
        args.insert(args.end(), extra.begin(), extra.end());
        Helper writer(args);
        EXPECT_EQ(writer.Line(), "0") << "the other process could not write";
    };
    elsewhere("0", "CAT");  // appended
    elsewhere("2", "ZED");  // ANN's key changed, in place

    UNSIGNED16 found = 0;
    for (const char* name : {"CAT", "ZED"}) {
        ASSERT_EQ(KdsSeek(index, U(name), 3, KCE_STRINGKEY, KCE_HARDSEEK, &found), 0u);
        EXPECT_EQ(found, 1) << name;
    }
    ASSERT_EQ(KdsSeek(index, U("ANN"), 3, KCE_STRINGKEY, KCE_HARDSEEK, &found), 0u);
    EXPECT_EQ(found, 0);
    ASSERT_EQ(KdsGetRecordCount(index, KCE_RESPECT_SCOPES, &count), 0u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(walk(), (std::vector<std::string>{"BOB", "CAT", "ZED"}));
    EXPECT_EQ(KdsCheckIndexes(t), 0u) << LastErrorText();
    KdsCloseTable(t);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, OtherProcessIndexTest,
    ::testing::Values(IndexKind{"Native", KCE_KDT, nullptr, nullptr},
                      IndexKind{"EncryptedNative", KCE_KDT, nullptr, "KRALD4729"},
                      IndexKind{"NativeIndexFile", KCE_KDT, "EXTRA", nullptr},
                      IndexKind{"Cdx", KCE_CDX, nullptr, nullptr},
                      IndexKind{"Ntx", KCE_NTX, "BYNAME.ntx", nullptr}),
    [](const ::testing::TestParamInfo<IndexKind>& info) { return std::string(info.param.name); });

TEST_F(ProcessTest, AnSqlStatementCommittedSurvivesAKilledProcessAndOneUncommittedDoesNot) {
    for (const char* kind : {"SHARED", "LEDGER.dbf"}) {
        SCOPED_TRACE(kind);
        if (std::string(kind) == "LEDGER.dbf") {
            KDSHANDLE t = 0;
            ASSERT_EQ(KdsCreateTable(conn_, U(kind), KCE_CDX, KCE_ANSI, U("A,integer;PAD,char,30"),
                                     0, &t),
                      0u);
            ASSERT_EQ(KdsAppendRecord(t), 0u);
            Set(t, "A", "1");
            ASSERT_EQ(KdsWriteRecord(t), 0u);
            // A structural .cdx tag, which the statement's change must leave right too.
            KDSHANDLE index = 0;
            ASSERT_EQ(KdsCreateIndex(t, U(""), U("PAD"), U("PAD"), nullptr, 0, &index), 0u)
                << LastErrorText();
            KdsCloseTable(t);
        }
        const std::string table = kind;
        {
            Helper committed({"sql", dir_, "1", "UPDATE \"" + table + "\" SET PAD = 'kept'"});
            ASSERT_EQ(committed.Line(), "0");
            committed.Kill();
        }
        {
            Helper pending({"sql", dir_, "0", "UPDATE \"" + table + "\" SET PAD = 'lost'"});
            ASSERT_EQ(pending.Line(), "0");
            pending.Kill();
        }
        KDSHANDLE t = 0;
        ASSERT_EQ(KdsOpenTable(conn_, U(kind), nullptr, 0, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                               KCE_CHECK_RIGHTS, KCE_OPEN_EXCLUSIVE, &t),
                  0u)
            << LastErrorText();
        ASSERT_EQ(KdsGotoTop(t), 0u);
        EXPECT_EQ(Field(t, "PAD"), "kept");
        EXPECT_EQ(KdsCheckIndexes(t), 0u) << LastErrorText();
        KdsCloseTable(t);
    }
}

}  // namespace
