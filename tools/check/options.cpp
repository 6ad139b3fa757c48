#include "options.h"

#include <vector>

#include "arguments.h"

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
    "  --verbose         each step of the check as it happens: the manifest\n"
    "                    request, the selection's tests, the package transfer\n"
    "                    and its digest\n"
    "  --version         the tool's version and the module's file version\n"
    "  --help            this text\n"
    "\n"
    "Progress and the steps go to standard error; the result and its\n"
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

using marvostell::tools::Argument;
using marvostell::tools::ArgumentFault;

const marvostell::tools::ArgumentRules kRules{
    {"--host-version", "--dir"},
    {"--quiet", "--verbose", "--help", "--version"},
    {{"-q", "--quiet"}, {"-v", "--verbose"}, {"-h", "--help"}},
    false,
    false,
};

// One argument, in the order given; false with the mistake in `error`.
bool Apply(const Argument &arg, size_t argumentCount, Options &options, bool &dirGiven,
           bool &versionGiven, std::string &error) {
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
