// The one place that decides where the Win32 calls come from: the Windows SDK
// on Windows, the POSIX stand-ins everywhere else. The core includes only this.
#pragma once

#ifdef _WIN32
#  include <winsock2.h>
#  include <windows.h>
#  include <wininet.h>
namespace marvostell {
inline constexpr char kPathSeparator = '\\';
// Every character that separates directories in a path.
inline constexpr char kPathSeparators[] = "\\/";
// DllMain drives the module entry routine.
inline constexpr bool kLoaderCallsDllMain = true;
}
#else
#  include "posix/win32_posix.h"
namespace marvostell {
inline constexpr char kPathSeparator = '/';
inline constexpr char kPathSeparators[] = "/";
// No DllMain: a static object drives the module entry routine.
inline constexpr bool kLoaderCallsDllMain = false;
}
#endif
