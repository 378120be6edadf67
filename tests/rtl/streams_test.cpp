#include "rtl/streams.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "rtl/exceptions.h"
#include "rtl/stringlist.h"

namespace rtl {
namespace {

namespace fs = std::filesystem;

class FileStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/rtl_streams_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string root_;
};

TEST(MemoryStream, ReadWriteSeekAndSize) {
    TMemoryStream s;
    s.WriteBuffer("hello", 5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(s.Seek(-2, soEnd), 3);
    s.WriteBuffer("p!!", 3);
    EXPECT_EQ(s.Data(), "help!!");
    s.SetPosition(8);  // past the end: the next write fills the gap with zeros
    s.WriteBuffer("x", 1);
    EXPECT_EQ(s.Data(), std::string("help!!\0\0x", 9));
    s.SetPosition(0);
    char buf[16];
    EXPECT_EQ(s.Read(buf, sizeof buf), 9);
    EXPECT_EQ(s.Read(buf, 1), 0);
    s.SetPosition(7);
    try {
        s.ReadBuffer(buf, 3);
        ADD_FAILURE();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
    EXPECT_EQ(s.Data(), "he");
    EXPECT_EQ(s.Seek(-10, soCurrent), 0);
}

TEST(MemoryStream, CopyFromTakesAWholeStreamOrAPart) {
    TStringStream source(std::string("ab\0cd", 5));
    TMemoryStream target;
    EXPECT_EQ(target.CopyFrom(source, 0), 5);
    EXPECT_EQ(target.Data(), std::string("ab\0cd", 5));
    source.SetPosition(1);
    TMemoryStream part;
    part.CopyFrom(source, 2);
    EXPECT_EQ(part.Data(), std::string("b\0", 2));
    EXPECT_THROW(part.CopyFrom(source, 10), EReadError);
}

TEST_F(FileStreamTest, CreatesWritesAndReadsBackBytes) {
    const std::string name = root_ + "/Photo.JPG";
    const std::string bytes("\xFF\xD8\0\x01 jpeg", 8);
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(f.Size(), 8);
    }
    TMemoryStream m;
    m.LoadFromFile(root_ + "/photo.jpg");  // found without regard to case
    EXPECT_EQ(m.Data(), bytes);
    {
        TFileStream f(name, fmOpenReadWrite);
        f.Seek(0, soEnd);
        f.WriteBuffer("!", 1);
        f.SetSize(4);
        EXPECT_EQ(f.Position(), 4);
    }
    m.LoadFromFile(name);
    EXPECT_EQ(m.Data(), bytes.substr(0, 4));
    // Creating again empties the file.
    m.Clear();
    m.SaveToFile(name);
    EXPECT_EQ(fs::file_size(name), 0u);
    // Saving again writes over the old content and cuts what is left of it.
    for (const std::string content : {"0123456789", "ab", "abcdefghijkl"}) {
        TMemoryStream s;
        s.WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
        s.SaveToFile(name);
        m.LoadFromFile(name);
        EXPECT_EQ(m.Data(), content);
    }

    TStringList lines;
    lines.SetText("a\nb");
    lines.SaveToFile(root_ + "/lines.txt");
    TStringList back;
    back.LoadFromFile(root_ + "/LINES.TXT");
    EXPECT_EQ(back.Text(), "a\r\nb\r\n");
}

TEST_F(FileStreamTest, ErrorsNameTheFile) {
    const std::string missing = root_ + "/missing.dat";
    try {
        TFileStream f(missing, fmOpenRead);
        ADD_FAILURE();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
    }
    try {
        TFileStream f(root_, fmOpenRead);
        ADD_FAILURE();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + root_ + "\". Is a directory");
    }
    const std::string inMissingFolder = root_ + "/no/such/file.dat";
    try {
        TFileStream f(inMissingFolder, fmCreate);
        ADD_FAILURE();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot create file \"" + inMissingFolder + "\". No such file or directory");
    }
}

TEST_F(FileStreamTest, ExclusiveOpenKeepsOthersOutAcrossProcesses) {
    const std::string name = root_ + "/table.dat";
    { TFileStream create(name, fmCreate); }
    {
        TFileStream holder(name, fmOpenReadWrite | fmShareExclusive);
        holder.WriteBuffer("kept", 4);
        try {
            TFileStream second(name, fmOpenRead | fmShareDenyNone);
            ADD_FAILURE();
        } catch (const EFOpenError& e) {
            EXPECT_NE(e.Message().find("being used by another process"), std::string::npos);
        }
        // Another process is kept out too, and its create does not empty the file.
        const pid_t child = ::fork();
        if (child == 0) {
            try {
                TFileStream other(name, fmCreate);
                std::_Exit(1);
            } catch (const EFCreateError&) {
                std::_Exit(0);
            }
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(holder.Size(), 4);
    }
    // Shared opens admit each other.
    TFileStream a(name, fmOpenRead | fmShareDenyWrite);
    TFileStream b(name, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(b.Size(), 4);
}

}  // namespace
}  // namespace rtl
