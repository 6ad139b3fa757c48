#include "handles.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace marvostell::posix {
namespace {

std::mutex g_mutex;
// The handle value is the object's own address.
std::unordered_map<const void *, HandleObject *> g_live;

HandleObject *LiveOfKind(const void *handle, HandleKind kind) {
    auto it = g_live.find(handle);
    return it != g_live.end() && it->second->kind == kind ? it->second : nullptr;
}

}  // namespace

void *RegisterHandle(std::unique_ptr<HandleObject> object) {
    if (object == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_live.emplace(object.get(), object.get());
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return object.release();
}

HandleObject *LookUpHandle(const void *handle, HandleKind kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    HandleObject *object = LiveOfKind(handle, kind);
    if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

std::unique_ptr<HandleObject> UnregisterHandle(const void *handle, HandleKind kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    HandleObject *object = LiveOfKind(handle, kind);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    g_live.erase(handle);
    return std::unique_ptr<HandleObject>(object);
}

}  // namespace marvostell::posix
