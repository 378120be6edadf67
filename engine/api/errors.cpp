// The C entry points of errors: the thread's last error, status texts and their display.
#include <string>

#include "engine/api/helpers.h"

using namespace kce;

extern "C" KCESTATUS KdsGetLastError(UNSIGNED32* code, UNSIGNED8* buf, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        if (!code) return Fail(KCE_INVALID_ARGUMENT, "no code variable given");
        *code = LastStatus();
        if (!buf && !len) return KCE_SUCCESS;
        // The text is copied before it could be replaced by a failure of the copy itself.
        std::string text = LastText();
        return CopyOut(text, buf, len);
    });
}

extern "C" KCESTATUS KdsGetErrorString(UNSIGNED32 code, UNSIGNED8* buf, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        const char* text = StatusText(code);
        if (!text) return Fail(KCE_INVALID_ARGUMENT, "unknown status " + std::to_string(code));
        return CopyOut(text, buf, len);
    });
}

extern "C" KCESTATUS KdsSetDisplayCallback(KceDisplayCallback callback, void* context) {
    return Guard([&]() -> KCESTATUS {
        SetDisplayCallback(callback, context);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsShowError(const UNSIGNED8* title) {
    return Guard([&]() -> KCESTATUS {
        std::string text = LastText();
        if (text.empty()) text = "no error";
        Display(TextArg(title), text);
        return KCE_SUCCESS;
    });
}
