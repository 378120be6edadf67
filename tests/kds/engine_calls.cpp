#include "tests/kds/engine_calls.h"

#include "engine/kce.h"

namespace kdstest {
namespace {

std::map<std::string, int>& Counts() {
    static std::map<std::string, int> counts;
    return counts;
}

}  // namespace

int EngineCalls(const std::string& function) {
    auto it = Counts().find(function);
    return it == Counts().end() ? 0 : it->second;
}

void ResetEngineCalls() { Counts().clear(); }

}  // namespace kdstest

// One pass-through per wrapped call: count, then call the engine. The list must match the
// --wrap options of the test program (tests/kds/CMakeLists.txt).
#define KDSTEST_COUNTED(name, params, args)     \
    extern "C" KCESTATUS __real_##name params;  \
    extern "C" KCESTATUS __wrap_##name params { \
        ++kdstest::Counts()[#name];             \
        return __real_##name args;              \
    }

KDSTEST_COUNTED(KdsLockRecord, (KDSHANDLE t, UNSIGNED32 r), (t, r))
KDSTEST_COUNTED(KdsUnlockRecord, (KDSHANDLE t, UNSIGNED32 r), (t, r))
KDSTEST_COUNTED(KdsAppendRecord, (KDSHANDLE t), (t))
KDSTEST_COUNTED(KdsGetField,
                (KDSHANDLE t, const UNSIGNED8* f, UNSIGNED8* b, UNSIGNED32* l, UNSIGNED16 o),
                (t, f, b, l, o))
KDSTEST_COUNTED(KdsSetScope,
                (KDSHANDLE t, UNSIGNED16 w, const UNSIGNED8* k, UNSIGNED16 l, UNSIGNED16 kt),
                (t, w, k, l, kt))
KDSTEST_COUNTED(KdsSeek,
                (KDSHANDLE i, const UNSIGNED8* k, UNSIGNED16 l, UNSIGNED16 kt, UNSIGNED16 st,
                 UNSIGNED16* f),
                (i, k, l, kt, st, f))
KDSTEST_COUNTED(KdsSetAOF, (KDSHANDLE t, const UNSIGNED8* e, UNSIGNED16 r), (t, e, r))
KDSTEST_COUNTED(KdsSetFilter, (KDSHANDLE t, const UNSIGNED8* e), (t, e))
