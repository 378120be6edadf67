#include "engine/invariant.h"

#include <gtest/gtest.h>

namespace {

TEST(Invariant, AFailingCheckNamesItsConditionFileAndLineAndAborts) {
    if constexpr (!kce::kInvariants) GTEST_SKIP() << "invariant checks are compiled out here";
    int pending = 2;
    EXPECT_DEATH(KCE_INVARIANT(pending == 3),
                 "invariant failed: pending == 3 \\(.*invariant_test\\.cpp:[0-9]+\\)");
}

// Where the checks are compiled out, their conditions cost nothing: they are not evaluated.
TEST(Invariant, ConditionsAreEvaluatedOnlyWhereChecksAreCompiledIn) {
    int evaluated = 0;
    KCE_INVARIANT(++evaluated == 1);
    EXPECT_EQ(evaluated, kce::kInvariants ? 1 : 0);
}

}  // namespace
