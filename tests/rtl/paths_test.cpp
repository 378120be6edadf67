#include "rtl/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace rtl {
namespace {

namespace fs = std::filesystem;

// A fresh folder, with the environment variables the module reads saved and put back.
class PathsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/rtl_paths_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        for (const char* name : kVars) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
        }
        cwd_ = fs::current_path();
        ::setenv("UPDATEBANK_DRIVE_C", (root_ + "/drive c").c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(cwd_);
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i])
                ::setenv(kVars[i], saved_[i]->c_str(), 1);
            else
                ::unsetenv(kVars[i]);
        }
        fs::remove_all(root_);
    }
    void Touch(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "x";
    }

    static constexpr const char* kVars[] = {"UPDATEBANK_DRIVE_C", "UPDATEBANK_DRIVE_D",
                                            "XDG_DATA_HOME", "HOME"};
    std::string root_;
    fs::path cwd_;
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(PathsTest, DriveCMapsToItsFolderWhichIsCreatedWithTemp) {
    const std::string drive = root_ + "/drive c";
    EXPECT_EQ(ResolvePath("C:\\TEMP\\photo.JPG"), drive + "/TEMP/photo.JPG");
    EXPECT_TRUE(fs::is_directory(drive + "/TEMP"));
    // Existing names are found in any case; the new file keeps the case it was given.
    EXPECT_EQ(ResolvePath("c:/temp/Photo.jpg"), drive + "/TEMP/Photo.jpg");
    EXPECT_EQ(ResolvePath("C:"), drive);
    EXPECT_EQ(ResolvePath("C:\\"), drive);
    EXPECT_EQ(ResolvePath("C:data"), drive + "/data");
}

TEST_F(PathsTest, NamesAreMatchedWithoutRegardToCaseComponentByComponent) {
    const std::string drive = root_ + "/drive c";
    Touch(drive + "/Data/Keel/employee.kdt");
    Touch(drive + "/Data/Keel/EMPLOYEE.CDX");
    Touch(drive + "/Data/Keel/Employee.cdx");
    const std::pair<const char*, std::string> cases[] = {
        {"C:\\DATA\\keel\\EMPLOYEE.KDT", drive + "/Data/Keel/employee.kdt"},
        {"C:\\data\\KEEL\\Employee.cdx", drive + "/Data/Keel/Employee.cdx"},  // exact wins
        {"C:\\data\\KEEL\\employee.cdx", drive + "/Data/Keel/EMPLOYEE.CDX"},  // first in order
        {"C:\\DATA\\New\\Sub\\File.TXT", drive + "/Data/New/Sub/File.TXT"},
        {"C:\\DATA\\.\\keel\\..\\KEEL\\\\employee.KDT", drive + "/Data/Keel/employee.kdt"},
        {"C:\\..\\..\\Data", drive + "/Data"},  // nothing above the drive's root
    };
    for (auto [input, expected] : cases) EXPECT_EQ(ResolvePath(input), expected) << input;
    EXPECT_TRUE(FileExists("C:\\DATA\\KEEL\\EMPLOYEE.KDT"));
    EXPECT_FALSE(FileExists("C:\\DATA\\KEEL"));
    EXPECT_TRUE(DirectoryExists("c:\\data\\keel"));
    EXPECT_FALSE(FileExists("C:\\DATA\\KEEL\\missing.kdt"));
}

// Listings and resolutions are kept while the folders they rest on are unchanged; a file added
// or removed there, or a name that matched exactly and is gone, is seen by the next resolution.
TEST_F(PathsTest, KeptResolutionsGiveWayWhenTheirFoldersChange) {
    const std::string drive = root_ + "/drive c", old = drive + "/Old";
    Touch(old + "/Photo.jpg");
    // Only a folder unchanged for a while is kept: make both look old.
    for (const std::string& folder : {old, drive})
        fs::last_write_time(folder, fs::last_write_time(folder) - std::chrono::hours(1));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(ResolvePath("C:\\old\\PHOTO.JPG"), old + "/Photo.jpg");
    EXPECT_EQ(ResolvePath("C:\\Old\\Photo.jpg"), old + "/Photo.jpg");
    Touch(old + "/PHOTO.jpg");  // first in byte order now
    EXPECT_EQ(ResolvePath("C:\\old\\PHOTO.JPG"), old + "/PHOTO.jpg");
    fs::remove(old + "/Photo.jpg");
    EXPECT_EQ(ResolvePath("C:\\Old\\Photo.jpg"), old + "/PHOTO.jpg");
    fs::remove(old + "/PHOTO.jpg");
    EXPECT_EQ(ResolvePath("C:\\old\\PHOTO.JPG"), old + "/PHOTO.JPG");
    // A kept resolution outside TEMP still has drive C's TEMP made again when it is gone.
    Touch(old + "/Keep.txt");
    EXPECT_EQ(ResolvePath("C:\\Old\\Keep.txt"), old + "/Keep.txt");
    fs::remove_all(drive + "/TEMP");
    EXPECT_EQ(ResolvePath("C:\\Old\\Keep.txt"), old + "/Keep.txt");
    EXPECT_TRUE(fs::is_directory(drive + "/TEMP"));
}

TEST_F(PathsTest, PosixAndRelativePaths) {
    Touch(root_ + "/Work/Table.kdt");
    EXPECT_EQ(ResolvePath(root_ + "/work/TABLE.KDT"), root_ + "/Work/Table.kdt");
    fs::current_path(root_ + "/Work");
    EXPECT_EQ(ResolvePath("table.KDT"), root_ + "/Work/Table.kdt");
    EXPECT_EQ(ResolvePath("..\\WORK\\x"), root_ + "/Work/x");
    EXPECT_EQ(ResolvePath(""), root_ + "/Work");
}

TEST_F(PathsTest, OtherDrivesAndTheDefaultDriveFolder) {
    ::setenv("UPDATEBANK_DRIVE_D", (root_ + "/dee").c_str(), 1);
    EXPECT_EQ(ResolvePath("d:\\x"), root_ + "/dee/x");
    EXPECT_FALSE(fs::exists(root_ + "/dee"));  // only drive C is created

    ::unsetenv("UPDATEBANK_DRIVE_C");
    ::setenv("XDG_DATA_HOME", (root_ + "/xdg").c_str(), 1);
    EXPECT_EQ(ResolvePath("C:\\TEMP"), root_ + "/xdg/updatebank/drive_c/TEMP");
    EXPECT_TRUE(fs::is_directory(root_ + "/xdg/updatebank/drive_c/TEMP"));

    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", (root_ + "/home").c_str(), 1);
    EXPECT_EQ(DriveFolder('c'), root_ + "/home/.local/share/updatebank/drive_c");
    EXPECT_TRUE(fs::is_directory(root_ + "/home/.local/share/updatebank/drive_c/TEMP"));
}

TEST_F(PathsTest, FileOperationsResolveTheirArguments) {
    EXPECT_TRUE(ForceDirectories("C:\\A\\B\\C"));
    EXPECT_TRUE(DirectoryExists("c:\\a\\b\\c"));
    EXPECT_FALSE(CreateDir("C:\\a"));  // exists
    Touch(root_ + "/drive c/A/f.txt");
    EXPECT_TRUE(RenameFile("C:\\a\\F.TXT", "C:\\a\\G.txt"));
    EXPECT_TRUE(FileExists(root_ + "/drive c/A/G.txt"));
    EXPECT_TRUE(DeleteFile("c:\\A\\g.TXT"));
    EXPECT_FALSE(DeleteFile("c:\\A\\g.TXT"));
}

TEST(ProgramFileName, NamesThisTestProgram) {
    EXPECT_EQ(ExtractFileName(ProgramFileName()), "rtl_tests");
    EXPECT_TRUE(FileExists(ProgramFileName()));
}

TEST(PathText, HelpersTreatBothSeparatorsAndDrives) {
    struct Case {
        const char* path;
        const char* name;
        const char* ext;
        const char* filePath;
        const char* dir;
    };
    const Case cases[] = {
        {"C:\\TEMP\\photo.JPG", "photo.JPG", ".JPG", "C:\\TEMP\\", "C:\\TEMP"},
        {"/tmp/a.b/file", "file", "", "/tmp/a.b/", "/tmp/a.b"},
        {"C:\\photo", "photo", "", "C:\\", "C:\\"},
        {"C:x.dbf", "x.dbf", ".dbf", "C:", "C:"},
        {"/x", "x", "", "/", "/"},
        {"name.tar.gz", "name.tar.gz", ".gz", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ExtractFileName(c.path), c.name);
        EXPECT_EQ(ExtractFileExt(c.path), c.ext);
        EXPECT_EQ(ExtractFilePath(c.path), c.filePath);
        EXPECT_EQ(ExtractFileDir(c.path), c.dir);
    }
    EXPECT_EQ(ChangeFileExt("EMPLOYEE", ".kdt"), "EMPLOYEE.kdt");
    EXPECT_EQ(ChangeFileExt("C:\\d.x\\emp.dbf", ".cdx"), "C:\\d.x\\emp.cdx");
    EXPECT_EQ(ChangeFileExt("emp.dbf", ""), "emp");
    EXPECT_EQ(JoinPath("C:\\TEMP", "photo.JPG"), "C:\\TEMP\\photo.JPG");
    EXPECT_EQ(JoinPath("/tmp/", "a"), "/tmp/a");
    EXPECT_EQ(JoinPath("/tmp", "a"), "/tmp/a");
    EXPECT_EQ(JoinPath("/tmp", "D:\\a"), "D:\\a");
    EXPECT_EQ(JoinPath("", "a"), "a");
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\TEMP"), "C:\\TEMP\\");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp//"), "/tmp");
}

}  // namespace
}  // namespace rtl
