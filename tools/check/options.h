// The command line of marvostell-check.
#pragma once

#include <cstdint>
#include <string>

struct Options {
    uint32_t hostVersion = 0;
    std::string dir;  // empty: the current directory
    std::string url;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Reads argv into `options`. On a usage mistake returns false and puts a
// one-line description of it into `error`.
bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error);

// The --help text (usage, options and exit statuses).
extern const char kHelpText[];
// The one-line reminder printed after a usage error.
extern const char kUsageLine[];

// Exit statuses of the tool, besides the result's own meaning.
enum ExitStatus {
    kExitUpToDate = 0,
    kExitDownloaded = 1,
    kExitUsage = 2,
    kExitNoUsableManifest = 11,
};
