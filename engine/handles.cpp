#include "engine/handles.h"

#include <unordered_map>

#include "engine/status.h"

namespace kce {
namespace {

std::mutex registryMutex;
std::unordered_map<KDSHANDLE, std::shared_ptr<HandleObject>>& Registry() {
    static auto* registry = new std::unordered_map<KDSHANDLE, std::shared_ptr<HandleObject>>();
    return *registry;
}
KDSHANDLE nextHandle = 1;

}  // namespace

KDSHANDLE Handles::Add(std::shared_ptr<HandleObject> obj) {
    std::lock_guard<std::mutex> lock(registryMutex);
    KDSHANDLE handle = nextHandle++;
    if (nextHandle == 0) nextHandle = 1;
    obj->handle_ = handle;
    Registry()[handle] = std::move(obj);
    return handle;
}

std::shared_ptr<HandleObject> Handles::Find(KDSHANDLE handle) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = Registry().find(handle);
    return it == Registry().end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> Handles::Remove(KDSHANDLE handle) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = Registry().find(handle);
    if (it == Registry().end()) return nullptr;
    auto obj = std::move(it->second);
    Registry().erase(it);
    return obj;
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
