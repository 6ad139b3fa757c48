// --json: what the check did as one JSON object, for support scripts. The
// fields are listed in the man page, marvostell-check(1).
#pragma once

#include <string>

#include "call_record.h"
#include "entry/update_check.h"

struct JsonFacts {
    int result = 0;      // the export's integer
    int exitStatus = 0;  // the tool's
    std::string message;
    double elapsedSeconds = 0;
    std::string proxy;  // "" for none
};

// The result's name: the public header's for the results it names, else
// HTTP_STATUS, the Internet error's name, INTERNET_ERROR, LOCAL_FILE_ERROR
// or ARGUMENT_ERROR by the step that failed.
std::string ResultName(int result, marvostell::Stage stage);

// The object, on one line.
std::string JsonReport(const JsonFacts &facts, const marvostell::CheckOutcome &outcome,
                       const CallRecord &record);

// `text` as a JSON string, quotes included.
std::string JsonString(const std::string &text);
