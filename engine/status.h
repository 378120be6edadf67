// Statuses inside the engine, and the firewall that every C entry point runs its body in.
//
// Inside the engine a function that can fail returns KCESTATUS (or a Result) and records its text
// with Fail(); nothing throws across the C interface. Guard() is the firewall: it runs a body,
// turns any escaped C++ exception into KCE_INTERNAL_ERROR / KCE_OUT_OF_MEMORY with a text, and
// leaves the thread's last error set for every non-zero status.
#pragma once

#include <string>
#include <string_view>

#include "engine/kce.h"

namespace kce {

// The fixed text of a status, or null for an unknown code.
const char* StatusText(KCESTATUS status);

// Records status and detail as the calling thread's last error and returns the status, so that a
// failing path reads: return Fail(KCE_FILE_NOT_FOUND, "table 'X': file /a/x.kdt does not exist");
// The recorded text is "<fixed text>: <detail>" (or the fixed text alone when detail is empty).
KCESTATUS Fail(KCESTATUS status, std::string_view detail = {});

// The thread's last error.
KCESTATUS LastStatus();
const std::string& LastText();

// Copies text into a caller buffer by convention 4 of kce.h.
KCESTATUS CopyOut(std::string_view text, UNSIGNED8* buf, UNSIGNED16* len);

// Hands a title and a text to the display callback (standard error when none is registered).
void SetDisplayCallback(KceDisplayCallback callback, void* context);
void Display(const std::string& title, const std::string& text);

// Runs body() (returning KCESTATUS) as a C entry point must: no exception escapes.
template <typename Body>
KCESTATUS Guard(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(KCE_OUT_OF_MEMORY);
    } catch (const std::exception& e) {
        return Fail(KCE_INTERNAL_ERROR, e.what());
    } catch (...) {
        return Fail(KCE_INTERNAL_ERROR, "unknown exception");
    }
}

}  // namespace kce
