// Blob fields: content through the dataset's streams, blankness, files, and assignment.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dataset/dataset.h"
#include "rtl/exceptions.h"
#include "support/dataset_support.h"

namespace dstest {
namespace {

namespace fs = std::filesystem;

class BlobFields : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("dataset_blob_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        ds_->Open();
        ds_->Edit();
    }
    void TearDown() override { fs::remove_all(dir_); }
    db::TBlobField& Blob(const char* name) {
        return static_cast<db::TBlobField&>(ds_->FieldNamed(name));
    }

    fs::path dir_;
    std::unique_ptr<TMemoryDataSet> ds_ = AllTypes();
};

const std::string kBytes("\x89PNG\0\r\n\x1a\0\xff", 10);

TEST_F(BlobFields, ContentWithZeroBytesSurvivesACopyAndAPost) {
    Blob("M").SetStringValue(kBytes);
    Blob("BL").SetStringValue(Blob("M").StringValue());
    EXPECT_EQ(Blob("BL").StringValue(), kBytes);
    ds_->Post();
    EXPECT_EQ(Blob("BL").StringValue(), kBytes);
    EXPECT_FALSE(Blob("BL").IsBlank());
}

TEST_F(BlobFields, BlankUntilWrittenAndBlankAgainWhenEmptied) {
    EXPECT_TRUE(Blob("BL").IsBlank());
    Blob("BL").SetStringValue("x");
    EXPECT_FALSE(Blob("BL").IsBlank());
    EXPECT_TRUE(ds_->Modified());
    Blob("BL").Clear();
    EXPECT_TRUE(Blob("BL").IsBlank());
    EXPECT_EQ(Blob("BL").DisplayText(), "(Blob)");
}

TEST_F(BlobFields, FilesCarryTheExactBytesBothWays) {
    const std::string file = (dir_ / "photo.JPG").string();
    Blob("BL").SetStringValue(kBytes);
    Blob("BL").WriteToFile(file);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kBytes);

    Blob("M").ReadFromFile(file);
    EXPECT_EQ(Blob("M").StringValue(), kBytes);
    // Rewriting a longer file with shorter content truncates it.
    Blob("M").SetStringValue("ab");
    Blob("M").WriteToFile(file);
    EXPECT_EQ(fs::file_size(file), 2u);
}

TEST_F(BlobFields, FileErrorsNameTheFileAndLeaveTheBlobAsItWas) {
    Blob("BL").SetStringValue("kept");
    const std::string missing = (dir_ / "none" / "photo.jpg").string();
    try {
        Blob("BL").ReadFromFile(missing);
        FAIL();
    } catch (const rtl::EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
    }
    EXPECT_EQ(Blob("BL").StringValue(), "kept");
    try {
        Blob("BL").WriteToFile(missing);
        FAIL();
    } catch (const rtl::EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing);
    }
}

TEST_F(BlobFields, AssignmentCopiesBlobsByteForByteAndOtherFieldsByVariant) {
    Blob("M").SetStringValue(kBytes);
    Blob("BL").AssignField(&Blob("M"));
    EXPECT_EQ(Blob("BL").StringValue(), kBytes);
    Blob("BL").AssignField(nullptr);
    EXPECT_TRUE(Blob("BL").IsBlank());

    db::TField& i = ds_->FieldNamed("I");
    db::TField& f = ds_->FieldNamed("F");
    db::TField& s = ds_->FieldNamed("S20");
    f.SetFloatValue(41.5);
    i.AssignField(&f);
    EXPECT_EQ(i.IntegerValue(), 42);
    s.AssignField(&i);
    EXPECT_EQ(s.StringValue(), "42");
    f.Clear();
    i.AssignField(&f);
    EXPECT_TRUE(i.IsBlank());
    db::TField& b = ds_->FieldNamed("B");
    b.SetBooleanValue(true);
    s.AssignField(&b);
    EXPECT_EQ(s.StringValue(), "True");
    db::TField& d = ds_->FieldNamed("D");
    s.SetStringValue("not a date");
    EXPECT_THROW(d.AssignField(&s), db::EDatabaseError);
}

TEST_F(BlobFields, VariantValuesByClass) {
    EXPECT_TRUE(ds_->FieldNamed("I").VariantValue().IsNull());
    ds_->FieldNamed("I").SetVariantValue(rtl::Variant("12"));
    EXPECT_EQ(ds_->FieldNamed("I").VariantValue(), rtl::Variant(12));
    ds_->FieldNamed("I").SetVariantValue(rtl::Variant::Null());
    EXPECT_TRUE(ds_->FieldNamed("I").IsBlank());
    ds_->FieldNamed("BY").SetVariantValue(rtl::Variant(std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(ds_->FieldNamed("BY").VariantValue(), rtl::Variant(std::vector<uint8_t>{1, 2, 0, 0}));
    ds_->FieldNamed("D").SetVariantValue(rtl::Variant::FromDateTime(36965));
    EXPECT_EQ(ds_->FieldNamed("D").VariantValue(), rtl::Variant::FromDateTime(36965));
    EXPECT_THROW(ds_->FieldNamed("B").SetVariantValue(rtl::Variant("maybe")), db::EDatabaseError);
    // A value beyond 32 bits does not convert; one within them meets the class range.
    EXPECT_THROW(ds_->FieldNamed("I").SetVariantValue(rtl::Variant(int64_t{1} << 40)),
                 db::EDatabaseError);
    try {
        ds_->FieldNamed("SI").SetVariantValue(rtl::Variant(2.5e4 * 2));
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(
            e.what(),
            "50000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767");
    }
}

}  // namespace
}  // namespace dstest
