#include "engine/status.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace kce {
namespace {

struct LastError {
    KCESTATUS status = KCE_SUCCESS;
    std::string text;
};

LastError& ThreadLastError() {
    thread_local LastError last;
    return last;
}

std::mutex displayMutex;
KceDisplayCallback displayCallback = nullptr;
void* displayContext = nullptr;

}  // namespace

const char* StatusText(KCESTATUS status) {
    switch (status) {
#define KCE_STATUS(code, name, text) \
    case code:                       \
        return text;
#include "engine/kce_status.def"
#undef KCE_STATUS
    }
    return nullptr;
}

KCESTATUS Fail(KCESTATUS status, std::string_view detail) {
    LastError& last = ThreadLastError();
    last.status = status;
    const char* fixed = StatusText(status);
    last.text = fixed ? fixed : "status " + std::to_string(status);
    if (!detail.empty()) {
        last.text += ": ";
        last.text += detail;
    }
    if (last.text.size() > KCE_MAX_ERROR_LEN) last.text.resize(KCE_MAX_ERROR_LEN);
    return status;
}

KCESTATUS LastStatus() { return ThreadLastError().status; }
const std::string& LastText() { return ThreadLastError().text; }

KCESTATUS CopyOut(std::string_view text, UNSIGNED8* buf, UNSIGNED16* len) {
    if (!len) return Fail(KCE_INVALID_ARGUMENT, "no length given for a text result");
    UNSIGNED16 capacity = *len;
    if (text.size() > 0xFFFF) {
        // No 16-bit length can say how long the text is, nor can any buffer hold it: the caller
        // is told so, with the most the length can carry, instead of receiving a cut text.
        *len = 0xFFFF;
        return Fail(KCE_INSUFFICIENT_BUFFER, "the text needs " + std::to_string(text.size()) +
                                                 " bytes, more than a 16-bit length can carry");
    }
    *len = static_cast<UNSIGNED16>(text.size());
    if (!buf) return KCE_SUCCESS;
    if (text.size() > capacity) {
        return Fail(KCE_INSUFFICIENT_BUFFER, "the text needs " + std::to_string(text.size()) +
                                                 " bytes, the buffer holds " +
                                                 std::to_string(capacity));
    }
    std::memcpy(buf, text.data(), text.size());
    if (text.size() < capacity) buf[text.size()] = 0;
    return KCE_SUCCESS;
}

void SetDisplayCallback(KceDisplayCallback callback, void* context) {
    std::lock_guard<std::mutex> lock(displayMutex);
    displayCallback = callback;
    displayContext = context;
}

void Display(const std::string& title, const std::string& text) {
    KceDisplayCallback callback;
    void* context;
    {
        std::lock_guard<std::mutex> lock(displayMutex);
        callback = displayCallback;
        context = displayContext;
    }
    if (callback) {
        callback(title.c_str(), text.c_str(), context);
    } else {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    }
}

}  // namespace kce
