// Internal to platform/posix: the one registry of handle values. Every HANDLE
// and HINTERNET this folder gives out is the address of an object registered
// here, with its kind; a call looks its handle up by the kind it works on, so
// a stale value, or a handle of another kind (a file handle passed to
// InternetCloseHandle, say), fails with ERROR_INVALID_HANDLE as on Windows.
//
// A look-up shares the object: a close from another thread meanwhile takes
// the handle value out of the registry at once, but the object (and the
// descriptor or transfer it holds) lives until the last call using it has
// returned, as a Windows object outlives its handle while I/O is under way.
#pragma once

#include <memory>

#include "win32_posix.h"

namespace marvostell::posix {

enum class HandleKind { File, Find, Internet };

struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    virtual ~HandleObject() = default;
    HandleObject(const HandleObject &) = delete;
    HandleObject &operator=(const HandleObject &) = delete;
    const HandleKind kind;
};

// Registers the object and returns its handle value; null, with
// ERROR_NOT_ENOUGH_MEMORY set, when it cannot (the object is then freed).
void *RegisterHandle(std::unique_ptr<HandleObject> object);

// The live object behind handle if it is of that kind, else null with
// ERROR_INVALID_HANDLE set.
std::shared_ptr<HandleObject> LookUpHandle(const void *handle, HandleKind kind);

// Takes the object out of the registry; null with ERROR_INVALID_HANDLE set as
// for LookUpHandle. Calls that looked it up before still hold it.
std::shared_ptr<HandleObject> UnregisterHandle(const void *handle, HandleKind kind);

// LookUpHandle for a type that names its kind in kKind.
template <class T>
std::shared_ptr<T> LookUp(const void *handle) {
    return std::static_pointer_cast<T>(LookUpHandle(handle, T::kKind));
}

}  // namespace marvostell::posix
