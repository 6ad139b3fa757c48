// The tool's own GETs (the whole manifest, packages and their byte ranges)
// through the module's one HTTP GET, never answered from a cache: the
// server itself is being checked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "http/http_get.h"

namespace marvostell::tools {

// Takes one piece of a body; false stops reading.
using BodyPiece = std::function<bool(const unsigned char *data, uint32_t count)>;

// How long a GET may take to get its answer or the next kPieceBytes of its
// body before it is given up as stalled: a trickle stalls too.
constexpr unsigned kDefaultStallSeconds = 60;
constexpr uint32_t kPieceBytes = 32768;

// GETs `object` from `server`; `rangeStart`, when not negative, asks for the
// bytes from there on. A status that cannot be read fails the request. A
// stalled GET ends with `stalled` set.
HttpGetResult GetBody(const std::string &server, const std::string &object, int64_t rangeStart,
                      const BodyPiece &onData, unsigned stallSeconds = kDefaultStallSeconds);

}  // namespace marvostell::tools
