#include "verify_delta.h"

#include <cstdio>

#include "framework/files.h"
#include "commands.h"
#include "line_index.h"
#include "manifest/manifest_reader.h"
#include "package/delta_entry.h"
#include "package/digest.h"
#include "package/package_entry.h"
#include "package/packed_inflate.h"
#include "package/patch_apply.h"
#include "package_file.h"
#include "platform/crypto.h"
#include "platform/error_names.h"
#include "text.h"
#include "tool_request.h"
#include "work_dir.h"

namespace marvostell::tools {
namespace {

std::string Sha256Of(crypto::CSha256 &sha) {
    uint8_t sum[crypto::kSha256Bytes];
    return sha.Finish(sum) ? Lower(DigestHex(sum, sizeof sum)) : "";
}

// What the module writes, digested as it goes.
struct Tap {
    CMd5Hex md5;
    crypto::CSha256 sha256;
    uint64_t size = 0;
    static void Written(void *context, const BYTE *data, DWORD count) {
        Tap &self = *static_cast<Tap *>(context);
        self.md5.Add(data, count);
        self.sha256.Add(data, count);
        self.size += count;
    }
};

class DeltaVerifier {
public:
    DeltaVerifier(const ManifestSource &source, const std::string &package, const std::string &baseDir,
                  unsigned stallSeconds, Findings &findings)
        : m_source(source), m_index(source.readerText), m_package(package), m_baseDir(baseDir),
          m_stallSeconds(stallSeconds), m_findings(findings),
          m_entry(ReadPackageEntry(CManifestReader(source.iniPath), package.c_str())) {}

    std::vector<DeltaVerified> Run();

private:
    // Fetches the file into the work directory; false after a finding.
    bool Fetch(const ServedFile &file, int line, DeltaVerified &out);
    // Applies or inflates the fetched file and holds the result to the package.
    void Make(const PatchEntry *patch, int line, DeltaVerified &out);
    void Fault(int line, const std::string &code, DeltaVerified &out, const std::string &why) {
        out.outcome = why;
        m_findings.Error(line, code, "[" + (out.section.empty() ? m_package : out.section) + "]: " + why);
    }

    const ManifestSource &m_source;
    LineIndex m_index;
    std::string m_package, m_baseDir;
    unsigned m_stallSeconds;
    Findings &m_findings;
    PackageEntry m_entry;
    WorkDir m_dir;
};

bool DeltaVerifier::Fetch(const ServedFile &file, int line, DeltaVerified &out) {
    std::string error;
    const std::string local = m_dir.File("download");
    std::FILE *stream = std::fopen(local.c_str(), "wb");
    if (!stream) {
        Fault(line, "verify-delta-file", out, "cannot write " + local);
        return false;
    }
    crypto::CSha256 sha;
    uint64_t received = 0;
    bool written = true;
    const HttpGetResult answer = GetBody(m_source.server, file.path, -1, [&](const unsigned char *data, uint32_t n) {
        received += n;
        sha.Add(data, n);
        written = written && std::fwrite(data, 1, n, stream) == n;
        return received <= file.size && written;
    }, m_stallSeconds);
    written = std::fclose(stream) == 0 && written;
    if (!answer.Answered() || answer.stalled) {
        Fault(line, "verify-request", out,
              "cannot fetch " + file.path + ": " + (answer.stalled ? "stalled" : InternetErrorText(answer.error)));
        return false;
    }
    if (answer.status != 200) {
        Fault(line, "verify-status", out, "the server answers " + std::to_string(answer.status) + " for " + file.path);
        return false;
    }
    if (!written) {
        Fault(line, "verify-delta-file", out, "cannot write " + local);
        return false;
    }
    if (received != file.size) {
        Fault(line, "verify-size", out, file.path + " is " + (received > file.size ? "over " : "") +
                                            std::to_string(received) + " bytes; the manifest says " +
                                            std::to_string(file.size) + ": hosts fetch the whole package instead");
        return false;
    }
    const std::string sha256 = Sha256Of(sha);
    if (sha256 != Lower(file.sha256)) {
        Fault(line, "verify-sha256", out, file.path + "'s SHA-256 is " + sha256 + "; the manifest says " + file.sha256 +
                                              ": hosts fetch the whole package instead");
        return false;
    }
    return true;
}

void DeltaVerifier::Make(const PatchEntry *patch, int line, DeltaVerified &out) {
    CFileHandle base;
    if (patch) {
        out.base = m_baseDir + "/" + patch->from;
        PackageFile file;
        std::string error;
        if (ReadPackageFile(out.base, file, error) == kExitOk &&
            (file.size != patch->fromSize || file.sha256 != Lower(patch->fromSha256))) {
            out.outcome = "fetched and checked; not applied: " + out.base +
                          " is not the base FromSize and FromSha256 name";
            m_findings.Warning(line, "verify-patch-base", "[" + out.section + "]: " + out.outcome);
            out.base.clear();
            return;
        }
        base.Reset(CreateFileA(out.base.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!base.IsOpen()) {
            out.outcome = "fetched and checked; not applied: no " + patch->from + " in " + m_baseDir;
            m_findings.Warning(line, "verify-patch-base", "[" + out.section + "]: " + out.outcome);
            out.base.clear();
            return;
        }
    }
    CFileHandle in(CreateFileA(m_dir.File("download").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    DeleteFileA(m_dir.File("result").c_str());
    CFileHandle result(CreateFileA(m_dir.File("result").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.IsOpen() || !result.IsOpen()) {
        Fault(line, "verify-delta-file", out, "cannot use files in " + m_dir.Path());
        return;
    }
    Tap tap;
    DeltaControl control;
    control.written = Tap::Written;
    control.context = &tap;
    const DeltaResult made = patch ? ApplyPatch(base.Get(), in.Get(), result.Get(), m_entry.size, control)
                                   : InflatePacked(in.Get(), result.Get(), m_entry.size, control);
    const std::string did = patch ? "applied to " + out.base : "inflated";
    if (!made.Ok()) {
        const bool wrongBase = made.fault == DeltaFault::kBaseSize || made.fault == DeltaFault::kBaseRead;
        Fault(line, wrongBase ? "verify-patch-base" : "verify-delta-apply", out,
              std::string(patch ? "applying it to " + out.base : "inflating it") + " fails: " +
                  DeltaFaultText(made.fault) + ": hosts fetch the whole package instead");
        return;
    }
    const std::string md5 = tap.md5.Finish(), sha256 = Sha256Of(tap.sha256);
    std::string wrong;
    if (tap.size != m_entry.size) wrong = "its size is " + std::to_string(tap.size);
    else if (md5 != m_entry.md5) wrong = "its MD5 is " + md5;
    else if (!m_entry.sha256.empty() && sha256 != Lower(m_entry.sha256)) wrong = "its SHA-256 is " + sha256;
    if (!wrong.empty()) {
        Fault(line, "verify-delta-result", out,
              did + ", the result is not the package (" + wrong + "): hosts fetch the whole package instead");
        return;
    }
    out.outcome = did + ": the result is the package";
    out.good = true;
}

std::vector<DeltaVerified> DeltaVerifier::Run() {
    std::vector<DeltaVerified> done;
    if (m_entry.fault != EntryFault::kNone) return done;
    const DeltaOffer offer = ReadDeltaOffer(CManifestReader(m_source.iniPath), m_package.c_str(), m_entry.localName);
    if (offer.patches.empty() && !offer.packed) return done;
    std::string error;
    if (!m_dir.Create(error)) {
        m_findings.Error(0, "verify-delta-file", error);
        return done;
    }
    for (const PatchEntry &patch : offer.patches) {
        DeltaVerified out{m_package, "patch", patch.section, patch.patch.path, "", "", false};
        const int line = m_index.KeyLine(patch.section, "Patch");
        if (Fetch(patch.patch, line, out)) {
            if (m_baseDir.empty()) out.outcome = "fetched and checked; not applied (no --base-dir)";
            else Make(&patch, line, out);
        }
        done.push_back(out);
    }
    if (offer.packed) {
        DeltaVerified out{m_package, "packed", "", offer.packedFile.path, "", "", false};
        const int line = m_index.KeyLine(m_package, "Packed");
        if (Fetch(offer.packedFile, line, out)) Make(nullptr, line, out);
        done.push_back(out);
    }
    return done;
}

}  // namespace

std::vector<DeltaVerified> VerifyDeltas(const ManifestSource &source, const std::string &package,
                                        const std::string &baseDir, unsigned stallSeconds, Findings &findings) {
    return DeltaVerifier(source, package, baseDir, stallSeconds, findings).Run();
}

}  // namespace marvostell::tools
