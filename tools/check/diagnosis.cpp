#include "diagnosis.h"

#include <cctype>

#include "entry/update_client.h"
#include "local_file.h"
#include "manifest/number.h"
#include "marvostell.h"
#include "options.h"
#include "proxy.h"
#include "result_text.h"
#include "selection_explain.h"

using marvostell::CUpdateClient;
using marvostell::kValueBufferSize;

namespace {

constexpr uint64_t kManifestReadSize = 4096;

std::string ReadValue(const std::string &path, const char *section, const char *key,
                      const char *defaultValue) {
    char value[kValueBufferSize];
    GetPrivateProfileStringA(section, key, defaultValue, value, kValueBufferSize, path.c_str());
    return value;
}

// Printable text of a few bytes of a file, for people.
std::string Excerpt(const std::string &bytes, size_t limit) {
    std::string out;
    for (size_t i = 0; i < bytes.size() && out.size() < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' || c == '\n') break;
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The title of an HTML page, which for error pages names the status.
std::string HtmlTitle(const std::string &page) {
    const std::string lower = Lower(page);
    const std::string::size_type open = lower.find("<title>");
    if (open == std::string::npos) return "";
    const std::string::size_type close = lower.find("</title>", open);
    if (close == std::string::npos) return "";
    return Excerpt(page.substr(open + 7, close - open - 7), 80);
}

bool HasGeneralSection(const std::string &path) {
    char names[4096];
    const DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof names,
                                                  path.c_str());
    for (DWORD at = 0; at < length && names[at];) {
        const std::string name = names + at;
        if (Lower(name) == "general") return true;
        at += static_cast<DWORD>(name.size()) + 1;
    }
    return false;
}

std::string FileName(const std::string &path) {
    const std::string::size_type cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void DescribeDigestMismatch(const CallRecord &record, Diagnosis &out) {
    const std::string section = SelectedSection(record.manifestPath, record.hostVersion);
    if (!section.empty())
        out.lines.push_back("package: [" + section + "] Package=" +
                            ReadValue(record.manifestPath, section.c_str(), "Package", ""));
    if (!record.downloadSeen) return;
    const std::string rejected = record.download.localPath + ".err";
    std::string actual = record.actualMd5;
    if (!record.digestSeen) LocalFileMd5(rejected, actual);
    std::string expected = record.digestSeen
                               ? record.expectedMd5
                               : ReadValue(record.manifestPath, section.c_str(), "Md5", "")
                                     .substr(0, 32);
    uint64_t size = 0;
    const bool haveFile = LocalFileSize(rejected, size);
    out.lines.push_back("expected MD5 (Md5): " + expected);
    out.lines.push_back("actual MD5:         " + actual);
    out.lines.push_back("file size:          " +
                        (haveFile ? std::to_string(size) + " bytes" : std::string("unknown")));
    out.lines.push_back("PackageSize:        " + std::to_string(record.download.size) + " bytes");
    out.lines.push_back("rejected file:      " + rejected +
                        (haveFile ? "" : " (cannot be read)"));
    if (!haveFile) return;
    if (size > record.download.size)
        out.lines.push_back("the file is longer than PackageSize: the server sent more than the "
                            "package (one that ignores byte ranges appends the whole file to a "
                            "partial one)");
    else if (size < record.download.size)
        out.lines.push_back("the file is shorter than PackageSize: the transfer ended early");
    else if (Lower(expected) == Lower(actual))
        out.lines.push_back("the digests differ only in case: Md5 must be upper-case hexadecimal");
    else
        out.lines.push_back("the file has the declared size but other bytes: the manifest's Md5 "
                            "or the package on the server is wrong");
}

void DescribeInternetError(int result, const CallRecord &record, Diagnosis &out) {
    CUpdateClient client;
    if (!client.ParseServerUrl(record.url.c_str())) return;
    std::string host;
    INTERNET_PORT port;
    marvostell::SplitHostPort(client.m_strServer, host, port);
    const bool package = static_cast<uint32_t>(result) & 0x80000000u;
    out.lines.push_back(std::string(package ? "package request" : "manifest request") +
                        " to host " + host + ", port " + std::to_string(port) +
                        (package ? ", path " + record.download.serverPath
                                 : ", path " + client.m_strObject));
    for (const std::string &line : DescribeProxy(host)) out.lines.push_back(line);
}

}  // namespace

std::vector<std::string> ManifestProblems(const std::string &path) {
    std::string bytes;
    if (!ReadLocalFile(path, bytes, kManifestReadSize + 1)) return {path + " cannot be read"};
    if (bytes.empty())
        return {path + " is empty: the server sent no body, or stopped sending after the headers"};
    std::vector<std::string> problems;
    const std::string::size_type first = bytes.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && bytes[first] == '<') {
        const std::string title = HtmlTitle(bytes);
        problems.push_back(path + " is an HTML page, not a manifest" +
                           (title.empty() ? "" : " (its title: \"" + title + "\")") +
                           ": the server answered with an error or other page");
    } else if (!HasGeneralSection(path)) {
        problems.push_back(path + " has no [General] section; it begins \"" +
                           Excerpt(bytes.substr(first == std::string::npos ? 0 : first), 60) +
                           "\"");
    } else if (ReadValue(path, "General", "update", "").empty()) {
        problems.push_back(path + " has no update list in [General] (update= is missing or empty)");
    }
    if (bytes.size() >= kManifestReadSize)
        problems.push_back(path + " fills the 4096 bytes the module reads: the manifest on the "
                                  "server is longer, and what follows was never read");
    return problems;
}

std::string SelectedSection(const std::string &manifestPath, uint32_t hostVersion) {
    return marvostell::tools::ExplainSelection(manifestPath, hostVersion).selected;
}

// Tests the package entry's keys in the order the module does, with the
// defaults the module reads them with.
std::string PackageEntryFault(const std::string &manifestPath, const std::string &section) {
    const char *name = section.c_str();
    const auto shown = [&](const char *key) {
        const std::string value = ReadValue(manifestPath, name, key, "");
        return value.empty() ? std::string(key) + " is missing or empty"
                             : std::string(key) + "=" + value;
    };
    const std::string size = ReadValue(manifestPath, name, "PackageSize", "0");
    const uint32_t bytes = marvostell::ParseManifestNumber(size.c_str());
    if (bytes == 0 || bytes > marvostell::kMaxPackageSize)
        return shown("PackageSize") + ": not a size from 1 to " +
               std::to_string(marvostell::kMaxPackageSize) + " bytes";
    const std::string md5 = ReadValue(manifestPath, name, "Md5", "0");
    if (md5.size() < 32) {
        const std::string asWritten = ReadValue(manifestPath, name, "Md5", "");
        if (asWritten.empty()) return shown("Md5") + ": 32 hexadecimal digits are needed";
        return shown("Md5") + ": " + std::to_string(md5.size()) +
               " characters where 32 hexadecimal digits are needed";
    }
    const std::string package = ReadValue(manifestPath, name, "Package", "0");
    return shown("Package") + ": the module refuses the local file name \"" + FileName(package) +
           "\" (empty, \".\", \"..\", a device name such as CON, a trailing dot or blank, "
           "or a character that file names cannot hold)";
}

Diagnosis Diagnose(int result, const std::string &packagePath, const CallRecord &record) {
    const ResultText described = DescribeResult(result, packagePath.c_str());
    Diagnosis out{described.exitStatus, described.text, {}};
    switch (result) {
    case MARVOSTELL_UP_TO_DATE: {
        const std::vector<std::string> problems = ManifestProblems(record.manifestPath);
        if (!problems.empty()) {
            out.exitStatus = kExitNoUsableManifest;
            out.headline = "no usable manifest: the module found nothing newer in what the "
                           "server sent";
            out.lines = problems;
        }
        // The packages considered and why each was passed over, in the words
        // of marvostell-manifest explain.
        const auto explanation =
            marvostell::tools::ExplainSelection(record.manifestPath, record.hostVersion);
        if (explanation.listMissing) break;
        out.lines.push_back("the packages considered, step by step:");
        for (const std::string &line : marvostell::tools::ExplanationLines(explanation))
            out.lines.push_back("  " + line);
        break;
    }
    case MARVOSTELL_UPDATED:
        if (record.downloadSeen && record.progressPosts == 0 &&
            record.existingBytes >= record.download.size)
            out.headline = "verified: " + packagePath +
                           " (already complete on disk: no bytes were fetched)";
        break;
    case MARVOSTELL_ERR_PACKAGE_ENTRY: {
        const std::string section = SelectedSection(record.manifestPath, record.hostVersion);
        if (!section.empty())
            out.lines.push_back("package [" + section + "]: " +
                                PackageEntryFault(record.manifestPath, section));
        break;
    }
    case MARVOSTELL_ERR_DIGEST_MISMATCH:
        DescribeDigestMismatch(record, out);
        break;
    default:
        if (described.exitStatus == 9) DescribeInternetError(result, record, out);
        break;
    }
    return out;
}
