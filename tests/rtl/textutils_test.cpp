#include "rtl/textutils.h"

#include <gtest/gtest.h>

namespace rtl {
namespace {

TEST(TextUtils, CaseAndTrimming) {
    EXPECT_TRUE(SameText("emp_no", "EMP_NO"));
    EXPECT_FALSE(SameText("emp_no", "EMP_NO "));
    EXPECT_FALSE(SameText("\xE9", "\xC9"));  // bytes beyond ASCII compare as they are
    EXPECT_LT(CompareText("apple", "Banana"), 0);
    EXPECT_GT(CompareText("abc", "AB"), 0);
    EXPECT_EQ(CompareText("Abc", "aBC"), 0);
    EXPECT_EQ(UpperCase("Emp_No1"), "EMP_NO1");
    EXPECT_EQ(LowerCase("Emp_No1"), "emp_no1");
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
    EXPECT_EQ(Trim("   "), "");
}

}  // namespace
}  // namespace rtl
