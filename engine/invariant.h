// Invariants: checks of the engine's own bookkeeping, in debug builds.
//
// KCE_INVARIANT(condition) states what the engine's own code guarantees at that point: a cursor's
// position and pending record, the lock tables, transaction flags, the arithmetic that places a
// record or a block in a file. It is compiled in when NDEBUG is not defined (Debug builds, and so
// `make asan`) or when KCE_INVARIANTS is defined (the sanitizer and fuzz builds define it whatever
// their build type). A failing check prints the condition, its file and line to stderr and
// aborts. In other builds the condition is not evaluated.
//
// Never for what comes from outside: a file, another process or a caller's arguments may hold
// anything, and what they break is answered with a status. An invariant that input can break is a
// bug in the check.
#pragma once

#if !defined(NDEBUG) && !defined(KCE_INVARIANTS)
#define KCE_INVARIANTS 1
#endif

namespace kce {

#ifdef KCE_INVARIANTS
inline constexpr bool kInvariants = true;
#else
inline constexpr bool kInvariants = false;
#endif

// Prints "invariant failed: <condition> (<file>:<line>)" and aborts.
[[noreturn]] void InvariantFailed(const char* condition, const char* file, int line);

}  // namespace kce

#ifdef KCE_INVARIANTS
#define KCE_INVARIANT(condition) \
    ((condition) ? void(0) : ::kce::InvariantFailed(#condition, __FILE__, __LINE__))
#else
// Not evaluated, but still compiled: a check cannot rot unseen in release builds.
#define KCE_INVARIANT(condition) void(sizeof(!(condition)))
#endif
