#include "host_path.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace marvostell::tools {

std::string HostPath(const std::string &path) {
#ifdef _WIN32
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length > 0 && length < MAX_PATH) return std::string(full, length);
#endif
    return path;
}

}  // namespace marvostell::tools
