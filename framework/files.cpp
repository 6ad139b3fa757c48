#include "framework/files.h"

namespace marvostell {
namespace {

bool FindByName(const char *path, WIN32_FIND_DATAA &data) {
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

}  // namespace

bool FindFileByName(const char *path) {
    WIN32_FIND_DATAA data;
    return FindByName(path, data);
}

bool GetFileStatusSize(const char *path, uint32_t &size) {
    WIN32_FIND_DATAA data;
    if (!FindByName(path, data)) return false;
    size = data.nFileSizeLow;
    return true;
}

}  // namespace marvostell
