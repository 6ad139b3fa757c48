#include "result_text.h"

#include <cstdio>

#include "marvostell.h"
#include "platform/error_names.h"

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

const NamedResult kNamedResults[] = {
    {MARVOSTELL_UP_TO_DATE, 0, "up to date: no newer package is offered"},
    {MARVOSTELL_UPDATED, 1, "downloaded and verified: "},
    {MARVOSTELL_ERR_SOCKETS, 3, "error 3: the socket layer cannot be started"},
    {MARVOSTELL_ERR_BAD_URL, 4, "error 4: bad URL: no \"/\" after the host name"},
    {MARVOSTELL_ERR_PACKAGE_ENTRY, 5,
     "error 5: the manifest's package entry cannot be used (Package, PackageSize or Md5)"},
    {MARVOSTELL_ERR_DIGEST_MISMATCH, 6,
     "error 6: the package does not match its MD5 digest (moved aside as .err)"},
    {MARVOSTELL_ERR_UNEXPECTED, 10, "error -1: unexpected failure inside the module"},
};
const size_t kNamedResultCount = sizeof kNamedResults / sizeof kNamedResults[0];

ResultText DescribeResult(int result, marvostell::Stage stage, const char *packagePath) {
    using marvostell::Stage;
    const unsigned code = static_cast<unsigned>(result);
    const bool namedStage = stage == Stage::kNone || stage == Stage::kSockets ||
                            stage == Stage::kManifestUrl || stage == Stage::kPackageEntry ||
                            stage == Stage::kDigest || stage == Stage::kUnexpected;
    if (namedStage) {
        for (const NamedResult &named : kNamedResults) {
            if (named.code != result) continue;
            std::string text = named.text;
            if (result == MARVOSTELL_UPDATED) text += packagePath;
            return {named.exitStatus, text};
        }
    }
    if (code & static_cast<unsigned>(MARVOSTELL_LOCAL_FILE_FLAG)) {
        const unsigned system = code & 0x7FFFFFFFu;
        if (stage == Stage::kPackageRequest) {
            const char *internet = marvostell::InternetErrorName(system);
            return {9, "error " + Hex(code) + ": the package request failed: " +
                           (*internet ? std::string(internet) : SystemErrorText(system)) + " (" +
                           std::to_string(system) + ")"};
        }
        // The local directory and files, and a path too long for the host's buffer.
        return {8, "error " + Hex(code) + ": local file error: " + SystemErrorText(system) +
                       " (" + std::to_string(system) + ")"};
    }
    if (result == 401 || result == 407)
        return {7, "error " + std::to_string(result) + ": the server asks for authentication" +
                       (result == 407 ? " (proxy)" : "")};
    const char *internet = marvostell::InternetErrorName(code);
    if (*internet)
        return {9, "error " + std::to_string(result) + ": Internet error " + internet};
    return {9, "error " + std::to_string(result) + ": " + SystemErrorText(code)};
}
