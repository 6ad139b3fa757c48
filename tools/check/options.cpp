#include "options.h"

#include "manifest/number.h"

const char kUsageLine[] =
    "usage: marvostell-check [--host-version N] [--dir DIR] [--quiet] [--verbose] URL\n"
    "Try 'marvostell-check --help' for more information.\n";

const char kHelpText[] =
    "usage: marvostell-check [--host-version N] [--dir DIR] [--quiet] [--verbose] URL\n"
    "       marvostell-check --version | --help\n"
    "\n"
    "Runs one update check as a host would: fetches the manifest at URL into DIR\n"
    "as update.ini, downloads the first package newer than version N, checks its\n"
    "MD5 digest, then explains the result.\n"
    "\n"
    "  --host-version N  the host's version (decimal, 0x hexadecimal or 0 octal;\n"
    "                    default 0)\n"
    "  --dir DIR         directory for update.ini and the package (default: the\n"
    "                    current directory, which must then be writable)\n"
    "  --quiet           no progress\n"
    "  --verbose         the module's trace lines, as they are issued\n"
    "  --version         the tool's version and the module's file version\n"
    "  --help            this text\n"
    "\n"
    "Progress and trace lines go to standard error; the result and its\n"
    "explanation go to standard output.\n"
    "\n"
    "exit status:\n"
    "   0  up to date: no newer package is offered\n"
    "   1  a newer package was downloaded (or found complete) and verified\n"
    "   2  usage error\n"
    "   3  the socket layer cannot be started\n"
    "   4  bad URL (no \"/\" after the host name)\n"
    "   5  the package entry (Package, PackageSize, Md5) cannot be used\n"
    "   6  the package does not match its MD5 digest\n"
    "   7  the server asks for authentication (401, 407)\n"
    "   8  a local file cannot be written\n"
    "   9  Internet error (connection, name resolution, transfer)\n"
    "  10  unexpected failure inside the module\n"
    "  11  no usable manifest: the module found nothing newer because the stored\n"
    "      update.ini is empty, an HTML page, cut at 4096 bytes, or has no update\n"
    "      list in [General]\n";

namespace {

// The module's own number rule, so that the same text means the same version
// on every platform (a 64-bit strtoul reads large values differently).
bool ParseVersion(const char *text, uint32_t &version) {
    const char *stop = nullptr;
    version = marvostell::ParseManifestNumber(text, &stop);
    return stop != text && *stop == '\0';
}

}  // namespace

bool ParseOptions(int argc, const char *const *argv, Options &options, std::string &error) {
    bool dirGiven = false;
    bool versionGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--host-version" || arg == "--dir") {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            const char *value = argv[++i];
            if (arg == "--dir") {
                if (dirGiven) {
                    error = "--dir given twice";
                    return false;
                }
                if (!*value) {
                    error = "--dir needs a directory, not an empty text";
                    return false;
                }
                options.dir = value;
                dirGiven = true;
            } else {
                if (versionGiven) {
                    error = "--host-version given twice";
                    return false;
                }
                if (!ParseVersion(value, options.hostVersion)) {
                    error = "--host-version: '" + std::string(value) +
                            "' is not a number (decimal, 0x hexadecimal or 0 octal)";
                    return false;
                }
                versionGiven = true;
            }
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            // Until this release, --version N set the host's version; say so
            // rather than print a version and skip the check a script asked for.
            if (argc != 2) {
                error = "--version takes no value and no other arguments "
                        "(the host's version is set with --host-version N)";
                return false;
            }
            options.version = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return false;
        } else if (!options.url.empty()) {
            error = "more than one URL: '" + options.url + "' and '" + arg + "'";
            return false;
        } else if (arg.empty()) {
            error = "the URL is empty";
            return false;
        } else {
            options.url = arg;
        }
    }
    if (options.help) return true;
    if (options.version) return true;
    if (options.url.empty()) {
        error = "no manifest URL given";
        return false;
    }
    return true;
}
