#include "result_text.h"

#include <cstdio>

#include "marvostell.h"
#include "options.h"
#include "platform/error_names.h"
#include "platform/win32.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

std::string SystemErrorText(unsigned code) {
#ifdef _WIN32
    char text[512] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, text, sizeof text, nullptr)) {
        std::string message = text;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        return message;
    }
#else
    // The Win32 codes that the Linux library reports for local files.
    const char *message = marvostell::SystemErrorMessage(code);
    if (*message) return message;
#endif
    return "system error " + std::to_string(code);
}

namespace {

// A stage's failure with its own result, as "error <result>: <its text>".
NamedResult StageResult(marvostell::Stage stage, int exitStatus) {
    const int result = marvostell::ResultRuleOf(stage);
    return {result, exitStatus, "error " + std::to_string(result) + ": " + marvostell::StageText(stage)};
}

}  // namespace

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < 1024 * 1024) std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024);
    else std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024 * 1024));
    return text;
}

const NamedResult kNamedResults[] = {
    {MARVOSTELL_UP_TO_DATE, 0, "up to date: no newer package is offered"},
    {MARVOSTELL_UPDATED, 1, "downloaded and verified: "},
    StageResult(marvostell::Stage::kSockets, 3),
    StageResult(marvostell::Stage::kManifestUrl, 4),
    StageResult(marvostell::Stage::kPackageEntry, 5),
    StageResult(marvostell::Stage::kDigest, 6),
    StageResult(marvostell::Stage::kUnexpected, 10),
    {MARVOSTELL_AVAILABLE, 12, "available: a newer package is offered; nothing was downloaded"},
    StageResult(marvostell::Stage::kSignature, 15),
    StageResult(marvostell::Stage::kNotAManifest, 11),
    {MARVOSTELL_CANCELLED, kExitCancelled, "cancelled"},
    {MARVOSTELL_TIMED_OUT, 14, "error 1460: the deadline passed"},
};
const size_t kNamedResultCount = sizeof kNamedResults / sizeof kNamedResults[0];

namespace {

using marvostell::Stage;

// The statuses a server answers with; no Internet or system error that a
// request gives lies in this range.
bool IsHttpStatus(unsigned code) { return code >= 200 && code <= 599; }

// An Internet error by its name, or by its number where it has none here.
std::string InternetOrSystemText(unsigned code) {
    const char *name = marvostell::InternetErrorName(code);
    if (*name) return name;
    if (code >= 12000 && code < 12200) return "Internet error " + std::to_string(code);
    return SystemErrorText(code);
}

std::string Kept(uint64_t bytes) {
    return "; " + std::to_string(bytes) + " bytes kept for the next check";
}

ResultText DescribePackageRequest(unsigned code, uint64_t keptBytes) {
    const unsigned error = code & 0x7FFFFFFFu;
    const std::string head = "error " + Hex(code) + ": ";
    if (IsHttpStatus(error))
        return {13, head + "the server answered the package request with HTTP status " +
                        std::to_string(error) + Kept(keptBytes)};
    if (error == ERROR_INTERNET_CONNECTION_ABORTED)
        return {9, head + "the transfer ended early" + Kept(keptBytes)};
    if (error == ERROR_INTERNET_TIMEOUT)
        return {9, head + "the transfer stalled: nothing arrived for the stall time" +
                       Kept(keptBytes)};
    return {9, head + "the package request failed: " + InternetOrSystemText(error) + " (" +
                   std::to_string(error) + ")" + Kept(keptBytes)};
}

ResultText DescribeManifestRequest(int result) {
    const unsigned code = static_cast<unsigned>(result);
    const std::string head = "error " + std::to_string(result) + ": ";
    if (result == 401 || result == 407)
        return {7, head + "the server asks for authentication" + (result == 407 ? " (proxy)" : "")};
    if (IsHttpStatus(code))
        return {13, head + "the server answered the manifest request with HTTP status " +
                        std::to_string(result) + " (update.ini is left as it was)"};
    const char *internet = marvostell::InternetErrorName(code);
    if (*internet) return {9, head + "Internet error " + internet};
    return {9, head + InternetOrSystemText(code)};
}

}  // namespace

ResultText DescribeResult(int result, Stage stage, const ResultFacts &facts) {
    const unsigned code = static_cast<unsigned>(result);
    // A stage with a result of its own, or a stop (its two codes are named).
    const int32_t rule = marvostell::ResultRuleOf(stage);
    const bool namedStage =
        (rule != marvostell::kAsCode && rule != marvostell::kLocalCode) || stage == Stage::kStopped;
    if (namedStage) {
        for (const NamedResult &named : kNamedResults) {
            if (named.code != result) continue;
            std::string text = named.text;
            if (result == MARVOSTELL_UPDATED) text += facts.packagePath;
            if (stage == Stage::kStopped) text += Kept(facts.keptBytes);
            return {named.exitStatus, text};
        }
    }
    if (stage == Stage::kArgument)
        return {2, "error " + std::to_string(result) +
                       ": an option is unusable (the User-Agent text holds a line break); no "
                       "request was made"};
    if (stage == Stage::kPackageRequest) return DescribePackageRequest(code, facts.keptBytes);
    if (code & static_cast<unsigned>(MARVOSTELL_LOCAL_FILE_FLAG)) {
        // The local directory and files, and a path too long for the host's buffer.
        const unsigned system = code & 0x7FFFFFFFu;
        return {8, "error " + Hex(code) + ": local file error: " + SystemErrorText(system) +
                       " (" + std::to_string(system) + ")"};
    }
    return DescribeManifestRequest(result);
}
