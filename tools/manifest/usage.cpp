#include "usage.h"

#include <cstring>

#include "manifest/manifest_fetch.h"
#include "package/package_entry.h"

namespace marvostell::tools {
namespace {

// The texts below write these limits out.
static_assert(kManifestLimit == 4096, "the help texts name the manifest limit");
static_assert(kMaxPackageSize == 134217728, "the entry help names the largest package");

const char kProgram[] =
    "usage: marvostell-manifest COMMAND [OPTIONS] ...\n"
    "Writes, checks and explains update manifests with the module's own reader,\n"
    "number rule and selection.\n"
    "\n"
    "commands:\n"
    "  entry FILE --path /SERVER/PATH/NAME [--section NAME] [--version V]\n"
    "                  print a package section for FILE\n"
    "  lint MANIFEST   check what hosts read (the first 4096 bytes)\n"
    "  explain MANIFEST --host-version V\n"
    "                  walk the selection for one host version\n"
    "  map MANIFEST    which package each range of host versions gets\n"
    "  verify URL      fetch the manifest and its packages as hosts do, and check them\n"
    "\n"
    "MANIFEST is a file or an http URL. Every command takes --json and --help.\n"
    "Versions are decimal, 0x hexadecimal or 0 octal, as in manifests.\n"
    "exit status: 0 fine, 1 errors found (or refused), 2 usage or unreadable input\n";

const char kEntry[] =
    "usage: marvostell-manifest entry FILE --path /SERVER/PATH/NAME [--section NAME]\n"
    "                                [--version V] [--json]\n"
    "Prints a package section for FILE: Package (the path on the manifest's server),\n"
    "PackageSize and Md5 (upper case), and version when given. The section is named\n"
    "after the file name of --path unless --section names it.\n"
    "Refuses a file over 134217728 bytes, an empty file, and a name hosts refuse.\n"
    "exit status: 0 printed, 1 refused, 2 usage or unreadable file\n";

const char kLint[] =
    "usage: marvostell-manifest lint MANIFEST [--strict] [--json]\n"
    "Reads what a host reads (the first 4096 bytes, through the module's profile\n"
    "reader and number rule) and reports every finding with its line:\n"
    "errors make a host get no package, another package or an error; warnings are\n"
    "style and risk. MANIFEST is a file or an http URL, fetched as hosts fetch it.\n"
    "  --strict   count warnings as errors\n"
    "  --json     the findings as one JSON object\n"
    "exit status: 0 no error, 1 errors, 2 usage or unreadable manifest\n";

const char kExplain[] =
    "usage: marvostell-manifest explain MANIFEST --host-version V [--json]\n"
    "Walks the package list for a host of version V as the module does, and says\n"
    "for each package whether it was passed over and why, or selected. The last\n"
    "line is \"selected: NAME\" or \"selected: none\".\n"
    "exit status: 0 explained, 2 usage or unreadable manifest\n";

const char kMap[] =
    "usage: marvostell-manifest map MANIFEST [--json]\n"
    "Prints the host versions 0x00000000 to 0xFFFFFFFF as ranges, one a line:\n"
    "\"0xLOW-0xHIGH NAME\" (or \"none\"), in order, computed from the manifest's\n"
    "boundaries with the module's own selection.\n"
    "exit status: 0 mapped, 2 usage or unreadable manifest\n";

const char kVerify[] =
    "usage: marvostell-manifest verify URL [--strict] [--json] [--progress|--no-progress]\n"
    "Fetches the manifest as hosts do and lints it; then requests every package\n"
    "that some host version can get from the same server, compares its length\n"
    "with PackageSize and its MD5 with Md5, and checks that the server honours a\n"
    "byte range (needed to resume). Progress of long transfers is drawn on a\n"
    "terminal's stderr; --progress draws it anyway, --no-progress never.\n"
    "exit status: 0 all match, 1 a mismatch, a missing package or a lint error,\n"
    "  2 usage or unreadable manifest\n";

}  // namespace

const char *UsageText(const char *command) {
    if (std::strcmp(command, "entry") == 0) return kEntry;
    if (std::strcmp(command, "lint") == 0) return kLint;
    if (std::strcmp(command, "explain") == 0) return kExplain;
    if (std::strcmp(command, "map") == 0) return kMap;
    if (std::strcmp(command, "verify") == 0) return kVerify;
    return kProgram;
}

}  // namespace marvostell::tools
