// The library's trace sink: the texts go nowhere.
#include "framework/trace.h"

namespace marvostell {

void Trace(const char *, ...) {}

}  // namespace marvostell
