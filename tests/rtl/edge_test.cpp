#include "rtl/edge.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "rtl/paths.h"
#include "rtl/streams.h"
#include "tests/support/scoped.h"

namespace {

namespace fs = std::filesystem;

TEST(OperatorText, EveryByteHasOneUtf8FormAndComesBack) {
    for (int b = 0; b < 256; ++b) {
        std::string ansi(1, char(b));
        std::string utf8 = rtl::ToOperatorText(ansi);
        ASSERT_TRUE(rtl::IsUtf8(utf8)) << b;
        EXPECT_EQ(rtl::FromOperatorText(utf8), ansi) << b;
    }
    // The five bytes Windows-1252 leaves undefined are the C1 controls of the same number.
    for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(rtl::ToOperatorText(std::string(1, char(b))), std::string("\xC2") + char(b));
    EXPECT_EQ(rtl::ToOperatorText("Zo\xEB-1 \x80"), "Zoë-1 €");
}

TEST(OperatorText, WhatThePageCannotHoldIsRefusedNamingIt) {
    size_t bad = 0;
    EXPECT_EQ(rtl::FromOperatorText("folder-Ω", &bad), std::nullopt);
    EXPECT_EQ(bad, 7u);
    EXPECT_EQ(rtl::RefusalText("the source folder", "folder-Ω"),
              "the source folder 'folder-Ω' holds 'Ω', which the ANSI code page (Windows-1252) "
              "cannot hold");
    EXPECT_EQ(rtl::FromOperatorText("caf\xE9"), std::nullopt);
    EXPECT_EQ(rtl::RefusalText("the file name", "caf\xE9"),
              "the file name 'caf\\xE9' is not UTF-8 text");
}

// Names inside the process are ANSI; on disk they are UTF-8.
TEST(OperatorText, PathsAreUtf8OnDiskAndAnsiInside) {
    testsupport::ScopedTempDir dir("edge");
    fs::create_directories(dir / "Données");
    fs::create_directories(dir / "folder-Ω");
    const std::string root = dir.Path().string();
    // Found as typed, and without regard to ASCII letter case.
    EXPECT_EQ(rtl::ResolvePath(root + "/Donn\xE9"
                                      "es"),
              root +
                  "/Donn\xE9"
                  "es");
    EXPECT_EQ(rtl::ResolvePath(root + "/DONN\xE9"
                                      "ES"),
              root +
                  "/Donn\xE9"
                  "es");
    EXPECT_TRUE(rtl::DirectoryExists(root + "\\Donn\xE9"
                                            "es"));
    {
        rtl::TFileStream file(root +
                                  "/Donn\xE9"
                                  "es/R\xE9"
                                  "sum\xE9.txt",
                              rtl::fmCreate);
        file.Write("x", 1);
    }
    EXPECT_TRUE(fs::exists(dir / "Données" / "Résumé.txt"));
    EXPECT_TRUE(rtl::FileExists(root + "/donn\xE9"
                                       "es/r\xE9sum\xE9.TXT"));
    // A name on disk that the page cannot hold is never matched by a name of the process.
    EXPECT_FALSE(rtl::DirectoryExists(root + "/folder-?"));
}

}  // namespace
