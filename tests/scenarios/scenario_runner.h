// Runs one update check against the in-process test server, either through
// the Linux library in this process or through a DLL under Wine, and reports
// what a host and the server could see of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_server.h"

namespace marvostell::testing {

struct Seed {
    std::string name;
    std::string content;
};

struct Check {
    // "{server}" stands for 127.0.0.1:<port>, "{closed}" for a port nobody listens on.
    std::string url = "http://{server}/update/update.ini";
    uint32_t version = 1;
    // Files in the local directory before the call.
    std::vector<Seed> seed;
    // Appended to the local directory: "{sep}" stands for the platform's separator.
    std::string dirSuffix;
    bool missingDir = false;
    bool window = true;
    // A file of the local directory held open, without sharing, during the call.
    std::string hold;
    // When nonzero, the check runs with this file-size limit (a full disk).
    long fileSizeLimit = 0;
    // Load, check and unload this many times in one host process; the
    // outcome is the last round's.
    int rounds = 1;
};

struct Outcome {
    int result = 0;
    // Name of the path written to the caller's buffer, relative to the local
    // directory, or "<untouched>".
    std::string path = "<untouched>";
    // "name:size" of every file left in the local directory, sorted.
    std::vector<std::string> files;
    std::vector<uint64_t> progress;
    // "GET <target>" and, when one was sent, " Range=<value>".
    std::vector<std::string> requests;
    // Each raw request with the port replaced by PORT.
    std::vector<std::string> rawRequests;
    // Complete reports received: one per round.
    int records = 0;
};

struct Target {
    std::string name = "native";  // native, win32 or win64
    std::string host;             // test_host.exe for Wine targets
    std::string dll;
};

Outcome RunCheck(const Target &target, TestServer &server, const Check &check);

std::string Md5Hex(const std::string &data);

}  // namespace marvostell::testing
