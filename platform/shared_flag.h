// A 32-bit flag that one thread sets and another reads, each access one
// atomic operation (release on the store, acquire on the load). Hosts hand the module such a flag as a plain
// `volatile int32_t` (the interface fixes the type), so the read cannot go
// through std::atomic; each compiler spells the atomic load its own way.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#  include <atomic>
#  include <intrin.h>
#endif

namespace marvostell {

inline int32_t LoadSharedFlag(const volatile int32_t *flag) {
#if defined(_MSC_VER) && !defined(__clang__)
    const int32_t value = __iso_volatile_load32(reinterpret_cast<const volatile __int32 *>(flag));
    std::atomic_thread_fence(std::memory_order_acquire);
    return value;
#else
    return __atomic_load_n(flag, __ATOMIC_ACQUIRE);
#endif
}

inline void StoreSharedFlag(volatile int32_t *flag, int32_t value) {
#if defined(_MSC_VER) && !defined(__clang__)
    std::atomic_thread_fence(std::memory_order_release);
    __iso_volatile_store32(reinterpret_cast<volatile __int32 *>(flag), value);
#else
    __atomic_store_n(flag, value, __ATOMIC_RELEASE);
#endif
}

}  // namespace marvostell
