// The trace sink that tests link in place of the library's: it formats each
// text and hands it to the capture installed, if any.
#pragma once

namespace marvostell {

using TraceCapture = void (*)(const char *text);
void SetTraceCaptureForTesting(TraceCapture capture);

}  // namespace marvostell
