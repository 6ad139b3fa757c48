#include "package/digest.h"

#include <memory>

#include "platform/crypto.h"

namespace marvostell {
namespace {

// Pieces are small enough that a stop is seen within milliseconds.
constexpr DWORD kDigestReadSize = 8192;

StepResult FileFailure(DWORD error) {
    return StepResult::Failure(Stage::kPackageFile, error ? error : ERROR_READ_FAULT);
}

}  // namespace

std::string DigestHex(const uint8_t *bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

std::string CMd5Hex::Finish() {
    uint8_t digest[16];
    Md5Finish(m_context, digest);
    Md5Start(m_context);
    return DigestHex(digest, sizeof digest);
}

StepResult ReadFileDigests(HANDLE file, BYTE *buffer, DWORD bufferSize, bool withSha256,
                           CCallGuard *guard, FileDigests &digests) {
    const DWORD readSize = bufferSize < kDigestReadSize ? bufferSize : kDigestReadSize;
    SetLastError(ERROR_SUCCESS);
    DWORD remaining = GetFileSize(file, nullptr);
    if (remaining == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        return FileFailure(GetLastError());
    CMd5Hex md5;
    const std::unique_ptr<crypto::CSha256> sha(withSha256 ? new crypto::CSha256 : nullptr);
    while (remaining != 0) {
        const StopReason stop = guard ? guard->Check() : StopReason::kNone;
        if (stop != StopReason::kNone) return StoppedFailure(stop);
        DWORD count = 0;
        if (!ReadFile(file, buffer, remaining < readSize ? remaining : readSize, &count, nullptr))
            return FileFailure(GetLastError());
        if (count == 0) return FileFailure(ERROR_HANDLE_EOF);
        md5.Add(buffer, count);
        if (sha && !sha->Add(buffer, count)) return StepResult::Failure(Stage::kUnexpected, 0);
        remaining -= count;
    }
    digests.md5 = md5.Finish();
    if (sha) {
        uint8_t sum[crypto::kSha256Bytes];
        if (!sha->Finish(sum)) return StepResult::Failure(Stage::kUnexpected, 0);
        digests.sha256 = DigestHex(sum, sizeof sum);
    }
    return StepResult::Success();
}

}  // namespace marvostell
