// The manifest's location and its one GET, stored as the local manifest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/files.h"
#include "framework/step_result.h"
#include "http/check_rules.h"
#include "manifest/manifest_reader.h"
#include "manifest/signature.h"
#include "platform/win32.h"

namespace marvostell {

// Hosts read at most this many bytes of a manifest: one read of the answer.
constexpr DWORD kManifestLimit = 4096;

// Splits a manifest URL into the server ("host" or "host:port") and the path
// from its first "/". Any scheme is dropped; `https`, when given, tells
// whether it was "https" (in any case).
StepResult ParseServerUrl(const char *url, std::string &server, std::string &object,
                          bool *https = nullptr);

// One GET of `object` from `server`; the first kManifestLimit bytes of the
// body replace the file `localFile`. `buffer` holds at least kManifestLimit.
// Strict rules fail the fetch on an answer other than 200, a failed read and
// a stall, and want a 200 answer to be a manifest; with keys the signature
// line is judged, else it is a comment like any other. The observer is told
// the answer's status. `served`, when given, receives a snapshot of the
// bytes: what a check that must not depend on the stored copy decides from.
// The strict reading and the expiry are judged on the snapshot too.
StepResult FetchManifest(const std::string &server, const std::string &object,
                         const char *localFile, BYTE *buffer,
                         const CheckRules &rules = CheckRules(), CManifestReader *served = nullptr);

}  // namespace marvostell
