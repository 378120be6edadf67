// Small helpers of the benchmarks that call the engine directly: text arguments, sizes from the
// environment, a status check that ends the run with the engine's message, and a wall clock.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "engine/kce.h"

namespace bench {

inline const UNSIGNED8* U(const std::string& s) {
    return reinterpret_cast<const UNSIGNED8*>(s.c_str());
}

// The positive number in environment variable `name`, else `fallback`.
inline int EnvInt(const char* name, int fallback) {
    const char* env = std::getenv(name);
    int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : fallback;
}

// Ends the benchmark with the engine's last error when `status` is one.
inline void Check(KCESTATUS status, const char* what) {
    if (status == 0) return;
    UNSIGNED32 code = 0;
    UNSIGNED8 text[KCE_MAX_ERROR_LEN + 1] = {};
    UNSIGNED16 len = sizeof text - 1;
    KdsGetLastError(&code, text, &len);
    std::fprintf(stderr, "%s failed: %u %.*s\n", what, status, int(len),
                 reinterpret_cast<char*>(text));
    std::exit(1);
}

// Wall-clock seconds that `work` takes.
inline double Seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench
