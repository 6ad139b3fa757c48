#include "http/transport_failure.h"

#include "http/call_guard.h"

namespace marvostell {

StepResult RequestFailure(Stage stage, uint32_t code) {
    if (ResultRuleOf(stage) == kAsCode && code <= 1) return StepResult::Failure(Stage::kUnexpected, 0);
    return StepResult::Failure(stage, code);
}

StepResult TransportFailure(const HttpGetResult &answer, Stage request) {
    if (answer.failure == HttpGetResult::kStopped) return StoppedFailure(answer.stop);
    if (answer.stalled) return RequestFailure(request, ERROR_INTERNET_TIMEOUT);
    switch (answer.failure) {
    case HttpGetResult::kNone:
    case HttpGetResult::kSink:
    case HttpGetResult::kRead: return StepResult::Success();
    default: return RequestFailure(request, answer.error);
    }
}

}  // namespace marvostell
