// The values of a manifest as the units read them, whoever holds the bytes:
// the manifest unit's reader implements this, and the package unit reads its
// entry, its patches and its packed file through it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace marvostell {

// Every manifest value is read into this many characters, terminator included.
constexpr DWORD kValueBufferSize = 255;

class CManifestValues {
public:
    // GetPrivateProfileStringA on the manifest: the characters copied. With a
    // null key, the section's key names, each ended by a terminator; with a
    // null section too, the section names.
    virtual DWORD Read(const char *section, const char *key, const char *defaultValue, char *value,
                       DWORD size) const = 0;
    // A value read by the manifest's number rule; "0" when it is absent.
    virtual uint32_t Number(const char *section, const char *key) const = 0;

    DWORD Read(const char *section, const char *key, const char *defaultValue,
               char (&value)[kValueBufferSize]) const {
        return Read(section, key, defaultValue, value, kValueBufferSize);
    }
    std::string Value(const char *section, const char *key, const char *defaultValue) const {
        char value[kValueBufferSize];
        Read(section, key, defaultValue, value);
        return value;
    }

protected:
    ~CManifestValues() = default;  // never owned through this interface
};

}  // namespace marvostell
