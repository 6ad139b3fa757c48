// Internal to platform/posix: what a stat result says in Win32 terms.
#pragma once

#include <sys/stat.h>

#include "win32_posix.h"

namespace marvostell::posix {

// 100-nanosecond intervals since 1601-01-01, as FILETIME counts them.
inline FILETIME ToFileTime(const struct timespec &ts) {
    const uint64_t kEpochDiff = 116444736000000000ull;  // 1601 -> 1970
    uint64_t t = kEpochDiff + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
                 static_cast<uint64_t>(ts.tv_nsec) / 100;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

inline DWORD Attributes(const struct stat &st) {
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
    return FILE_ATTRIBUTE_NORMAL;
}

}  // namespace marvostell::posix
