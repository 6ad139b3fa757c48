// The trace sink: diagnostic messages in printf style, discarded. A test can
// install a capture to see the formatted texts.
#pragma once

namespace marvostell {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Trace(const char *format, ...);

using TraceCapture = void (*)(const char *text);
// Not exported from the library; for tests that link the core.
void SetTraceCaptureForTesting(TraceCapture capture);

}  // namespace marvostell
