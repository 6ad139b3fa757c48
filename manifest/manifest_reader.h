// Reads values of a manifest: of the stored copy, key by key through the
// profile reader, or of a snapshot, the bytes as they were fetched, by the
// same rules. Both give the same answers for the same bytes.
#pragma once

#include <memory>
#include <string>

#include "framework/manifest_values.h"
#include "manifest/number.h"
#include "platform/ini_lines.h"
#include "platform/profile_text.h"
#include "platform/win32.h"

namespace marvostell {

class CManifestReader final : public CManifestValues {
public:
    // The stored copy at `path`, read afresh at each call.
    explicit CManifestReader(std::string path) : m_strPath(std::move(path)) {}
    // The bytes themselves: what a check decides from once it has fetched
    // (and verified) them, whatever happens to the stored copy meanwhile.
    static CManifestReader Snapshot(const BYTE *bytes, DWORD size) {
        CManifestReader reader("");
        reader.m_pSnapshot = std::make_shared<const ini::CProfileText>(
            ini::FileText(std::string(reinterpret_cast<const char *>(bytes), size)));
        return reader;
    }

    using CManifestValues::Read;
    DWORD Read(const char *section, const char *key, const char *defaultValue, char *value,
               DWORD size) const override {
        if (m_pSnapshot) return m_pSnapshot->Read(section, key, defaultValue, value, size);
        return GetPrivateProfileStringA(section, key, defaultValue, value, size, m_strPath.c_str());
    }
    uint32_t Number(const char *section, const char *key) const override {
        char value[kValueBufferSize];
        Read(section, key, "0", value);
        return ParseManifestNumber(value);
    }
    // A value of up to `size` - 1 characters, for the few that may be longer
    // than the others.
    std::string LongValue(const char *section, const char *key, DWORD size) const {
        std::string value(size, '\0');
        value.resize(Read(section, key, "", &value[0], size));
        return value;
    }

private:
    std::string m_strPath;
    std::shared_ptr<const ini::CProfileText> m_pSnapshot;
};

}  // namespace marvostell
