#pragma once

#include <cstddef>
#include <string>

// What a result of CheckNewVersion means, for people.
struct ResultText {
    int exitStatus;
    std::string text;
};

ResultText DescribeResult(int result, const char *packagePath);

// The results the public header names, each with its text (the package path
// follows MARVOSTELL_UPDATED's) and exit status: the one list DescribeResult
// reads them from.
struct NamedResult {
    int code;
    int exitStatus;
    const char *text;
};
extern const NamedResult kNamedResults[];
extern const size_t kNamedResultCount;

// The text of a Win32 system error code.
std::string SystemErrorText(unsigned code);
