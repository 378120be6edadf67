#include "rtl/inifiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "rtl/exceptions.h"

namespace rtl {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/rtl_ini_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        name_ = root_ + "/KDS.INI";
        std::ofstream(name_) << "; aliases\r\n"
                                "[Databases]\r\n"
                                " Payroll = C:\\DATA\\PAY;c \r\n"
                                "quoted=\"  spaced  \"\r\n"
                                "payroll=second wins not\r\n"
                                "no equals sign\r\n"
                                "\r\n"
                                "[Options]\r\n"
                                "Retries=3\r\n"
                                "Verbose=yes\r\n";
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string Contents() {
        std::ifstream in(name_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string root_;
    std::string name_;
};

TEST_F(IniFileTest, ReadsSectionsKeysAndValues) {
    TIniFile ini(root_ + "/kds.ini");  // the name is found without regard to case
    EXPECT_EQ(ini.ReadString("DATABASES", "payroll", ""), "C:\\DATA\\PAY;c");
    EXPECT_EQ(ini.ReadString("Databases", "quoted", ""), "  spaced  ");
    EXPECT_EQ(ini.ReadString("Databases", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Options", "Retries", 0), 3);
    EXPECT_EQ(ini.ReadInteger("Options", "Verbose", -1), -1);
    EXPECT_TRUE(ini.SectionExists("options"));
    EXPECT_FALSE(ini.ValueExists("Options", "Payroll"));
    TStringList list;
    ini.ReadSection("Databases", list);
    EXPECT_EQ(list.Text(), "Payroll\r\nquoted\r\n");
    ini.ReadSections(list);
    EXPECT_EQ(list.Text(), "Databases\r\nOptions\r\n");
    ini.ReadSectionValues("Options", list);
    EXPECT_EQ(list.Values("retries"), "3");

    TIniFile missing(root_ + "/none.ini");
    EXPECT_EQ(missing.ReadString("Databases", "Payroll", "x"), "x");
}

TEST_F(IniFileTest, WritesKeepTheRestOfTheFile) {
    TIniFile ini(name_);
    ini.WriteString("Databases", "payroll", "D:\\NEW");
    ini.WriteString("Databases", "Archive", "C:\\OLD");
    ini.WriteInteger("New", "Count", 2);
    ini.DeleteKey("Options", "Verbose");
    EXPECT_EQ(Contents(),
              "; aliases\r\n[Databases]\r\nPayroll=D:\\NEW\r\nquoted=\"  spaced  \"\r\n"
              "payroll=second wins not\r\nno equals sign\r\nArchive=C:\\OLD\r\n\r\n"
              "[Options]\r\nRetries=3\r\n[New]\r\nCount=2\r\n");
    TIniFile again(name_);
    EXPECT_EQ(again.ReadString("Databases", "Payroll", ""), "D:\\NEW");
    EXPECT_TRUE(again.ReadBool("New", "Count", false));
    again.EraseSection("Databases");
    EXPECT_FALSE(TIniFile(name_).SectionExists("Databases"));

    TIniFile nowhere(root_ + "/no/such/folder/x.ini");
    EXPECT_THROW(nowhere.WriteString("A", "b", "c"), EFCreateError);
}

}  // namespace
}  // namespace rtl
