// The command line of marvostell-check.
#pragma once

#include <cstdint>
#include <string>

struct Options {
    uint32_t hostVersion = 0;
    bool hostVersionGiven = false;
    std::string dir;  // empty: the current directory
    std::string url;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    bool json = false;  // one JSON object on standard output instead of words

    // CheckNewVersionEx's rules instead of CheckNewVersion's: --ex, or any of
    // the options below, which only that export has.
    bool ex = false;
    bool checkOnly = false;
    bool https = false;
    bool ignoreRollout = false;
    uint32_t deadlineSeconds = 0;  // 0: none
    uint32_t stallSeconds = 0;     // 0: the module's default
    bool userAgentGiven = false;
    std::string userAgent;
    // --trusted-key and --trusted-keys-file, joined by commas; empty: none.
    std::string trustedKeys;
};

// Reads argv into `options`. On a usage mistake returns false and puts a
// one-line description of it into `error`.
bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error);

// The --help text (usage, options and exit statuses).
extern const char kHelpText[];
// The one-line reminder printed after a usage error.
extern const char kUsageLine[];

// The longest --deadline and --stall, in seconds.
constexpr uint32_t kMaxSeconds = 86400;

// Exit statuses of the tool, besides the result's own meaning.
enum ExitStatus {
    kExitUpToDate = 0,
    kExitDownloaded = 1,
    kExitUsage = 2,
    kExitNoUsableManifest = 11,
    // Shells report 128 + SIGINT for a program that Ctrl-C ended; scripts
    // that test for it see the same status here.
    kExitCancelled = 130,
};
