// What a GET that ended early means for the unit whose request it was: the
// one reading of a stop, a stall and a failed call, for the manifest and for
// the package.
#pragma once

#include <cstdint>

#include "framework/step_result.h"
#include "http/http_get.h"

namespace marvostell {

// A failed request's code as a failure of `stage`. Where the code reaches
// the host as it is, a call that gave none, or one that would read as
// "updated" (1), is reported as unexpected instead.
StepResult RequestFailure(Stage stage, uint32_t code);

// A stop; a stall (only a request with a stall limit has one), as
// ERROR_INTERNET_TIMEOUT; a failed call, with its code. An answer, whole or
// not, and what the sink refused are the unit's to judge: Ok() for them.
StepResult TransportFailure(const HttpGetResult &answer, Stage request);

}  // namespace marvostell
