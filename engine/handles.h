// The handle registry: every object the C interface hands out (connection, table cursor, index
// order, statement, search) is a HandleObject registered here under a 32-bit handle.
//
// Contract:
//  - Handles are never 0 and are not reused while the process runs (a counter), so a stale
//    handle is answered with KCE_INVALID_HANDLE instead of reaching another object.
//  - The registry holds the owning reference. Closing removes the entry; an object that a call
//    is still using stays alive through the shared_ptr that call holds.
//  - The registry is thread-safe. Objects are not: every C entry point that touches tables,
//    cursors or storage holds EngineLock() for its whole body (one engine-wide lock; the engine
//    does its work on the caller's thread, and contention is not a goal).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "engine/kce.h"

namespace kce {

class HandleObject {
  public:
    virtual ~HandleObject() = default;
    // One of the KCE_HANDLE_ codes of kce.h. An object answering KCE_HANDLE_TABLE must be a
    // TableCursor (cursor.h), one answering KCE_HANDLE_INDEX an OrderHandle.
    virtual UNSIGNED16 HandleType() const = 0;
    KDSHANDLE Handle() const { return handle_; }

  private:
    friend class Handles;
    KDSHANDLE handle_ = 0;
};

class Handles {
  public:
    // Registers obj and answers its new handle.
    static KDSHANDLE Add(std::shared_ptr<HandleObject> obj);
    static std::shared_ptr<HandleObject> Find(KDSHANDLE handle);
    // Unregisters and answers the object (null when unknown).
    static std::shared_ptr<HandleObject> Remove(KDSHANDLE handle);

    // Looks up a handle of type T: KCE_INVALID_HANDLE when unknown, KCE_WRONG_HANDLE_TYPE when
    // it names another kind of object. what names the argument in the error text.
    template <typename T>
    static KCESTATUS Get(KDSHANDLE handle, std::shared_ptr<T>* out, const char* what) {
        std::shared_ptr<HandleObject> obj = Find(handle);
        if (!obj) return FailUnknown(handle, what);
        auto typed = std::dynamic_pointer_cast<T>(obj);
        if (!typed) return FailWrongType(handle, what);
        *out = std::move(typed);
        return KCE_SUCCESS;
    }

  private:
    static KCESTATUS FailUnknown(KDSHANDLE handle, const char* what);
    static KCESTATUS FailWrongType(KDSHANDLE handle, const char* what);
};

// The engine-wide lock of table work (see above). Recursive so that an entry point may call
// another engine function that takes it too.
std::recursive_mutex& EngineLock();
using EngineGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace kce
