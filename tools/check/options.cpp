#include "options.h"

#include <fstream>
#include <string>
#include <vector>

#include "arguments.h"

const char kUsageLine[] =
    "usage: marvostell-check [--host-version N] [--dir DIR] [--quiet] [--verbose]\n"
    "                        [--ex] [--check-only] [--deadline S] [--stall S]\n"
    "                        [--user-agent TEXT] [--https] [--trusted-key KEY]...\n"
    "                        [--trusted-keys-file FILE] [--ignore-rollout] [--json] URL\n"
    "Try 'marvostell-check --help' for more information.\n";

const char kHelpText[] =
    "usage: marvostell-check [--host-version N] [--dir DIR] [--quiet] [--verbose]\n"
    "                        [--ex] [--check-only] [--deadline S] [--stall S]\n"
    "                        [--user-agent TEXT] [--https] [--trusted-key KEY]...\n"
    "                        [--trusted-keys-file FILE] [--ignore-rollout] [--json] URL\n"
    "       marvostell-check --version | --help\n"
    "\n"
    "Runs one update check as a host would: fetches the manifest at URL into DIR\n"
    "as update.ini, downloads the first package newer than version N, checks its\n"
    "MD5 digest, then explains the result.\n"
    "\n"
    "  --host-version N  the host's version (decimal, 0x hexadecimal or 0 octal;\n"
    "                    default 0, which a note on standard error recalls)\n"
    "  --dir DIR         directory for update.ini and the package (default: the\n"
    "                    current directory, which must then be writable; a note\n"
    "                    on standard error names it)\n"
    "  --quiet           no progress\n"
    "  --verbose         each step of the check as it happens: the manifest\n"
    "                    request, the selection's tests, the package transfer\n"
    "                    and its digest\n"
    "  --json            one JSON object on standard output, nothing else there\n"
    "                    (its fields: see the man page); the exit status is the same\n"
    "  --version         the tool's version and the module's file version\n"
    "  --help            this text\n"
    "\n"
    "Without the options below the check follows CheckNewVersion, as most hosts\n"
    "call it. --ex, or any option below, makes it follow CheckNewVersionEx: a\n"
    "broken server or transfer fails as such, a partial package is kept for the\n"
    "next check, and Ctrl-C stops the call itself. It also reads the staged\n"
    "list (a staged package goes to the hosts in its Rollout, by the bucket of\n"
    "the identity in DIR/host.id, made there if missing) and the package's\n"
    "DisplayVersion, Notes and Critical, which the result shows.\n"
    "  --ex              CheckNewVersionEx's rules, with no option of its own\n"
    "  --check-only      select a package and say what is offered, without\n"
    "                    downloading it\n"
    "  --deadline S      the whole check ends after S seconds (1 to 86400)\n"
    "  --stall S         a transfer that receives nothing for S seconds fails\n"
    "                    (1 to 86400; default 60)\n"
    "  --user-agent TEXT the User-Agent line of both requests\n"
    "  --https           an https:// URL is fetched over TLS, certificates\n"
    "                    checked; without it any scheme means plain HTTP\n"
    "  --trusted-key KEY a publisher's public key (88 characters of base64):\n"
    "                    the manifest must be signed by one of the keys given,\n"
    "                    not expired, and the package must match its Sha256;\n"
    "                    repeatable\n"
    "  --trusted-keys-file FILE\n"
    "                    the keys in FILE, separated by commas or white space\n"
    "                    (lines starting with # are comments)\n"
    "  --ignore-rollout  a staged package whatever this host's bucket, as for a\n"
    "                    check a person asked for (MARVOSTELL_IGNORE_ROLLOUT)\n"
    "\n"
    "Ctrl-C cancels the check; the partial package stays for the next check.\n"
    "A second Ctrl-C ends the program at once.\n"
    "\n"
    "Progress and the steps go to standard error; the result and its\n"
    "explanation go to standard output.\n"
    "\n"
    "exit status:\n"
    "   0  up to date: no newer package is offered\n"
    "   1  a newer package was downloaded (or found complete) and verified\n"
    "   2  usage error, or a User-Agent text with a line break\n"
    "   3  the socket layer cannot be started\n"
    "   4  bad URL (no \"/\" after the host name)\n"
    "   5  the package entry (Package, PackageSize, Md5) cannot be used\n"
    "   6  the package does not match its MD5 digest\n"
    "   7  the server asks for authentication (401, 407)\n"
    "   8  a local file cannot be written\n"
    "   9  Internet error (connection, name resolution, transfer ended early or\n"
    "      stalled)\n"
    "  10  unexpected failure inside the module\n"
    "  11  no usable manifest: the module found nothing newer because the stored\n"
    "      update.ini is empty, an HTML page, cut at 4096 bytes, or has no update\n"
    "      list in [General]; with --ex, a 200 answer without [General]\n"
    "  12  --check-only: a newer package is offered; nothing was downloaded\n"
    "  13  --ex: the server answered with an error status (the manifest with\n"
    "      other than 200, the package with other than 200 or 206)\n"
    "  14  --deadline passed; a partial package is kept\n"
    "  15  the module refused the manifest's signature (--trusted-key): not\n"
    "      signed, changed after signing, another key's, or expired\n"
    " 130  cancelled with Ctrl-C; a partial package is kept\n";

namespace {

using marvostell::tools::Argument;
using marvostell::tools::ArgumentFault;

const marvostell::tools::ArgumentRules kRules{
    {"--host-version", "--dir", "--deadline", "--stall", "--user-agent", "--trusted-key",
     "--trusted-keys-file"},
    {"--quiet", "--verbose", "--help", "--version", "--ex", "--check-only", "--https", "--json",
     "--ignore-rollout"},
    {{"-q", "--quiet"}, {"-v", "--verbose"}, {"-h", "--help"}},
    false,
    false,
};

// Whole seconds from 1 to kMaxSeconds, in decimal.
bool ParseSeconds(const std::string &text, uint32_t &seconds) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    seconds = static_cast<uint32_t>(std::stoul(text));
    return seconds >= 1 && seconds <= kMaxSeconds;
}

// The keys in a file, comment lines left out.
bool ReadKeysFile(const std::string &path, std::string &keys) {
    std::ifstream in(path);
    if (!in) return false;
    keys.clear();
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#') continue;
        keys += (keys.empty() ? "" : " ") + line;
    }
    return !in.bad();
}

// The options that only CheckNewVersionEx has; false when `arg` is none.
bool ApplyEx(const Argument &arg, Options &options, std::string &error) {
    if (arg.name == "--check-only") {
        options.checkOnly = true;
    } else if (arg.name == "--https") {
        options.https = true;
    } else if (arg.name == "--ignore-rollout") {
        options.ignoreRollout = true;
    } else if (arg.name == "--deadline" || arg.name == "--stall") {
        uint32_t &seconds = arg.name == "--deadline" ? options.deadlineSeconds : options.stallSeconds;
        if (seconds)
            error = arg.name + " given twice";
        else if (!ParseSeconds(arg.value, seconds))
            error = arg.name + ": '" + arg.value + "' is not a whole number of seconds from 1 to " +
                    std::to_string(kMaxSeconds);
    } else if (arg.name == "--user-agent") {
        if (options.userAgentGiven) error = "--user-agent given twice";
        // A line break goes to the module, which refuses it as hosts see.
        options.userAgent = arg.value;
        options.userAgentGiven = true;
    } else if (arg.name == "--trusted-key" || arg.name == "--trusted-keys-file") {
        std::string keys = arg.value;
        if (arg.name == "--trusted-keys-file" && !ReadKeysFile(arg.value, keys))
            error = "--trusted-keys-file: cannot read '" + arg.value + "'";
        // A malformed key goes to the module, which refuses it as hosts see.
        options.trustedKeys += (options.trustedKeys.empty() ? "" : ",") + keys;
    } else if (arg.name != "--ex") {
        return false;
    }
    options.ex = true;
    return true;
}

// One argument, in the order given; false with the mistake in `error`.
bool Apply(const Argument &arg, size_t argumentCount, Options &options, bool &dirGiven,
           bool &versionGiven, std::string &error) {
    if (ApplyEx(arg, options, error)) return error.empty();
    if (arg.IsOperand()) {
        if (!options.url.empty())
            error = "more than one URL: '" + options.url + "' and '" + arg.value + "'";
        else if (arg.value.empty())
            error = "the URL is empty";
        else
            options.url = arg.value;
    } else if (arg.name == "--dir") {
        if (dirGiven)
            error = "--dir given twice";
        else if (arg.value.empty())
            error = "--dir needs a directory, not an empty text";
        options.dir = arg.value;
        dirGiven = true;
    } else if (arg.name == "--host-version") {
        if (versionGiven)
            error = "--host-version given twice";
        else if (!marvostell::tools::ParseWholeNumber(arg.value, options.hostVersion))
            error = "--host-version: '" + arg.value +
                    "' is not a number from 0 to 0xFFFFFFFF (decimal, 0x hexadecimal or 0 octal)";
        versionGiven = true;
        options.hostVersionGiven = true;
    } else if (arg.name == "--json") {
        options.json = true;
    } else if (arg.name == "--quiet") {
        options.quiet = true;
    } else if (arg.name == "--verbose") {
        options.verbose = true;
    } else if (arg.name == "--help") {
        options.help = true;
    } else if (arg.name == "--version") {
        // Until this release, --version N set the host's version; say so
        // rather than print a version and skip the check a script asked for.
        if (argumentCount != 1)
            error = "--version takes no value and no other arguments "
                    "(the host's version is set with --host-version N)";
        options.version = true;
    }
    return error.empty();
}

}  // namespace

bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<Argument> given;
    const ArgumentFault fault = marvostell::tools::SplitArguments(args, kRules, given);
    bool dirGiven = false;
    bool versionGiven = false;
    for (const Argument &arg : given)
        if (!Apply(arg, args.size(), options, dirGiven, versionGiven, error)) return false;
    if (fault.kind == ArgumentFault::kUnknown) {
        error = "unknown option '" + fault.option + "'";
        return false;
    }
    if (fault.kind == ArgumentFault::kNoValue) {
        error = fault.option + " needs a value";
        return false;
    }
    if (options.help || options.version) return true;
    if (options.url.empty()) {
        error = "no manifest URL given";
        return false;
    }
    return true;
}
