#include "trace_capture.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "framework/trace.h"

namespace marvostell {
namespace {
TraceCapture g_capture = nullptr;
}

void Trace(const char *format, ...) {
    if (!g_capture) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, args);
    va_end(args);
    g_capture(text.c_str());
}

void SetTraceCaptureForTesting(TraceCapture capture) { g_capture = capture; }

}  // namespace marvostell
