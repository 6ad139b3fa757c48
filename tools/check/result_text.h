#pragma once

#include <cstddef>
#include <string>

#include "framework/step_result.h"

// What a result of CheckNewVersion means, for people.
struct ResultText {
    int exitStatus;
    std::string text;
};

// `stage` is the failed step the result came from: it tells a failed request
// from a local file (the result's high bit marks both) and a manifest
// request's error from a result the header names.
ResultText DescribeResult(int result, marvostell::Stage stage, const char *packagePath);

// The results the public header names, each with its text (the package path
// follows MARVOSTELL_UPDATED's) and exit status: the one list DescribeResult
// reads them from, for every stage but the requests and the local files.
struct NamedResult {
    int code;
    int exitStatus;
    const char *text;
};
extern const NamedResult kNamedResults[];
extern const size_t kNamedResultCount;

// The text of a Win32 system error code.
std::string SystemErrorText(unsigned code);
