// Small helpers for engine tests: a fresh folder per test and short forms of the C calls.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/kce.h"

namespace kcetest {

inline const UNSIGNED8* U(const char* s) { return reinterpret_cast<const UNSIGNED8*>(s); }
inline const UNSIGNED8* U(const std::string& s) { return U(s.c_str()); }

inline std::string LastErrorText() {
    UNSIGNED32 code = 0;
    UNSIGNED8 buf[KCE_MAX_ERROR_LEN + 1];
    UNSIGNED16 len = sizeof buf;
    KdsGetLastError(&code, buf, &len);
    return std::string(reinterpret_cast<char*>(buf), len);
}

// A test folder with a connection to it.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kcetest-XXXXXX";
        dir_ = ::mkdtemp(templ);
        ASSERT_EQ(KdsConnect(U(dir_), &conn_), 0u) << LastErrorText();
    }
    void TearDown() override {
        KdsDisconnect(conn_);
        std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Creates a table and leaves it open (exclusively); answers the handle.
    KDSHANDLE Create(const std::string& name, const std::string& fields) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsCreateTable(conn_, U(name), KCE_KDT, KCE_ANSI, U(fields), 0, &t), 0u)
            << LastErrorText();
        return t;
    }
    KDSHANDLE Open(const std::string& name, UNSIGNED32 options = 0) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U(name), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                               KCE_CHECK_RIGHTS, options, &t),
                  0u)
            << LastErrorText();
        return t;
    }

    static std::vector<uint8_t> Record(KDSHANDLE t) {
        UNSIGNED32 len = 0;
        KdsGetRecordLength(t, &len);
        std::vector<uint8_t> buf(len);
        EXPECT_EQ(KdsGetRecord(t, buf.data(), &len), 0u) << LastErrorText();
        return buf;
    }
    static std::string Field(KDSHANDLE t, const char* name) {
        std::vector<UNSIGNED8> buf(300000);
        UNSIGNED32 len = UNSIGNED32(buf.size());
        EXPECT_EQ(KdsGetField(t, U(name), buf.data(), &len, 0), 0u) << LastErrorText();
        return std::string(reinterpret_cast<char*>(buf.data()), len);
    }
    static void Set(KDSHANDLE t, const char* name, const std::string& value) {
        ASSERT_EQ(KdsSetField(t, U(name), U(value), UNSIGNED32(value.size())), 0u)
            << name << ": " << LastErrorText();
    }
    static UNSIGNED32 Recno(KDSHANDLE t) {
        UNSIGNED32 r = 0;
        KdsGetRecordNum(t, KCE_IGNORE_FILTERS, &r);
        return r;
    }
    static UNSIGNED32 Count(KDSHANDLE t) {
        UNSIGNED32 n = 0;
        EXPECT_EQ(KdsGetRecordCount(t, KCE_IGNORE_FILTERS, &n), 0u) << LastErrorText();
        return n;
    }
    static bool Eof(KDSHANDLE t) {
        UNSIGNED16 f = 0;
        KdsAtEOF(t, &f);
        return f != 0;
    }
    static bool Bof(KDSHANDLE t) {
        UNSIGNED16 f = 0;
        KdsAtBOF(t, &f);
        return f != 0;
    }

    std::string dir_;
    KDSHANDLE conn_ = 0;
};

}  // namespace kcetest
