#include "handles.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace marvostell::posix {
namespace {

std::mutex g_mutex;
// The handle value is the object's own address.
std::unordered_map<const void *, std::shared_ptr<HandleObject>> g_live;

std::shared_ptr<HandleObject> LiveOfKind(const void *handle, HandleKind kind) {
    auto it = g_live.find(handle);
    if (it == g_live.end() || it->second->kind != kind) return nullptr;
    return it->second;
}

}  // namespace

void *RegisterHandle(std::unique_ptr<HandleObject> object) {
    if (object == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void *const value = object.get();
    try {
        std::shared_ptr<HandleObject> shared(std::move(object));
        std::lock_guard<std::mutex> lock(g_mutex);
        g_live.emplace(value, std::move(shared));
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return value;
}

std::shared_ptr<HandleObject> LookUpHandle(const void *handle, HandleKind kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::shared_ptr<HandleObject> object = LiveOfKind(handle, kind);
    if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

std::shared_ptr<HandleObject> UnregisterHandle(const void *handle, HandleKind kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::shared_ptr<HandleObject> object = LiveOfKind(handle, kind);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    g_live.erase(handle);
    return object;
}

}  // namespace marvostell::posix
