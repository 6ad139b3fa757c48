#include "result_text.h"

#include <cstdio>

#include "marvostell.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Named {
    unsigned code;
    const char *name;
};

const Named kInternetErrors[] = {
    {12001, "ERROR_INTERNET_OUT_OF_HANDLES"},
    {12002, "ERROR_INTERNET_TIMEOUT"},
    {12003, "ERROR_INTERNET_EXTENDED_ERROR"},
    {12004, "ERROR_INTERNET_INTERNAL_ERROR"},
    {12005, "ERROR_INTERNET_INVALID_URL"},
    {12006, "ERROR_INTERNET_UNRECOGNIZED_SCHEME"},
    {12007, "ERROR_INTERNET_NAME_NOT_RESOLVED"},
    {12008, "ERROR_INTERNET_PROTOCOL_NOT_FOUND"},
    {12009, "ERROR_INTERNET_INVALID_OPTION"},
    {12016, "ERROR_INTERNET_INVALID_OPERATION"},
    {12017, "ERROR_INTERNET_OPERATION_CANCELLED"},
    {12018, "ERROR_INTERNET_INCORRECT_HANDLE_TYPE"},
    {12019, "ERROR_INTERNET_INCORRECT_HANDLE_STATE"},
    {12029, "ERROR_INTERNET_CANNOT_CONNECT"},
    {12030, "ERROR_INTERNET_CONNECTION_ABORTED"},
    {12031, "ERROR_INTERNET_CONNECTION_RESET"},
    {12150, "ERROR_HTTP_HEADER_NOT_FOUND"},
    {12152, "ERROR_HTTP_INVALID_SERVER_RESPONSE"},
    {12153, "ERROR_HTTP_INVALID_HEADER"},
    {12154, "ERROR_HTTP_INVALID_QUERY_REQUEST"},
    {12156, "ERROR_HTTP_REDIRECT_FAILED"},
    {12157, "ERROR_INTERNET_SECURITY_CHANNEL_ERROR"},
};

#ifndef _WIN32
// The Win32 codes that the Linux library reports for local files.
const Named kSystemErrors[] = {
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {32, "The process cannot access the file because it is being used by another process."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {183, "Cannot create a file when that file already exists."},
    {122, "The data area passed to a system call is too small."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {10054, "An existing connection was forcibly closed by the remote host."},
};
#endif

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

const char *InternetErrorName(unsigned code) {
    for (const Named &entry : kInternetErrors)
        if (entry.code == code) return entry.name;
    return "";
}

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
    for (const Named &entry : kSystemErrors)
        if (entry.code == code) return entry.name;
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
            const char *internet = InternetErrorName(system);
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
    const char *internet = InternetErrorName(code);
    if (*internet)
        return {9, "error " + std::to_string(result) + ": Internet error " + internet};
    return {9, "error " + std::to_string(result) + ": " + SystemErrorText(code)};
}
