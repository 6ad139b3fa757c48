// The trace sink: diagnostic messages in printf style. The library's sink
// (trace.cpp, a unit of its own) discards them; the tests link one that keeps
// them instead (tests/support/trace_capture.h).
#pragma once

namespace marvostell {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Trace(const char *format, ...);

}  // namespace marvostell
