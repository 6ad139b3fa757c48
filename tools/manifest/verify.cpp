// verify: the manifest as hosts fetch it, then each package that some host
// version can select, fetched whole and by a byte range from the same server.
#include <cstdio>
#include <filesystem>
#include <set>

#include "commands.h"
#include "lint.h"
#include "options.h"
#include "package/digest.h"
#include "package/package_entry.h"
#include "platform/crypto.h"
#include "platform/error_names.h"
#include "selection_explain.h"
#include "text.h"
#include "tool_request.h"
#include "usage.h"
#include "verify_delta.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace marvostell::tools {
namespace {

// Progress is drawn for transfers at least this long, when stderr is a terminal.
constexpr uint32_t kLongTransfer = 1 << 20;
// Reading stops this far past the length expected: a server may send on for ever.
constexpr uint64_t kOverrun = 64 * 1024;

struct PackageCheck {
    std::string name, path, expectedMd5, md5, ranges = "untested";
    std::string expectedSha256, sha256;  // sha256 empty when not computed
    std::string note;  // why it was not fetched, or did not arrive
    bool overrun = false;  // more than expectedSize + kOverrun came
    uint32_t expectedSize = 0;
    uint32_t status = 0;
    uint64_t size = 0;
};

class Verifier {
public:
    Verifier(const ManifestSource &source, bool progress, unsigned stallSeconds, Findings &findings)
        : m_source(source), m_index(source.readerText), m_progress(progress), m_stallSeconds(stallSeconds),
          m_findings(findings) {}

    void Check(const std::string &name, PackageCheck &check);

private:
    void CheckRanges(PackageCheck &check, const std::string &tailMd5, int line);
    // A stalled GET, as a finding; false when it was not one.
    bool Stalled(const HttpGetResult &answer, const std::string &name, const std::string &what,
                 uint64_t received, int line);

    const ManifestSource &m_source;
    LineIndex m_index;
    bool m_progress;
    unsigned m_stallSeconds;
    Findings &m_findings;
};

void Verifier::Check(const std::string &name, PackageCheck &check) {
    check.name = name;
    // The entry as hosts read it: the path they request, the size and digest
    // they hold the file to.
    const PackageEntry entry = ReadPackageEntry(CManifestReader(m_source.iniPath), name.c_str());
    check.path = entry.path;
    const int line = m_index.KeyLine(name, "Package");
    const uint32_t size = entry.size;
    check.expectedSize = size;
    check.expectedMd5 = entry.md5;
    check.expectedSha256 = entry.sha256;
    if (entry.fault != EntryFault::kNone) {
        check.note = "not fetched: hosts refuse its entry (error 5)";
        return;  // lint has reported why
    }

    const uint32_t half = size / 2;
    CMd5Hex whole, tail;
    crypto::CSha256 sha256;
    uint64_t received = 0;
    unsigned lastPercent = 101;
    const bool draw = m_progress && size >= kLongTransfer;
    const HttpGetResult answer = GetBody(m_source.server, check.path, -1,
                                         [&](const unsigned char *data, uint32_t count) {
        if (received + count > size + kOverrun) {
            check.overrun = true;
            return false;
        }
        whole.Add(data, count);
        sha256.Add(data, count);
        // The bytes from `half` on, for the byte-range check.
        const uint64_t from = received < half ? half - received : 0;
        if (from < count) tail.Add(data + from, count - from);
        received += count;
        const unsigned percent = static_cast<unsigned>(received * 100 / size);
        if (draw && percent != lastPercent) {
            std::fprintf(stderr, "\r%s: %3u%% (%llu of %u bytes)", name.c_str(), percent,
                         static_cast<unsigned long long>(received), static_cast<unsigned>(size));
            std::fflush(stderr);
            lastPercent = percent;
        }
        return true;
    }, m_stallSeconds);
    if (draw) std::fputc('\n', stderr);
    check.status = answer.status;
    check.size = received;
    if (Stalled(answer, name, "the request for " + check.path, received, line)) {
        check.note = "stalled";
        return;
    }
    if (!answer.Answered()) {
        m_findings.Error(line, "verify-request", "[" + name + "]: cannot request " + check.path + ": " +
                                                     InternetErrorText(answer.error));
        check.note = "no answer";
        return;
    }
    check.md5 = whole.Finish();
    uint8_t sum[crypto::kSha256Bytes];
    if (sha256.Finish(sum)) check.sha256 = Lower(DigestHex(sum, sizeof sum));
    if (answer.status != 200) {
        m_findings.Error(line, "verify-status", "[" + name + "]: the server answers " +
                                                    std::to_string(answer.status) + " for " + check.path);
        return;
    }
    if (answer.error)
        m_findings.Error(line, "verify-broken", "[" + name + "]: the transfer broke off: " +
                                                    InternetErrorText(answer.error));
    if (check.overrun)
        m_findings.Error(m_index.KeyLine(name, "PackageSize"), "verify-size",
                         "[" + name + "]: the server sends more than PackageSize (" + std::to_string(size) +
                             " bytes): verify stopped reading after " + std::to_string(received));
    else if (received < size && !answer.error)
        m_findings.Error(m_index.KeyLine(name, "PackageSize"), "verify-size",
                         "[" + name + "]: the file is " + std::to_string(received) + " bytes; PackageSize says " +
                             std::to_string(size) + ": CheckNewVersion hosts get it (result 1 when its digest "
                             "matches) but ask again for the bytes past its end at every later check; "
                             "CheckNewVersionEx hosts never get it (the transfer ends early)");
    else if (received != size)
        m_findings.Error(m_index.KeyLine(name, "PackageSize"), "verify-size",
                         "[" + name + "]: the server sends " + std::to_string(received) +
                             " bytes; PackageSize says " + std::to_string(size));
    if (check.md5 != check.expectedMd5) {
        const bool caseOnly = Lower(check.md5) == Lower(check.expectedMd5);
        m_findings.Error(m_index.KeyLine(name, "Md5"), "verify-md5",
                         "[" + name + "]: the file's MD5 is " + check.md5 + "; Md5 says " +
                             check.expectedMd5 + (caseOnly ? " (it must be in upper case)" : ""));
    }
    if (!check.expectedSha256.empty()) {
        if (check.sha256.empty())
            m_findings.Warning(m_index.KeyLine(name, "Sha256"), "verify-sha256-unchecked",
                               "[" + name + "]: the platform's SHA-256 could not be loaded: Sha256 not checked");
        else if (check.sha256 != Lower(check.expectedSha256))
            m_findings.Error(m_index.KeyLine(name, "Sha256"), "verify-sha256",
                             "[" + name + "]: the file's SHA-256 is " + check.sha256 + "; Sha256 says " +
                                 check.expectedSha256);
    }
    if (received == size && size >= 2 && !answer.error) CheckRanges(check, tail.Finish(), line);
}

bool Verifier::Stalled(const HttpGetResult &answer, const std::string &name, const std::string &what,
                       uint64_t received, int line) {
    if (!answer.stalled) return false;
    m_findings.Error(line, "verify-stalled",
                     "[" + name + "]: " + what + " stalled after " + std::to_string(received) +
                         " bytes: less than " + std::to_string(kPieceBytes) + " bytes in " +
                         std::to_string(m_stallSeconds) + " s (the limit; --stall sets it)");
    return true;
}

void Verifier::CheckRanges(PackageCheck &check, const std::string &tailMd5, int line) {
    const uint32_t half = check.expectedSize / 2;
    CMd5Hex md5;
    uint64_t received = 0;
    const HttpGetResult answer = GetBody(m_source.server, check.path, half,
                                         [&](const unsigned char *data, uint32_t count) {
        received += count;
        md5.Add(data, count);
        return received <= check.expectedSize + kOverrun;
    }, m_stallSeconds);
    if (Stalled(answer, check.name, "the byte-range request", received, line)) {
        check.ranges = "stalled";
        return;
    }
    const bool answered = answer.Answered();
    if (answered && answer.status == 206 && !answer.error &&
        answer.bodyBytes == check.expectedSize - half && md5.Finish() == tailMd5) {
        check.ranges = "honoured";
    } else if (answered && answer.status == 200) {
        check.ranges = "ignored";
        m_findings.Warning(line, "verify-ranges",
                           "[" + check.name + "]: the server ignores byte ranges (200 and the whole "
                           "file): a host that was interrupted cannot resume, and its next check fails "
                           "the digest once before it downloads anew");
    } else if (answered && answer.status == 206) {
        check.ranges = "wrong";
        m_findings.Error(line, "verify-range-content",
                         "[" + check.name + "]: the server's 206 answer to \"Range: bytes=" +
                             std::to_string(half) + "-\" is not the file's tail: resumed downloads "
                             "fail their digest check");
    } else {
        check.ranges = "failed";
        m_findings.Warning(line, "verify-ranges",
                           "[" + check.name + "]: a byte-range request " +
                               (answered ? "gets status " + std::to_string(answer.status)
                                                : "fails: " + InternetErrorText(answer.error)) +
                               ": hosts cannot resume");
    }
}

}  // namespace

int RunVerify(const Arguments &args) {
    Options options;
    std::string error;
    if (!ParseOptions(args, {"--trusted-key", "--stall", "--base-dir"}, {"--json", "--strict", "--progress", "--no-progress"},
                      options, error) ||
        options.positional.size() != 1 || !IsUrl(options.positional[0])) {
        if (!options.help) {
            std::fprintf(stderr, "marvostell-manifest verify: %s\n",
                         !error.empty() ? error.c_str() : "one http URL, please");
            std::fputs(UsageText("verify"), stderr);
            return kExitUsage;
        }
    }
    if (options.help) {
        std::fputs(UsageText("verify"), stdout);
        return kExitOk;
    }
    uint32_t stallSeconds = kDefaultStallSeconds;
    const std::string *stallText = options.Value("--stall");
    if (stallText && (!ParseWholeNumber(*stallText, stallSeconds) || stallSeconds == 0 || stallSeconds > 86400)) {
        std::fprintf(stderr, "marvostell-manifest verify: --stall %s is not a number of seconds from 1 to 86400\n",
                     stallText->c_str());
        std::fputs(UsageText("verify"), stderr);
        return kExitUsage;
    }
    LintRules rules;
    if (!TrustedKeyOptions(options, rules.keys, error)) {
        std::fprintf(stderr, "marvostell-manifest verify: %s\n", error.c_str());
        std::fputs(UsageText("verify"), stderr);
        return kExitUsage;
    }
    WorkDir dir;
    if (!dir.Create(error)) {
        std::fprintf(stderr, "marvostell-manifest verify: %s\n", error.c_str());
        return kExitUsage;
    }
    ManifestSource source;
    if (!LoadManifest(options.positional[0], dir, source, error)) {
        std::fprintf(stderr, "marvostell-manifest verify: %s\n", error.c_str());
        return kExitUsage;
    }
    const bool json = options.Has("--json");

    Findings findings;
    const bool errorPage = StatusFinding(source, findings);
    if (!errorPage) findings = LintManifest(source, rules);
    bool progress = isatty(fileno(stderr)) != 0;
    if (options.Has("--progress")) progress = true;
    if (options.Has("--no-progress")) progress = false;

    // What hosts in no rollout and hosts in every rollout can get.
    std::set<std::string> reached;
    for (const StagedWalk *walk : {static_cast<const StagedWalk *>(nullptr), &kEveryRollout}) {
        if (errorPage) break;
        for (const VersionRange &range : MapSelection(source.iniPath, 0, walk))
            if (range.hasSelection) reached.insert(range.selected);
    }
    std::error_code code;
    const std::string baseDir = options.Value("--base-dir") ? *options.Value("--base-dir") : "";
    if (!baseDir.empty() && !std::filesystem::is_directory(baseDir, code)) {
        std::fprintf(stderr, "marvostell-manifest verify: --base-dir %s is no folder\n", baseDir.c_str());
        return kExitUsage;
    }
    std::vector<PackageCheck> checks;
    std::vector<DeltaVerified> deltas;
    Verifier verifier(source, progress, stallSeconds, findings);
    // In list order: the core's walk for a host above every version.
    for (const PackageExplanation &p : ExplainSelection(source.iniPath, 0xFFFFFFFFu, 0, &kEveryRollout).packages) {
        if (!reached.erase(p.name)) continue;
        checks.emplace_back();
        PackageCheck &c = checks.back();
        verifier.Check(p.name, c);
        const std::vector<DeltaVerified> smaller = VerifyDeltas(source, p.name, baseDir, stallSeconds, findings);
        deltas.insert(deltas.end(), smaller.begin(), smaller.end());
        if (json) continue;
        if (!c.note.empty())
            std::printf("package %s: %s: %s\n", c.name.c_str(), c.path.c_str(), c.note.c_str());
        else
            std::printf("package %s: %s: status %u, %llu bytes, MD5 %s, SHA-256 %s, byte ranges %s\n",
                        c.name.c_str(), c.path.c_str(), static_cast<unsigned>(c.status),
                        static_cast<unsigned long long>(c.size), c.md5.c_str(), c.sha256.c_str(),
                        c.ranges.c_str());
        for (const DeltaVerified &d : smaller)
            std::printf("  %s%s: %s: %s\n", d.kind.c_str(), d.section.empty() ? "" : (" [" + d.section + "]").c_str(),
                        d.path.c_str(), d.outcome.c_str());
    }
    findings.Sort();
    if (json) {
        std::string packages;
        for (const PackageCheck &c : checks)
            packages += (packages.empty() ? "" : ",") + std::string("{\"name\":") + JsonString(c.name) +
                        ",\"package\":" + JsonString(c.path) + ",\"status\":" + std::to_string(c.status) +
                        ",\"size\":" + std::to_string(c.size) + ",\"expected_size\":" +
                        std::to_string(c.expectedSize) + ",\"md5\":" + JsonString(c.md5) +
                        ",\"expected_md5\":" + JsonString(c.expectedMd5) + ",\"sha256\":" +
                        JsonString(c.sha256) + ",\"expected_sha256\":" + JsonString(c.expectedSha256) +
                        ",\"ranges\":" +
                        JsonString(c.ranges) + "}";
        std::string smaller;
        for (const DeltaVerified &d : deltas)
            smaller += (smaller.empty() ? "" : ",") + std::string("{\"package\":") + JsonString(d.package) +
                       ",\"kind\":" + JsonString(d.kind) + ",\"section\":" +
                       (d.section.empty() ? "null" : JsonString(d.section)) + ",\"path\":" + JsonString(d.path) +
                       ",\"base\":" + (d.base.empty() ? "null" : JsonString(d.base)) +
                       ",\"good\":" + (d.good ? "true" : "false") + ",\"outcome\":" + JsonString(d.outcome) + "}";
        std::printf("{\"manifest\":%s,\"errors\":%d,\"warnings\":%d,\"findings\":%s,\"packages\":[%s],"
                    "\"deltas\":[%s]}\n",
                    JsonString(source.name).c_str(), findings.Count(Severity::kError),
                    findings.Count(Severity::kWarning), FindingsJson(findings).c_str(), packages.c_str(),
                    smaller.c_str());
    } else {
        PrintFindingsText(stdout, source.name, findings);
    }
    return findings.Failed(options.Has("--strict")) ? kExitFindings : kExitOk;
}

}  // namespace marvostell::tools
