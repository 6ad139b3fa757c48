// A manifest as a host reads it: a file, or an http URL fetched by the
// module's own manifest fetch (one read of at most kManifestLimit bytes),
// stored as update.ini in a work directory for the profile reader.
#pragma once

#include <string>

#include "findings.h"
#include "manifest/manifest_fetch.h"
#include "work_dir.h"

namespace marvostell::tools {

struct ManifestSource {
    std::string name;        // the file or URL as given
    bool isUrl = false;
    std::string hostText;    // what a host stores and reads: at most kManifestLimit bytes
    std::string readerText;  // hostText as the profile reader sees it (reader_text.h)
    std::string fullText;    // the whole file or body, as far as it could be read
    bool fullKnown = false;  // false when the whole body could not be fetched
    std::string iniPath;     // hostText as update.ini in the work directory
    std::string server;      // URL only: the server ("host" or "host:port")
    std::string object;      // URL only: the manifest's path on it
    uint32_t status = 0;     // URL only: the server's status for the whole body, 0 unknown
};

// For a URL the server does not answer with 200: an error naming the status
// (the body is an error page, not to be linted); false otherwise.
bool StatusFinding(const ManifestSource &source, Findings &findings);

// Enough to see what lies past the host's cut; no manifest comes near it.
constexpr size_t kMaxFullBytes = 1 << 20;

bool IsUrl(const std::string &text);

// Reads or fetches the manifest; on failure returns false with a message.
bool LoadManifest(const std::string &source, const WorkDir &dir, ManifestSource &out,
                  std::string &error);

// A manifest file's text as it will be written (e.g. before signing).
bool ManifestFromText(const std::string &name, const std::string &text, const WorkDir &dir,
                      ManifestSource &out, std::string &error);

// The whole file, up to 1 MiB; false when it cannot be read or is no
// regular file.
bool ReadFileText(const std::string &path, std::string &text);

// Whether `path` names a regular file: opening a FIFO or a device may block
// or never end.
bool IsRegularFile(const std::string &path);

}  // namespace marvostell::tools
