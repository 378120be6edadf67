// What every C entry point of kce.h is built from: the firewall runners and the argument helpers.
//
// Every entry point's body is one call of Guard() or of a runner below (each runs its body inside
// Guard() and, where it touches tables, under the engine lock), so that no exception crosses the
// C interface. .ci/run checks this for every entry point.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/cursor.h"
#include "engine/handles.h"
#include "engine/index/index_handles.h"
#include "engine/index/index_order.h"
#include "engine/status.h"

namespace kce {

// Runs body(object, cursor, order) for a table or index handle, inside the firewall and the engine
// lock: one handle lookup.
template <typename Body>
KCESTATUS OnHandleCursor(KDSHANDLE handle, Body&& body) noexcept {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        // The reference keeps the handle's objects alive should the body close it.
        std::shared_ptr<HandleObject> obj = Handles::Find(handle);
        TableCursor* cursor = nullptr;
        Order* order = nullptr;
        if (KCESTATUS s = ResolveCursor(handle, obj.get(), &cursor, &order)) return s;
        return body(*obj, *cursor, *order);
    });
}

// Runs body(cursor, order) for a table or index handle, inside the firewall and the engine lock.
template <typename Body>
KCESTATUS OnCursor(KDSHANDLE handle, Body&& body) noexcept {
    return OnHandleCursor(handle, [&](HandleObject&, TableCursor& cursor, Order& order) {
        return body(cursor, order);
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

// KdsSetField and KdsSetFieldRaw: an index handle that is building a raw key takes the value
// into its key; a table or index handle otherwise into its record, by body(cursor, field index).
// One firewall pass, one lock and one handle lookup.
template <typename Body>
KCESTATUS OnFieldOrKey(KDSHANDLE handle, const UNSIGNED8* field, const UNSIGNED8* value,
                       UNSIGNED32 len, bool raw, Body&& body) noexcept {
    return OnHandleCursor(handle, [&](HandleObject& obj, TableCursor& c, Order&) -> KCESTATUS {
        KCESTATUS keyStatus = KCE_SUCCESS;
        if (RoutesToRawKey(obj, field, value, len, raw, &keyStatus)) return keyStatus;
        int index = -1;
        if (KCESTATUS s = ResolveField(c.Layout(), field, c.Name(), &index)) return s;
        return body(c, index);
    });
}

// Runs body(cursor) for a table handle only (an index handle is refused).
template <typename Body>
KCESTATUS OnTable(KDSHANDLE handle, Body&& body) noexcept {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<TableCursor> cursor;
        if (KCESTATUS s = Handles::Get<TableCursor>(handle, &cursor, "table")) return s;
        return body(cursor);
    });
}

// Runs body(index) for an index handle only.
template <typename Body>
KCESTATUS OnIndex(KDSHANDLE handle, Body&& body) noexcept {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<IndexHandle> index;
        if (KCESTATUS s = Handles::Get<IndexHandle>(handle, &index, "index")) return s;
        return body(*index);
    });
}

// Runs body(cursor) on the cursor of a table handle or of an index handle's table.
template <typename Body>
KCESTATUS OnTableOf(KDSHANDLE handle, Body&& body) noexcept {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<HandleObject> obj = Handles::Find(handle);
        if (!obj) return Fail(KCE_INVALID_HANDLE, "table handle " + std::to_string(handle));
        std::shared_ptr<TableCursor> cursor = std::dynamic_pointer_cast<TableCursor>(obj);
        if (!cursor) {
            if (auto index = std::dynamic_pointer_cast<IndexHandle>(obj))
                cursor = index->CursorRef();
        }
        if (!cursor) {
            return Fail(KCE_WRONG_HANDLE_TYPE,
                        "handle " + std::to_string(handle) + " is not a table or index handle");
        }
        return body(*cursor);
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

// A zero-terminated text argument; null reads as empty.
inline std::string TextArg(const UNSIGNED8* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

}  // namespace kce
