#include "engine/keys/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/status.h"

namespace kce {
namespace {

// Records of a small native layout, written through their raw images.
class IndexKeyTest : public ::testing::Test {
  protected:
    IndexKeyTest()
        : schema_({{"NAME", 4, 0, 6, 0},
                   {"AMOUNT", 2, 6, 8, 2},
                   {"HIRED", 3, 14, 4, 0},
                   {"PAID", 1, 18, 1, 0},
                   {"RATE", 10, 19, 8, 0},
                   {"CODE", 11, 27, 4, 0},
                   {"NOTES", 5, 31, 4, 0}}) {}

    std::vector<uint8_t> Image(const char* name, const char* amount, int64_t hired, char paid,
                               double rate, int32_t code) {
        std::vector<uint8_t> img(35, 0);
        std::memcpy(&img[0], name, std::min<size_t>(6, std::strlen(name)));
        if (*amount) std::memcpy(&img[6], amount, 8);
        uint32_t h = uint32_t(hired);
        std::memcpy(&img[14], &h, 4);
        img[18] = uint8_t(paid);
        std::memcpy(&img[19], &rate, 8);
        std::memcpy(&img[27], &code, 4);
        return img;
    }

    std::string Key(const IndexKey& k, const std::vector<uint8_t>& img) {
        ImageRecord rec(schema_, img.data(), img.size());
        std::string key;
        EXPECT_EQ(k.KeyOf(rec, &key), KCE_SUCCESS) << LastText();
        EXPECT_EQ(key.size(), k.Length());
        return key;
    }

    std::unique_ptr<IndexKey> Compile(const char* key, bool descending = false) {
        std::unique_ptr<IndexKey> k;
        EXPECT_EQ(IndexKey::Compile(schema_, key, descending, "", &k), KCE_SUCCESS) << LastText();
        return k;
    }

    // Keys of the images, in the order given, must be strictly increasing under memcmp.
    void ExpectIncreasing(const IndexKey& k, const std::vector<std::vector<uint8_t>>& images) {
        for (size_t i = 1; i < images.size(); ++i) {
            EXPECT_LT(Key(k, images[i - 1]), Key(k, images[i]))
                << k.KeyText() << (k.Descending() ? " descending" : "") << ", record " << i;
        }
    }

    ExprSchema schema_;
};

TEST_F(IndexKeyTest, MemcmpOrderIsIndexOrderForEveryKeyType) {
    const int64_t d = JulianFromCivil({2001, 9, 15});
    // Each list is in ascending index order for the field named.
    struct Order {
        const char* key;
        std::vector<std::vector<uint8_t>> images;
    } orders[] = {
        {"NAME",
         {Image("", "", 0, ' ', 0, 0), Image("A", "", 0, ' ', 0, 0), Image("A B", "", 0, ' ', 0, 0),
          Image("AB", "", 0, ' ', 0, 0), Image("ABC", "", 0, ' ', 0, 0),
          Image("b", "", 0, ' ', 0, 0)}},
        {"AMOUNT",
         {Image("", "-1000.00", 0, ' ', 0, 0), Image("", "   -2.50", 0, ' ', 0, 0),
          Image("", "", 0, ' ', 0, 0), Image("", "    0.01", 0, ' ', 0, 0),
          Image("", "    9.99", 0, ' ', 0, 0), Image("", "   10.00", 0, ' ', 0, 0)}},
        {"RATE",
         {Image("", "", 0, ' ', -1e300, 0), Image("", "", 0, ' ', -2, 0),
          Image("", "", 0, ' ', -0.5, 0), Image("", "", 0, ' ', 0, 0),
          Image("", "", 0, ' ', 1e-300, 0), Image("", "", 0, ' ', 3, 0)}},
        {"CODE",
         {Image("", "", 0, ' ', 0, -2147483647), Image("", "", 0, ' ', 0, -1),
          Image("", "", 0, ' ', 0, 0), Image("", "", 0, ' ', 0, 1),
          Image("", "", 0, ' ', 0, 2147483647)}},
        {"HIRED",
         {Image("", "", 0, ' ', 0, 0), Image("", "", d - 400, ' ', 0, 0),
          Image("", "", d, ' ', 0, 0), Image("", "", d + 1, ' ', 0, 0)}},
        {"PAID", {Image("", "", 0, 'F', 0, 0), Image("", "", 0, 'T', 0, 0)}},
        {"HIRED;NAME",
         {Image("Z", "", d, ' ', 0, 0), Image("A", "", d + 1, ' ', 0, 0),
          Image("B", "", d + 1, ' ', 0, 0)}},
        {"UPPER(NAME)+DTOS(HIRED)",
         {Image("ab", "", d, ' ', 0, 0), Image("AB", "", d + 1, ' ', 0, 0),
          Image("abc", "", d, ' ', 0, 0)}},
    };
    for (const Order& o : orders) {
        ExpectIncreasing(*Compile(o.key), o.images);
        std::vector<std::vector<uint8_t>> reversed(o.images.rbegin(), o.images.rend());
        ExpectIncreasing(*Compile(o.key, true), reversed);
    }
}

TEST_F(IndexKeyTest, PartialKeysMatchAsPrefixes) {
    const int64_t d = JulianFromCivil({2001, 9, 15});
    auto img = Image("SMITH", "   12.00", d, 'T', 0, 5);
    ImageRecord rec(schema_, img.data(), img.size());
    for (bool descending : {false, true}) {
        auto k = Compile("NAME;HIRED;CODE", descending);
        EXPECT_EQ(k->Length(), 6u + 4u + 8u);
        std::string full, one, cut, text;
        ASSERT_EQ(k->KeyOf(rec, &full), KCE_SUCCESS);
        ASSERT_EQ(k->PartialKeyOf(rec, 1, -1, &one), KCE_SUCCESS);
        ASSERT_EQ(k->PartialKeyOf(rec, 1, 3, &cut), KCE_SUCCESS);
        ASSERT_EQ(k->TextKey("SMI", &text), KCE_SUCCESS);
        EXPECT_EQ(one.size(), 6u);
        EXPECT_EQ(cut.size(), 3u);
        EXPECT_EQ(full.compare(0, one.size(), one), 0);
        EXPECT_EQ(full.compare(0, cut.size(), cut), 0);
        EXPECT_EQ(text, cut);
    }
}

TEST_F(IndexKeyTest, TextKeysConvertToTheKeyType) {
    auto code = Compile("CODE");
    auto img = Image("", "", 0, ' ', 0, -7);
    std::string key;
    ASSERT_EQ(code->TextKey("-7", &key), KCE_SUCCESS);
    EXPECT_EQ(key, Key(*code, img));
    EXPECT_EQ(code->TextKey("seven", &key), KCE_INVALID_KEY);
    auto hired = Compile("HIRED");
    auto dated = Image("", "", JulianFromCivil({2001, 9, 15}), ' ', 0, 0);
    for (const char* text : {"09/15/2001", "20010915", "2001-09-15"}) {
        ASSERT_EQ(hired->TextKey(text, &key), KCE_SUCCESS) << text;
        EXPECT_EQ(key, Key(*hired, dated)) << text;
    }
    auto name = Compile("NAME");
    EXPECT_EQ(name->TextKey("SEVENCH", &key), KCE_KEY_TOO_LONG);
    EXPECT_NE(LastText().find("key of 7 bytes for index key \"NAME\" of 6 bytes"),
              std::string::npos);
}

TEST_F(IndexKeyTest, BadDefinitionsAreRefused) {
    std::unique_ptr<IndexKey> k;
    EXPECT_EQ(IndexKey::Compile(schema_, "NAME;NOPE", false, "", &k), KCE_EXPR_UNKNOWN_FIELD);
    EXPECT_NE(LastText().find("'NOPE'"), std::string::npos);
    EXPECT_EQ(IndexKey::Compile(schema_, "NOTES", false, "", &k), KCE_FIELD_NOT_INDEXABLE);
    EXPECT_EQ(IndexKey::Compile(schema_, "NAME+", false, "", &k), KCE_EXPR_SYNTAX);
    std::string wide = "NAME";
    for (int i = 0; i < 50; ++i) wide += "+NAME";
    EXPECT_EQ(IndexKey::Compile(schema_, wide, false, "", &k), KCE_KEY_TOO_LONG);
    EXPECT_EQ(IndexKey::Compile(schema_, "NAME", false, "CODE + 1", &k), KCE_EXPR_NOT_LOGICAL);
    EXPECT_EQ(k, nullptr);
}

TEST_F(IndexKeyTest, ConditionDecidesMembership) {
    auto img = Image("A", "", 0, 'T', 0, 5);
    ImageRecord rec(schema_, img.data(), img.size());
    std::unique_ptr<IndexKey> k;
    ASSERT_EQ(IndexKey::Compile(schema_, "NAME", false, "CODE > 3 .AND. PAID", &k), KCE_SUCCESS);
    EXPECT_TRUE(k->Includes(rec));
    ASSERT_EQ(IndexKey::Compile(schema_, "NAME", false, "CODE > 5", &k), KCE_SUCCESS);
    EXPECT_FALSE(k->Includes(rec));
}

TEST_F(IndexKeyTest, KeyExpressionFailingOnARecordIsAStatus) {
    auto k = Compile("100 / CODE");
    auto img = Image("A", "", 0, 'T', 0, 0);
    ImageRecord rec(schema_, img.data(), img.size());
    std::string key;
    EXPECT_EQ(k->KeyOf(rec, &key), KCE_INDEX_KEY_FAILED);
    EXPECT_NE(LastText().find("division by zero"), std::string::npos) << LastText();
}

}  // namespace
}  // namespace kce
