// Signed manifests: trusted keys, the signature line and the expiry date.
// The key and the signature are standard base64 (with padding) of 64 bytes:
// X then Y of the P-256 public point, and r then s of the ECDSA signature.
// A signed manifest ends with the line ";signature=<base64>", which covers
// every byte before it; hosts that do not check it read it as a comment.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/step_result.h"
#include "http/check_rules.h"
#include "manifest/manifest_reader.h"
#include "platform/crypto.h"

namespace marvostell {

// The start of the signature line.
inline constexpr char kSignaturePrefix[] = ";signature=";

// Decodes standard base64 with padding; false for any other text.
bool DecodeBase64(const std::string &text, std::vector<uint8_t> &bytes);

// Parses keys separated by commas or white space. False, with the offending
// entry in `bad`, when one is not the base64 of 64 bytes or not a point of
// P-256 as the platform imports it; an empty list is malformed too.
bool ParseTrustedKeys(const char *text, std::vector<PublicKey> &keys, std::string &bad);

// Judges the signature line of a manifest as served.
SignatureVerdict VerifyManifestSignature(const uint8_t *manifest, size_t size,
                                         const std::vector<PublicKey> &keys);

// Days since 1970-01-01 of "YYYY-MM-DD"; false for anything else.
bool ParseExpiryDate(const std::string &text, int64_t &days);

// Whether the manifest's [General] Expires, when it has one, names today or
// an earlier day (UTC); a date that cannot be read counts as passed.
bool ManifestExpired(const CManifestReader &manifest);

}  // namespace marvostell
