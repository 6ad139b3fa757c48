// The names and texts of the error codes in error_map.h, for the tools.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error_map.h"

namespace marvostell {

// "ERROR_INTERNET_TIMEOUT" for 12002: the name of a WinINet error number, or
// "" when it is none.
inline const char *InternetErrorName(uint32_t code) {
    switch (code) {
#define MARVOSTELL_ERROR_NAME(name, number, text) \
    case number: return #name;
        MARVOSTELL_INTERNET_ERROR_MAP(MARVOSTELL_ERROR_NAME)
#undef MARVOSTELL_ERROR_NAME
    default: return "";
    }
}

// Windows' message for a system error code, or "" when the list has none.
inline const char *SystemErrorMessage(uint32_t code) {
    switch (code) {
#define MARVOSTELL_ERROR_TEXT(name, number, text) \
    case number: return text;
        MARVOSTELL_SYSTEM_ERROR_MAP(MARVOSTELL_ERROR_TEXT)
#undef MARVOSTELL_ERROR_TEXT
    default: return "";
    }
}

// "error 12029 (cannot connect)": an Internet or system error number, with
// the short text of the Internet errors that have one.
inline std::string InternetErrorText(uint32_t code) {
    const char *text = "";
    switch (code) {
#define MARVOSTELL_ERROR_TEXT(name, number, shortText) \
    case number: text = shortText; break;
        MARVOSTELL_INTERNET_ERROR_MAP(MARVOSTELL_ERROR_TEXT)
#undef MARVOSTELL_ERROR_TEXT
    default: break;
    }
    return "error " + std::to_string(code) + (*text ? std::string(" (") + text + ")" : "");
}

}  // namespace marvostell
