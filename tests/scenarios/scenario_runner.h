// Runs one update check against the in-process test server, either through
// the Linux library in this process or through a DLL under Wine, and reports
// what a host and the server could see of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "marvostell.h"
#include "test_certificates.h"
#include "test_server.h"

namespace marvostell::testing {

struct Seed {
    std::string name;
    std::string content;
    // A symbolic link to the path in content instead of a file.
    bool link = false;
    // A second name (hard link) of the file at the path in content.
    bool hardLink = false;
    // A directory of that name instead of a file.
    bool directory = false;
};

// CheckNewVersionEx's options, as a scenario gives them.
struct ExOptions {
    uint32_t flags = 0;
    uint32_t deadlineSeconds = 0;
    uint32_t stallSeconds = 0;
    std::optional<std::string> userAgent;
    std::optional<std::string> trustedKeys;
    // The cancel flag: none (-1), set before the call (0), or set this many
    // milliseconds into the call by another thread.
    int cancelAfterMs = -1;
    // The path buffer's size: pathSize bytes, or, when pathFits names a file,
    // room for that file's path in the directory passed, its NUL included,
    // plus pathSize (which may be negative).
    std::string pathFits;
    long pathSize = 4096;
    // The offer's size as the host sets it (an older header's, or the whole).
    uint32_t offerSize = sizeof(MarvostellOffer);
};

struct Check {
    // "{server}" stands for 127.0.0.1:<port>, "{server6}" for [::1]:<port>,
    // "{closed}" for a port nobody listens on, "{stuck}" for one whose
    // connects never complete, "{plain}" for one that answers anything,
    // a TLS handshake too, with a plain HTTP 400.
    std::string url = "http://{server}/update/update.ini";
    uint32_t version = 1;
    // Files in the local directory before the call.
    std::vector<Seed> seed;
    // Appended to the local directory: "{sep}" stands for the platform's separator.
    std::string dirSuffix;
    bool missingDir = false;
    // When set, the local directory passed as it is ("{sep}" stands for the
    // separator) instead of the scenario's own.
    std::optional<std::string> dirAsGiven;
    bool window = true;
    // A file of the local directory held open, without sharing, during the call.
    std::string hold;
    // When nonzero, the check runs with this file-size limit (a full disk).
    long fileSizeLimit = 0;
    // Load, check and unload this many times in one host process; the
    // outcome is the last round's.
    int rounds = 1;
    // Fill Outcome::digests.
    bool digests = false;
    // Call CheckNewVersionEx with these options instead of CheckNewVersion.
    std::optional<ExOptions> ex;
    // When set, why the DLLs under Wine cannot run this check: skipped there.
    std::string nativeOnly;
    // The server speaks TLS with the test CA's certificate for localhost,
    // which the call trusts, and "{server}" is localhost:<port> (Wine checks
    // a certificate's name, and fails one for an IP address).
    bool tls = false;
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
    // "name:MD5" of every regular file left, sorted (only when asked for).
    std::vector<std::string> digests = {};
    // CheckNewVersionEx's offer, "<version> <packageSize> <section>", or
    // "none" when nothing was written to it.
    std::string offer = "none";
    // Its later fields, "flags=F display=TEXT notes=TEXT", or "" while they
    // are zero and empty; and its downloadSize (expected: -1 when not
    // compared; got: -1 for an older structure).
    std::string offerMore;
    long offerDownload = -1;
    // Bytes were written past the path buffer's given size, or past the
    // offer's.
    bool overrun = false;
    // The last round's call, measured around the export itself.
    long elapsedMs = 0;
    // Expected only: the bounds of elapsedMs (max -1: not compared).
    long elapsedMinMs = 0, elapsedMaxMs = -1;
};

struct Target {
    std::string name = "native";  // native, win32 or win64
    std::string host;             // test_host.exe for Wine targets
    std::string dll;
};

// The requests of `http`, when given, are listed after the server's, each
// as "http GET ...".
Outcome RunCheck(const Target &target, TestServer &server, const Check &check,
                 TestServer *http = nullptr);

// The certificates of TLS checks, made once per process.
const TestCertificates &ScenarioCertificates();

// Starts the checks in one local directory at once (threads natively, test
// host processes under Wine) and waits for all; the first check's seeds and
// directory are used, and any check's URL may name {server}. The files and
// requests are those of the whole run; each outcome has its own result,
// path, offer and progress.
std::vector<Outcome> RunChecksTogether(const Target &target, TestServer &server,
                                       const std::vector<Check> &checks);

std::string Md5Hex(const std::string &data);

// The target this run of the scenario program tests, from its command line.
const Target &CurrentTarget();

}  // namespace marvostell::testing
