#include <fstream>

#include "engine_test_util.h"

using namespace kcetest;

namespace {

class ConnectionTest : public EngineTest {};

TEST_F(ConnectionTest, ConnectsToFoldersOnly) {
    KDSHANDLE c = 0;
    UNSIGNED8 name[256];
    UNSIGNED16 len = sizeof name;
    ASSERT_EQ(KdsGetServerName(conn_, name, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name), len), dir_);
    UNSIGNED16 type = 0;
    ASSERT_EQ(KdsGetConnectionType(conn_, &type), 0u);
    EXPECT_EQ(type, 1);
    // The local server type is required; an empty mask means it.
    EXPECT_EQ(KdsConnect60(U(dir_), KCE_REMOTE_SERVER, nullptr, nullptr, 0, &c),
              KCE_INVALID_SERVER_TYPE);
    EXPECT_EQ(KdsConnect60(U(dir_), KCE_INTERNET_SERVER, nullptr, nullptr, 0, &c),
              KCE_INVALID_SERVER_TYPE);
    ASSERT_EQ(KdsConnect60(U(dir_), 0, U("user"), U("pw"), 0, &c), 0u);
    EXPECT_EQ(KdsDisconnect(c), 0u);
    ASSERT_EQ(KdsConnect60(U(dir_), KCE_LOCAL_SERVER | KCE_REMOTE_SERVER, nullptr, nullptr, 0, &c),
              0u);
    EXPECT_EQ(KdsDisconnect(c), 0u);
    struct Case {
        std::string path;
        KCESTATUS status;
    } cases[] = {
        {dir_ + "/data.kdd", KCE_FILE_NOT_FOUND},
        {dir_ + "/missing", KCE_FILE_NOT_FOUND},
        {"", KCE_INVALID_PATH},
    };
    std::ofstream(dir_ + "/plain.txt") << "x";
    for (const Case& k : cases) {
        EXPECT_EQ(KdsConnect(U(k.path), &c), k.status) << k.path;
        EXPECT_EQ(c, 0u);
    }
    EXPECT_EQ(KdsConnect(U(dir_ + "/plain.txt"), &c), KCE_INVALID_PATH);
    EXPECT_NE(LastErrorText().find("is not a folder"), std::string::npos);
}

TEST_F(ConnectionTest, FindsTablesByMaskIgnoringCase) {
    KdsCloseTable(Create("beta", "A,integer"));
    KdsCloseTable(Create("ALPHA", "A,integer"));
    std::ofstream(dir_ + "/notes.txt") << "x";
    UNSIGNED8 name[260];
    UNSIGNED16 len = sizeof name;
    KDSHANDLE search = 0;
    std::vector<std::string> found;
    std::string pattern = dir_ + "\\*.KDT";
    ASSERT_EQ(KdsFindFirstTable(conn_, U(pattern), name, &len, &search), 0u);
    found.emplace_back(reinterpret_cast<char*>(name), len);
    UNSIGNED16 type = 0;
    ASSERT_EQ(KdsGetHandleType(search, &type), 0u);
    EXPECT_EQ(type, KCE_HANDLE_TABLE_SEARCH);
    for (;;) {
        len = sizeof name;
        KCESTATUS s = KdsFindNextTable(search, name, &len);
        if (s == KCE_NO_MORE_TABLES) break;
        ASSERT_EQ(s, 0u);
        found.emplace_back(reinterpret_cast<char*>(name), len);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"ALPHA.kdt", "beta.kdt"}));
    EXPECT_EQ(KdsFindClose(search), 0u);
    EXPECT_EQ(KdsFindClose(search), KCE_INVALID_HANDLE);
    len = sizeof name;
    EXPECT_EQ(KdsFindFirstTable(conn_, U("*.dbf"), name, &len, &search), KCE_NO_MORE_TABLES);
    EXPECT_EQ(search, 0u);
}

}  // namespace
