// Reads values of a manifest copy, key by key, through the profile reader.
#pragma once

#include <string>

#include "platform/win32.h"

namespace marvostell {

// Every manifest value is read into this many characters, terminator included.
constexpr DWORD kValueBufferSize = 255;

class CManifestReader {
public:
    explicit CManifestReader(std::string path) : m_strPath(std::move(path)) {}

    // GetPrivateProfileStringA on the manifest: the characters copied. With a
    // null key, the section's key names, each ended by a terminator.
    DWORD Read(const char *section, const char *key, const char *defaultValue,
               char (&value)[kValueBufferSize]) const {
        return GetPrivateProfileStringA(section, key, defaultValue, value, kValueBufferSize,
                                        m_strPath.c_str());
    }
    std::string Value(const char *section, const char *key, const char *defaultValue) const {
        char value[kValueBufferSize];
        Read(section, key, defaultValue, value);
        return value;
    }
    // A value of up to `size` - 1 characters, for the few that may be longer
    // than the others.
    std::string LongValue(const char *section, const char *key, DWORD size) const {
        std::string value(size, '\0');
        value.resize(GetPrivateProfileStringA(section, key, "", &value[0], size, m_strPath.c_str()));
        return value;
    }
    const std::string &Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

}  // namespace marvostell
