#include "engine/handles.h"

#include <vector>

#include "engine/invariant.h"
#include "engine/status.h"

namespace kce {
namespace {

// Handles are given out in sequence and never reused, so the registry is a vector indexed by
// handle: a lookup, made by every call, is one bounds check. A closed handle leaves an empty slot.
std::mutex registryMutex;
std::vector<std::shared_ptr<HandleObject>>& Registry() {
    static auto* registry = new std::vector<std::shared_ptr<HandleObject>>(1);
    return *registry;
}

}  // namespace

KDSHANDLE Handles::Add(std::shared_ptr<HandleObject> obj) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto& registry = Registry();
    KDSHANDLE handle = KDSHANDLE(registry.size());
    // Slot 0 stays empty: no object has handle 0, and none is registered twice.
    KCE_INVARIANT(handle != 0 && obj && obj->handle_ == 0);
    obj->handle_ = handle;
    registry.push_back(std::move(obj));
    return handle;
}

std::shared_ptr<HandleObject> Handles::Find(KDSHANDLE handle) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto& registry = Registry();
    if (handle >= registry.size()) return nullptr;
    // A slot holds the object of its own handle, or nothing once that handle is closed.
    KCE_INVARIANT(!registry[handle] || registry[handle]->Handle() == handle);
    return registry[handle];
}

std::shared_ptr<HandleObject> Handles::Remove(KDSHANDLE handle) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto& registry = Registry();
    if (handle == 0 || handle >= registry.size()) return nullptr;
    return std::move(registry[handle]);
}

KCESTATUS Handles::FailUnknown(KDSHANDLE handle, const char* what) {
    return Fail(KCE_INVALID_HANDLE, std::string(what) + " handle " + std::to_string(handle));
}

KCESTATUS Handles::FailWrongType(KDSHANDLE handle, const char* what) {
    return Fail(KCE_WRONG_HANDLE_TYPE,
                "handle " + std::to_string(handle) + " is not a " + std::string(what) + " handle");
}

std::recursive_mutex& EngineLock() {
    static auto* lock = new std::recursive_mutex();
    return *lock;
}

}  // namespace kce
