// Helpers shared by the C entry points of tables and records.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "engine/cursor.h"
#include "engine/handles.h"
#include "engine/status.h"

namespace kce {

// Runs body(cursor, order) for a table or index handle, inside the firewall and the engine lock.
template <typename Body>
KCESTATUS OnCursor(KDSHANDLE handle, Body&& body) noexcept {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<TableCursor> cursor;
        Order* order = nullptr;
        std::shared_ptr<HandleObject> keepAlive;
        if (KCESTATUS s = ResolveCursor(handle, &cursor, &order, &keepAlive)) return s;
        return body(*cursor, *order);
    });
}

// The same with a field argument resolved to its index.
template <typename Body>
KCESTATUS OnField(KDSHANDLE handle, const UNSIGNED8* field, Body&& body) noexcept {
    return OnCursor(handle, [&](TableCursor& cursor, Order& order) -> KCESTATUS {
        int index = -1;
        if (KCESTATUS s = ResolveField(cursor.Layout(), field, cursor.Name(), &index)) return s;
        return body(cursor, order, index, cursor.Layout().fields[index]);
    });
}

// Fails unless an out argument was given.
template <typename T>
KCESTATUS NeedOut(T* out) {
    if (!out) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
    return KCE_SUCCESS;
}

// Copies bytes into a caller buffer with a 32-bit in/out length (convention 4 of kce.h).
inline KCESTATUS CopyOut32(std::string_view text, UNSIGNED8* buf, UNSIGNED32* len) {
    if (!len) return Fail(KCE_INVALID_ARGUMENT, "no length given for a result");
    UNSIGNED32 capacity = *len;
    *len = UNSIGNED32(text.size());
    if (!buf) return KCE_SUCCESS;
    if (text.size() > capacity) {
        return Fail(KCE_INSUFFICIENT_BUFFER, "the value needs " + std::to_string(text.size()) +
                                                 " bytes, the buffer holds " +
                                                 std::to_string(capacity));
    }
    if (!text.empty()) std::memcpy(buf, text.data(), text.size());
    if (text.size() < capacity) buf[text.size()] = 0;
    return KCE_SUCCESS;
}

inline std::string TextArg(const UNSIGNED8* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

}  // namespace kce
