#include "framework/step_result.h"

namespace marvostell {

int32_t ResultRuleOf(Stage stage) {
    switch (stage) {
#define MARVOSTELL_STAGE_RULE(name, result, text) \
    case Stage::name: return result;
        MARVOSTELL_STAGES(MARVOSTELL_STAGE_RULE)
#undef MARVOSTELL_STAGE_RULE
    }
    return MARVOSTELL_ERR_UNEXPECTED;
}

const char *StageText(Stage stage) {
    switch (stage) {
#define MARVOSTELL_STAGE_TEXT(name, result, text) \
    case Stage::name: return text;
        MARVOSTELL_STAGES(MARVOSTELL_STAGE_TEXT)
#undef MARVOSTELL_STAGE_TEXT
    }
    return "";
}

int32_t ResultOf(const StepResult &result) {
    const int32_t rule = ResultRuleOf(result.stage);
    if (rule == kAsCode) return static_cast<int32_t>(result.code);
    if (rule == kLocalCode)
        return static_cast<int32_t>(result.code | static_cast<uint32_t>(MARVOSTELL_LOCAL_FILE_FLAG));
    return rule;
}

}  // namespace marvostell
