#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/step_result.h"

// What a result of CheckNewVersion or CheckNewVersionEx means, for people.
struct ResultText {
    int exitStatus;
    std::string text;
};

// What a text names besides the result.
struct ResultFacts {
    const char *packagePath = "";  // the verified package, for MARVOSTELL_UPDATED
    uint64_t keptBytes = 0;        // the partial package left for the next check
};

// `stage` is the failed step the result came from: it tells a failed request
// from a local file (the result's high bit marks both), a manifest request's
// error from a result the header names, and an HTTP status from an error.
ResultText DescribeResult(int result, marvostell::Stage stage, const ResultFacts &facts = {});

// The results the public header names, each with its text (the package path
// follows MARVOSTELL_UPDATED's, the kept bytes a stop's) and exit status: the
// one list DescribeResult reads them from, for every stage but the requests,
// the local files and the host's arguments.
struct NamedResult {
    int code;
    int exitStatus;
    std::string text;  // a stage's from the stage list
};
extern const NamedResult kNamedResults[];
extern const size_t kNamedResultCount;

// The text of a Win32 system error code.
std::string SystemErrorText(unsigned code);

// A size for people: "463 bytes", "10.2 KB", "31.8 MB" (1 KB = 1,024 bytes).
std::string SizeText(uint64_t bytes);
