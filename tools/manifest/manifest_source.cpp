#include "manifest_source.h"

#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "findings.h"
#include "platform/error_names.h"
#include "reader_text.h"
#include "tool_request.h"

namespace marvostell::tools {
namespace {

bool WriteFileText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out.flush());
}

std::string FetchErrorText(const StepResult &failure) {
    const std::string code = std::to_string(failure.code);
    switch (failure.stage) {
    case Stage::kManifestUrl: return StageText(Stage::kManifestUrl);
    case Stage::kManifestFile: return "cannot write the local copy (error " + code + ")";
    case Stage::kManifestRequest:
        if (failure.code == 401 || failure.code == 407)
            return "the server asks for authentication (" + code + ")";
        return "cannot fetch the manifest: " + InternetErrorText(failure.code);
    default: return "cannot fetch the manifest: the request failed without an error code";
    }
}

}  // namespace

bool IsUrl(const std::string &text) { return text.find("://") != std::string::npos; }

bool IsRegularFile(const std::string &path) {
#ifdef _WIN32
    struct _stat64 info;  // 64-bit sizes: _stat fails on files over 2 GiB
    return _stat64(path.c_str(), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

bool ReadFileText(const std::string &path, std::string &text) {
    if (!IsRegularFile(path)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char chunk[8192];
    while (text.size() < kMaxFullBytes && in.read(chunk, sizeof chunk).gcount() > 0)
        text.append(chunk, static_cast<size_t>(in.gcount()));
    return !in.bad();
}

bool StatusFinding(const ManifestSource &source, Findings &findings) {
    if (!source.isUrl || source.status == 0 || source.status == 200) return false;
    findings.Error(0, "manifest-status",
                   "the server answers " + std::to_string(source.status) + " for " + source.object +
                       ": no manifest there to check (hosts get no package from an error page)");
    return true;
}

bool ManifestFromText(const std::string &name, const std::string &text, const WorkDir &dir,
                      ManifestSource &out, std::string &error) {
    out = ManifestSource();
    out.name = name;
    out.iniPath = dir.File(kLocalManifestName);
    out.fullText = text;
    out.fullKnown = true;
    out.hostText = text.substr(0, kManifestLimit);
    out.readerText = ReaderText(out.hostText);
    if (WriteFileText(out.iniPath, out.hostText)) return true;
    error = "cannot write " + out.iniPath;
    return false;
}

bool LoadManifest(const std::string &source, const WorkDir &dir, ManifestSource &out,
                  std::string &error) {
    out = ManifestSource();
    out.name = source;
    out.isUrl = IsUrl(source);
    out.iniPath = dir.File(kLocalManifestName);
    if (!out.isUrl) {
        std::string text;
        if (!ReadFileText(source, text)) {
            error = "cannot read " + source;
            return false;
        }
        return ManifestFromText(source, text, dir, out, error);
    }

    StepResult step = ParseServerUrl(source.c_str(), out.server, out.object);
    if (step.Ok()) {
        std::unique_ptr<BYTE[]> buffer(new BYTE[kManifestLimit]);
        step = FetchManifest(out.server, out.object, out.iniPath.c_str(), buffer.get());
    }
    if (!step.Ok()) {
        error = FetchErrorText(step);
        return false;
    }
    if (!ReadFileText(out.iniPath, out.hostText)) {
        error = "cannot read the fetched copy " + out.iniPath;
        return false;
    }
    out.readerText = ReaderText(out.hostText);
    // The module reads one piece; a second request shows what lies past it.
    const HttpGetResult whole =
        GetBody(out.server, out.object, -1, [&](const unsigned char *data, uint32_t count) {
            out.fullText.append(reinterpret_cast<const char *>(data), count);
            return out.fullText.size() < kMaxFullBytes;
        });
    if (whole.Answered()) out.status = whole.status;
    out.fullKnown = whole.Answered() && whole.error == 0 &&
                    out.fullText.compare(0, out.hostText.size(), out.hostText) == 0;
    if (!out.fullKnown) out.fullText = out.hostText;
    return true;
}

}  // namespace marvostell::tools
