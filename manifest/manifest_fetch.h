// The manifest's location and its one GET, stored as the local manifest.
#pragma once

#include <cstdint>
#include <string>

#include "framework/step_result.h"
#include "platform/win32.h"

namespace marvostell {

// Hosts read at most this many bytes of a manifest: one read of the answer.
constexpr DWORD kManifestLimit = 4096;
// The name of the local manifest copy in the local directory.
inline constexpr char kLocalManifestName[] = "update.ini";

// Splits a manifest URL into the server ("host" or "host:port") and the path
// from its first "/". Any scheme is dropped: the request is plain HTTP.
StepResult ParseServerUrl(const char *url, std::string &server, std::string &object);

// One GET of `object` from `server`; the first kManifestLimit bytes of the
// body replace the file `localFile`. `buffer` holds at least kManifestLimit.
StepResult FetchManifest(const std::string &server, const std::string &object,
                         const char *localFile, BYTE *buffer);

}  // namespace marvostell
