// The engine's answer for a failing status, the one way every component turns an engine refusal
// into the text and code of its exception: CheckKdsStatus (kdsengine.h) raises EKDSDatabaseError
// from it, and the connection's and the settings' KdsError classes (kdscnnct.h, kdsset.h) take
// their messages from it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/kce.h"

namespace kds {

// Where the text comes from: the calling thread's last engine error (KdsGetLastError), or the
// engine's fixed text of the status (KdsGetErrorString).
enum class EngineErrorSource : uint8_t { LastError, StatusText };

// The code and text (up to its first zero byte) the engine gives for a failing status. known is
// false when the engine could not answer; the text is then empty and the code the status.
struct EngineError {
    int32_t code = 0;
    std::string text;
    bool known = false;
};
EngineError EngineErrorOf(KCESTATUS status, EngineErrorSource source);

// The message of a KdsError: the engine's text from source. When the engine cannot answer, its
// own message box, titled msg::kKdsExceptionTitle, shows its last error and the message is empty.
std::string KdsErrorMessage(KCESTATUS status, EngineErrorSource source);

}  // namespace kds
