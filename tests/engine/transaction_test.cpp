// Transactions of a connection on every storage kind: a rollback gives back the records, the
// values, the record numbers and the autoincrement values; a commit keeps them.
#include <filesystem>
#include <string>

#include "tests/engine/engine_test_util.h"

namespace {

using namespace kcetest;

struct Kind {
    const char* name;
    UNSIGNED16 type;
    const char* fields;
};

class TransactionTest : public EngineTest, public ::testing::WithParamInterface<Kind> {
  protected:
    KDSHANDLE OpenKind(const char* name) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U(name), nullptr, GetParam().type, 1, 1, 1, 0, &t), 0u)
            << LastErrorText();
        return t;
    }
    void Append(KDSHANDLE t, const char* name, const char* note) {
        ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
        Set(t, "NAME", name);
        if (note) Set(t, "NOTE", note);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    // Every record as "recno:NAME:NOTE", deleted ones marked with '*'.
    std::string Records(KDSHANDLE t) {
        std::string out;
        KdsShowDeleted(1);
        for (KdsGotoTop(t); !Eof(t); KdsSkip(t, 1)) {
            UNSIGNED16 deleted = 0;
            KdsIsRecordDeleted(t, &deleted);
            out += std::to_string(Recno(t)) + ":" + Field(t, "NAME") + ":" + Field(t, "NOTE") +
                   (deleted ? "*" : "") + " ";
        }
        return out;
    }
    std::string Files() {
        std::string names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            std::string name = entry.path().filename();
            if (name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos)
                names += name + "=" + std::to_string(entry.file_size()) + " ";
        }
        return names;
    }
};

TEST_P(TransactionTest, RollbackGivesEverythingBackAndCommitKeepsIt) {
    const Kind& kind = GetParam();
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsCreateTable(conn_, U(kind.name), kind.type, 1, U(kind.fields), 0, &t), 0u)
        << LastErrorText();
    Append(t, "one", "first note");
    Append(t, "two", nullptr);
    const std::string before = Records(t);
    UNSIGNED32 autoinc = 2;  // the two records' values
    KdsCloseTable(t);
    const std::string files = Files();

    t = OpenKind(kind.name);
    ASSERT_EQ(KdsBeginTransaction(conn_), 0u) << LastErrorText();
    UNSIGNED16 active = 0;
    ASSERT_EQ(KdsInTransaction(conn_, &active), 0u);
    EXPECT_EQ(active, 1);
    for (int i = 0; i < 50; ++i) Append(t, "new", i % 10 ? nullptr : std::string(700, 'm').c_str());
    ASSERT_EQ(KdsGotoRecord(t, 1), 0u);
    Set(t, "NAME", "changed");
    Set(t, "NOTE", std::string(2000, 'n'));
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
    // A handle closed in the transaction and one opened in it are both part of it.
    KdsCloseTable(t);
    t = OpenKind(kind.name);
    Append(t, "late", "opened in the transaction");
    EXPECT_NE(Records(t), before);
    ASSERT_EQ(KdsRollbackTransaction(conn_), 0u) << LastErrorText();

    EXPECT_EQ(Records(t), before);
    EXPECT_EQ(Files(), files);  // table, memo and index files at their old sizes, no journal
    if (kind.type == 3) {       // (a DBF table answers the value this process gave last)
        UNSIGNED32 after = 0;
        ASSERT_EQ(KdsGetLastAutoinc(t, &after), 0u);
        EXPECT_EQ(after, autoinc);
    }
    // The numbers the rolled-back records took are given out again.
    Append(t, "three", nullptr);
    EXPECT_EQ(Recno(t), 3u);
    if (std::string(kind.fields).find("autoinc") != std::string::npos) {
        EXPECT_EQ(Field(t, "ID"), std::to_string(autoinc + 1));
    }

    ASSERT_EQ(KdsBeginTransaction(conn_), 0u) << LastErrorText();
    Append(t, "four", "kept");
    ASSERT_EQ(KdsCommitTransaction(conn_), 0u) << LastErrorText();
    KdsCloseTable(t);
    t = OpenKind(kind.name);
    EXPECT_EQ(Records(t), before + "3:three: 4:four:kept ");
    KdsCloseTable(t);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, TransactionTest,
                         ::testing::Values(Kind{"T.kdt", 3, "ID,autoinc;NAME,char,10;NOTE,memo"},
                                           Kind{"T.dbf", 2, "ID,autoinc;NAME,char,10;NOTE,memo"},
                                           Kind{"T.dbf", 1, "NAME,char,10;NOTE,memo"}),
                         [](const auto& info) {
                             return std::string(info.param.type == 3   ? "kdt"
                                                : info.param.type == 2 ? "cdx"
                                                                       : "ntx");
                         });

TEST_F(EngineTest, TransactionCallsAnswerTheirStatuses) {
    EXPECT_EQ(KdsCommitTransaction(conn_), KCE_NO_TRANSACTION);
    EXPECT_EQ(KdsRollbackTransaction(conn_), KCE_NO_TRANSACTION);
    EXPECT_EQ(KdsBeginTransaction(conn_ + 1000), KCE_NOT_CONNECTED);
    ASSERT_EQ(KdsBeginTransaction(conn_), 0u);
    EXPECT_EQ(KdsBeginTransaction(conn_), KCE_TRANSACTION_ACTIVE);
    // Disconnecting rolls back.
    KDSHANDLE t = Create("D", "A,char,3");
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "A", "x");
    ASSERT_EQ(KdsWriteRecord(t), 0u);
    ASSERT_EQ(KdsDisconnect(conn_), 0u);
    ASSERT_EQ(KdsConnect(U(dir_), &conn_), 0u);
    EXPECT_EQ(Count(Open("D")), 0u);
}

}  // namespace
