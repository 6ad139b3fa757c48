#pragma once

#include <string>

// What a result of CheckNewVersion means, for people.
struct ResultText {
    int exitStatus;
    std::string text;
};

ResultText DescribeResult(int result, const char *packagePath);

// The usual name of a WinINet error number, or "" when it has none here.
const char *InternetErrorName(unsigned code);

// The text of a Win32 system error code.
std::string SystemErrorText(unsigned code);
