#include "engine/invariant.h"

#include <cstdio>
#include <cstdlib>

namespace kce {

void InvariantFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace kce
