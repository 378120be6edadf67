#include "rtl/format.h"

#include <gtest/gtest.h>

#include "rtl/exceptions.h"
#include "rtl/formatsettings.h"

namespace rtl {
namespace {

TEST(Format, Placeholders) {
    TFormatSettingsScope scope(TFormatSettings{});
    EXPECT_EQ(Format("List index out of bounds (%d)", {5}), "List index out of bounds (5)");
    EXPECT_EQ(Format("%g is not a valid value for field '%s'. The allowed range is %g to %g",
                     {70000, "AGE", -32768, 32767}),
              "70000 is not a valid value for field 'AGE'. The allowed range is -32768 to 32767");
    EXPECT_EQ(Format("%g %g %g", {1e15, 0.5, 1.5e-7}), "1E15 0.5 1.5E-7");
    EXPECT_EQ(Format("[%5d][%-5s][%.3d][%x][%u]", {42, "ab", 7, 255, -1}),
              "[   42][ab   ][007][FF][18446744073709551615]");
    EXPECT_EQ(Format("%.2f %n %.3s", {3.14159, 1234567.891, "abcdef"}), "3.14 1,234,567.89 abc");
    EXPECT_EQ(Format("%e", {1500.0}), "1.50000000000000E+003");
    EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
    EXPECT_EQ(Format("100%% %s", {std::string("sure")}), "100% sure");
    EXPECT_EQ(Format("%s", {'c'}), "c");
}

TEST(Format, MismatchedPlaceholdersRaise) {
    for (const char* bad : {"%d", "%s %s", "%q", "%", "%.f"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Format(bad, {"text"}), EConvertError);
    }
    try {
        Format("%d", {"x"});
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Format '%d' invalid or incompatible with argument");
    }
}

TEST(Exceptions, MessagesAndKinds) {
    try {
        ListIndexError(3);
        FAIL() << "ListIndexError returned";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (3)");
        EXPECT_STREQ(static_cast<const std::exception&>(e).what(), e.Message().c_str());
    }
    EXPECT_THROW(Abort(), EAbort);
    EXPECT_STREQ(EComponentError("A component named %s already exists", {"Edit1"}).what(),
                 "A component named Edit1 already exists");
    EXPECT_THROW(throw EFOpenError("x"), EStreamError);
    EXPECT_THROW(throw EVariantError("x"), EInvalidCast);
}

}  // namespace
}  // namespace rtl
