// Internal to platform/posix: what a stat result says in Win32 terms.
#pragma once

#include <sys/stat.h>

#include "win32_posix.h"

namespace marvostell::posix {

inline DWORD Attributes(const struct stat &st) {
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
    return FILE_ATTRIBUTE_NORMAL;
}

}  // namespace marvostell::posix
