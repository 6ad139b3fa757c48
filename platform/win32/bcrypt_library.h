// bcrypt.dll, loaded from the system directory only (never from the host
// program's folder) on first use, and kept for the life of the process.
#pragma once

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace marvostell::crypto {

inline HMODULE SystemBcrypt() {
    static const HMODULE module = LoadLibraryExA("bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

// One of its functions; false when the DLL or the function is missing.
template <typename T>
bool ResolveBcrypt(const char *name, T &function) {
    const HMODULE module = SystemBcrypt();
    function = module ? reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
    return function != nullptr;
}

}  // namespace marvostell::crypto
