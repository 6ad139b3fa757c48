#include "package/package_step.h"

#include <cctype>
#include <vector>

#include "framework/files.h"
#include "framework/trace.h"
#include "package/digest.h"
#include "package/package_entry.h"
#include "package/transfer.h"
#include "platform/crypto.h"

namespace marvostell {
namespace {

constexpr DWORD kDigestReadSize = 8192;
// Pieces of the signed check's read: few hand-overs between the two threads.
constexpr DWORD kAlongsidePiece = 256 * 1024;

void Tell(CCheckObserver *observer, const PackageEvent &event) {
    if (observer) observer->OnPackageEvent(event);
}

struct FileDigests {
    std::string md5;
    std::string sha256;  // only when asked for; empty when it could not be computed
};

// The MD5 of an open file from its start, read once in pieces through
// `buffer`.
FileDigests ReadMd5(HANDLE file, BYTE *buffer, DWORD bufferSize) {
    const DWORD readSize = bufferSize < kDigestReadSize ? bufferSize : kDigestReadSize;
    DWORD remaining = GetFileSize(file, nullptr);
    CMd5Hex md5;
    while (remaining != 0) {
        DWORD count = 0;
        ReadFile(file, buffer, remaining < readSize ? remaining : readSize, &count, nullptr);
        if (count == 0) break;
        md5.Add(buffer, count);
        remaining -= count;
    }
    return FileDigests{md5.Finish(), ""};
}

// Both digests in one read: MD5 here, SHA-256 beside it on the other core,
// in large pieces that alternate between two buffers.
FileDigests ReadBothDigests(HANDLE file) {
    std::vector<uint8_t> pieces[2] = {std::vector<uint8_t>(kAlongsidePiece),
                                      std::vector<uint8_t>(kAlongsidePiece)};
    DWORD remaining = GetFileSize(file, nullptr);
    CMd5Hex md5;
    CSha256Alongside sha;
    for (int which = 0; remaining != 0; which ^= 1) {
        uint8_t *piece = pieces[which].data();
        DWORD count = 0;
        ReadFile(file, piece, remaining < kAlongsidePiece ? remaining : kAlongsidePiece, &count,
                 nullptr);
        if (count == 0) break;
        sha.Add(piece, count);
        md5.Add(piece, count);
        remaining -= count;
    }
    return FileDigests{md5.Finish(), sha.FinishHex()};
}

FileDigests ReadDigests(HANDLE file, BYTE *buffer, DWORD bufferSize, bool withSha256) {
    return withSha256 ? ReadBothDigests(file) : ReadMd5(file, buffer, bufferSize);
}

bool SameHex(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Whether the MD5 of the open file, read from its start, is `expected`
// exactly, and its SHA-256 `sha256` (in either case) when that is given.
bool DigestMatches(HANDLE file, const char *localPath, const std::string &expected, BYTE *buffer,
                   DWORD bufferSize, CCheckObserver *observer, const std::string &sha256) {
    const FileDigests actual = ReadDigests(file, buffer, bufferSize, !sha256.empty());
    Trace("Marvostell!Md5:%s, Server:%s\n", actual.md5.c_str(), expected.c_str());
    PackageEvent event{PackageEvent::kDigest};
    event.localPath = localPath;
    event.computed = actual.md5.c_str();
    event.expected = expected.c_str();
    event.computedSha256 = actual.sha256.c_str();
    event.expectedSha256 = sha256.c_str();
    event.passed = actual.md5 == expected && (sha256.empty() || SameHex(actual.sha256, sha256));
    Tell(observer, event);
    return event.passed;
}

// The package is read for its digest without read or write sharing, so no
// transfer can change it meanwhile, but with delete sharing, so that a file
// that fails can be moved aside before the handle is let go. The file moved
// is then always the one that was read, never a verified package that
// another check put in its place.
HANDLE OpenForDigest(const char *localPath) {
    return OpenLocalFile(localPath, GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING);
}

// The bytes a transfer asks for: those past the local file's end.
uint32_t MissingBytes(const std::string &localPath, uint32_t size) {
    uint32_t have = 0;
    if (!GetFileStatusSize(localPath.c_str(), have)) have = 0;
    return have < size ? size - have : 0;
}

// Check only: a package already complete and verified is ready; anything else
// is left as it is, and the package is on offer.
StepResult CheckWithoutRequest(const PackageStepRequest &request, const PackageEntry &entry,
                               const std::string &localPath, PackageStepReport &report) {
    uint32_t size = 0;
    const bool found = FindFileByName(localPath.c_str()) && GetFileStatusSize(localPath.c_str(), size);
    // A whole file that fails its digest is fetched again from its start.
    report.downloadSize = found && size < entry.size ? entry.size - size : entry.size;
    if (found && size >= entry.size &&
        VerifyMd5(localPath.c_str(), entry.md5, request.buffer, request.bufferSize,
                  request.observer, request.sha256Required ? entry.sha256 : std::string())) {
        report.pathForHost = localPath;
        report.downloadSize = 0;
        return StepResult::Success();
    }
    report.available = true;
    return StepResult::Success();
}

}  // namespace

StepResult FetchPackage(const PackageStepRequest &request, PackageStepReport &report) {
    std::string &pathForHost = report.pathForHost;
    const PackageEntry entry =
        ReadPackageEntry(request.manifest, request.section.c_str(), request.sha256Required);
    report.size = entry.size;
    if (entry.fault != EntryFault::kNone) return StepResult::Failure(Stage::kPackageEntry, 0);
    const std::string localPath = request.localDir + kPathSeparator + entry.localName;
    Trace("Marvostell!Download(%s->%s, size %d)...\n", entry.path.c_str(), localPath.c_str(),
          static_cast<int>(entry.size));
    PackageEvent described{PackageEvent::kEntry};
    described.section = request.section.c_str();
    described.path = entry.path.c_str();
    described.localPath = localPath.c_str();
    described.size = entry.size;
    Tell(request.observer, described);
    if (request.checkOnly) return CheckWithoutRequest(request, entry, localPath, report);

    const TransferRequest transfer{request.server,    entry.path,        localPath,
                                   entry.size,        request.notifyWnd, request.notifyMsg,
                                   request.buffer,    request.observer,  request.control,
                                   request.strict};
    const bool existedBefore = FindFileByName(localPath.c_str());
    const std::string rejectedPath = localPath + ".err";
    StepResult result = StepResult::Failure(Stage::kUnexpected, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool complete = false;
        report.downloadSize += MissingBytes(localPath, entry.size);
        const StepResult transferred = TransferPackage(transfer, complete);
        if (!transferred.Ok()) {
            if (request.strict) return transferred;
            result = transferred;
            continue;
        }
        CFileHandle file(OpenForDigest(localPath.c_str()));
        if (!file.IsOpen()) {
            // Held by another opener (another check verifying or fetching
            // it), or gone: not a mismatch, and not this call's to move.
            return StepResult::Failure(Stage::kPackageFile, GetLastError());
        }
        if (DigestMatches(file.Get(), localPath.c_str(), entry.md5, request.buffer,
                          request.bufferSize, request.observer,
                          request.sha256Required ? entry.sha256 : std::string())) {
            pathForHost = localPath;
            return StepResult::Success();
        }
        DeleteFileA(rejectedPath.c_str());
        if (MoveFileA(localPath.c_str(), rejectedPath.c_str())) {
            PackageEvent moved{PackageEvent::kMovedAside};
            moved.localPath = localPath.c_str();
            moved.movedTo = rejectedPath.c_str();
            Tell(request.observer, moved);
        } else {
            // Left in place, the same bad file would fail every later call
            // without a new download: it goes, and the next call starts afresh.
            DeleteFileA(localPath.c_str());
        }
        file.Close();
        result = StepResult::Failure(Stage::kDigest, 0);
        if (!existedBefore) return result;
        pathForHost = localPath;
    }
    return result;
}

bool VerifyMd5(const char *localPath, const std::string &expected, BYTE *buffer, DWORD bufferSize,
               CCheckObserver *observer, const std::string &sha256) {
    CFileHandle file(OpenForDigest(localPath));
    return file.IsOpen() &&
           DigestMatches(file.Get(), localPath, expected, buffer, bufferSize, observer, sha256);
}

}  // namespace marvostell
