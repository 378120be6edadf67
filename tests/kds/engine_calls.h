// Counts of real engine calls made by the components. The test program is linked with
// --wrap for each call below, so every call from kds passes through a counter on its way to
// the engine; nothing is replaced or faked.
#pragma once

#include <map>
#include <string>

namespace kdstest {

// Calls counted since the last Reset, by engine function name.
int EngineCalls(const std::string& function);
void ResetEngineCalls();

}  // namespace kdstest
