#include "manifest_source.h"

#include <fstream>
#include <iterator>

#include "entry/update_client.h"
#include "http_get.h"

namespace marvostell::tools {
namespace {

// Enough to see what lies past the host's cut; no manifest comes near it.
constexpr size_t kMaxFullBytes = 1 << 20;

bool ReadFileText(const std::string &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char chunk[8192];
    while (text.size() < kMaxFullBytes && in.read(chunk, sizeof chunk).gcount() > 0)
        text.append(chunk, static_cast<size_t>(in.gcount()));
    return !in.bad();
}

bool WriteFileText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out.flush());
}

std::string FetchErrorText(int32_t code) {
    if (code == kErrorBadUrl) return "bad URL: no \"/\" after the host name";
    if (code == 401 || code == 407) return "the server asks for authentication (" + std::to_string(code) + ")";
    if (static_cast<uint32_t>(code) & kLocalErrorFlag)
        return "cannot write the local copy (error " + std::to_string(code & 0x7FFFFFFF) + ")";
    return "cannot fetch the manifest: " + InternetErrorText(static_cast<uint32_t>(code));
}

}  // namespace

bool IsUrl(const std::string &text) { return text.find("://") != std::string::npos; }

bool LoadManifest(const std::string &source, const WorkDir &dir, ManifestSource &out,
                  std::string &error) {
    out = ManifestSource();
    out.name = source;
    out.isUrl = IsUrl(source);
    out.iniPath = dir.File("update.ini");
    if (!out.isUrl) {
        if (!ReadFileText(source, out.fullText)) {
            error = "cannot read " + source;
            return false;
        }
        out.fullKnown = true;
        out.hostText = out.fullText.substr(0, kHostManifestBytes);
        if (!WriteFileText(out.iniPath, out.hostText)) {
            error = "cannot write " + out.iniPath;
            return false;
        }
        return true;
    }

    CUpdateClient client;
    if (!client.PrepareManifest(source.c_str(), dir.Path().c_str())) {
        error = FetchErrorText(client.GetErrorCode());
        return false;
    }
    out.server = client.m_strServer;
    out.object = client.m_strObject;
    out.iniPath = client.m_strLocalIni;
    if (!ReadFileText(out.iniPath, out.hostText)) {
        error = "cannot read the fetched copy " + out.iniPath;
        return false;
    }
    // The module reads one piece; a second request shows what lies past it.
    const HttpAnswer whole = HttpGet(out.server, out.object, -1,
                                     [&](const unsigned char *data, uint32_t count) {
                                         out.fullText.append(reinterpret_cast<const char *>(data), count);
                                         return out.fullText.size() < kMaxFullBytes;
                                     });
    out.fullKnown = whole.answered && whole.error == 0 &&
                    out.fullText.compare(0, out.hostText.size(), out.hostText) == 0;
    if (!out.fullKnown) out.fullText = out.hostText;
    return true;
}

}  // namespace marvostell::tools
