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
    "  new --package FILE:VERSION... --path-prefix /PATH/ [--key FILE]\n"
    "                  write a whole manifest from package files, linted, signed with --key\n"
    "  patch OLD NEW -o PATCH\n"
    "                  make a patch from an earlier package; print its section\n"
    "  pack FILE       write FILE.z, the packed package; print its keys\n"
    "  lint MANIFEST [--trusted-key KEY]...\n"
    "                  check what hosts read (the first 4096 bytes), and its signature\n"
    "  explain MANIFEST --host-version V [--host-id ID]\n"
    "                  walk the selection for one host version\n"
    "  map MANIFEST [--host-id ID]\n"
    "                  which package each range of host versions gets\n"
    "  verify URL      fetch the manifest and its packages as hosts do, and check them\n"
    "  keygen --out FILE\n"
    "                  make a signing key; print the public key for hosts\n"
    "  sign --key FILE MANIFEST\n"
    "                  add or replace the manifest's signature line\n"
    "  rollout MANIFEST SECTION --percent N | --finish\n"
    "                  change a staged package's share of hosts, or release it to all\n"
    "\n"
    "MANIFEST is a file or an http URL. Every command takes --help, all but new, patch\n"
    "and pack --json.\n"
    "Versions are decimal, 0x hexadecimal or 0 octal, as in manifests.\n"
    "exit status: 0 fine, 1 errors found (or refused), 2 usage or unreadable input\n";

const char kEntry[] =
    "usage: marvostell-manifest entry FILE --path /SERVER/PATH/NAME [--section NAME]\n"
    "                                [--version V] [--json]\n"
    "Prints a package section for FILE: Package (the path on the manifest's server),\n"
    "PackageSize, Md5 (upper case), Sha256 (lower case), and version when given.\n"
    "The section is named after the file name of --path unless --section names it.\n"
    "Refuses a file over 134217728 bytes, an empty file, and a name hosts refuse.\n"
    "exit status: 0 printed, 1 refused, 2 usage or unreadable file\n";

const char kNew[] =
    "usage: marvostell-manifest new --package FILE:VERSION[:SECTION]... --path-prefix /PATH/\n"
    "                              [--from-dir DIR --version-pattern PATTERN]\n"
    "                              [--order newest|given] [--display-version SECTION=TEXT]...\n"
    "                              [--notes SECTION=URL]... [--critical SECTION]...\n"
    "                              [--staged SECTION... --rollout N]\n"
    "                              [--key FILE|--key-env VAR [--expires DAYS]\n"
    "                               [--passphrase-file FILE|--passphrase-env VAR]]\n"
    "                              [--patch-from DIR] [--output FILE]\n"
    "Writes a whole manifest: [General] with the update list, and for each FILE a\n"
    "section as entry prints it (Package is /PATH/ and FILE's name; the section is\n"
    "named after the file unless SECTION is given). Hosts take the first package\n"
    "they may have, so the list goes newest first, and each package but the\n"
    "oldest gets a Support range of the hosts from the next older package's\n"
    "version up: every host reaches the next release (--order given keeps the\n"
    "order of the packages and writes no ranges).\n"
    "  --from-dir DIR --version-pattern PATTERN\n"
    "             every file of DIR whose name fits PATTERN, in which {major} and\n"
    "             {minor} (and {patch}) stand for numbers: app-{major}.{minor}.exe\n"
    "             makes app-2.1.exe version 0x00020001 (2.1.3 is 0x00020103);\n"
    "             or {version}, the version as manifests write it\n"
    "  --display-version, --notes, --critical\n"
    "             DisplayVersion, Notes and Critical=1 for the package SECTION\n"
    "  --staged SECTION --rollout N\n"
    "             SECTION goes to the staged list, to N percent of hosts\n"
    "  --patch-from DIR\n"
    "             a patch to the newest package from each earlier package in DIR\n"
    "             (with --version-pattern, the older files that fit it), made as\n"
    "             patch makes it and written beside that package as\n"
    "             OLD-to-NEW.patch (names without their last extension); its\n"
    "             section is listed in Patches=, the smallest patch first. A file\n"
    "             patch refuses is left out with a note, and so are the largest\n"
    "             patches that would take the manifest over 4096 bytes\n"
    "The manifest is linted: its findings go to stderr, and with errors nothing is\n"
    "written. With --key or --key-env it is signed as sign does. It goes to\n"
    "stdout, or replaces --output FILE in one step.\n"
    "exit status: 0 written, 1 refused (lint errors, a file or name hosts refuse),\n"
    "  2 usage, an unreadable file or key, a wrong passphrase, or cannot write\n";

const char kPatch[] =
    "usage: marvostell-manifest patch OLD NEW -o PATCH [--path-prefix /PATH/]\n"
    "                                [--section NAME] [--from NAME]\n"
    "Makes a patch that turns the earlier package OLD into NEW (docs/patch-format.md),\n"
    "applies it to OLD with the module's own applier and compares the result with\n"
    "NEW byte for byte, then writes PATCH and prints its section: From (OLD's name,\n"
    "or --from: the package's name in the hosts' local directory), FromSize,\n"
    "FromSha256, Patch (/PATH/ and PATCH's name; \"/\" unless --path-prefix),\n"
    "PatchSize and PatchSha256. The section is named after PATCH unless --section\n"
    "names it; list it in Patches= of NEW's package section.\n"
    "Refuses a PATCH that names OLD or NEW (it would destroy an input).\n"
    "Refuses a patch over half the size of the packed package (pack): it would save\n"
    "hosts too little. Patches are small where the payload is stored uncompressed.\n"
    "exit status: 0 written, 1 refused (too big, PATCH names an input, a name hosts\n"
    "  refuse, a file over 134217728 bytes or empty), 2 usage, unreadable file or\n"
    "  cannot write\n";

const char kPack[] =
    "usage: marvostell-manifest pack FILE [--path-prefix /PATH/]\n"
    "Writes FILE.z, FILE as one zlib stream (RFC 1950) at level 9, which the module\n"
    "inflates to FILE, checks it with the module's own inflater, and prints the\n"
    "keys for the package's section: Packed (/PATH/ and FILE.z's name; \"/\" unless\n"
    "--path-prefix), PackedSize and PackedSha256.\n"
    "Refuses a file that does not get smaller (compressed already).\n"
    "exit status: 0 written, 1 refused (no smaller, a name hosts refuse, a file over\n"
    "  134217728 bytes or empty), 2 usage, unreadable file or cannot write\n";

const char kLint[] =
    "usage: marvostell-manifest lint MANIFEST [--trusted-key KEY]... [--strict] [--json]\n"
    "Reads what a host reads (the first 4096 bytes, through the module's profile\n"
    "reader and number rule) and reports every finding with its line:\n"
    "errors make a host get no package, another package or an error; warnings are\n"
    "style and risk. MANIFEST is a file or an http URL, fetched as hosts fetch it.\n"
    "Packed and Patches are judged as CheckNewVersionEx reads them: an entry hosts\n"
    "leave out, a missing patch section, a base that is the package itself or a\n"
    "patch file (no chains), and what patch sections cost of the 4096 bytes.\n"
    "  --trusted-key KEY\n"
    "             check as a host that passes KEY does (repeatable; a KEY may be\n"
    "             several keys separated by commas or blanks): the signature line\n"
    "             (missing, not last, changed after signing or signed by another\n"
    "             key), Expires, and a well-formed Sha256 in every package\n"
    "  --strict   count warnings as errors\n"
    "  --json     the findings as one JSON object\n"
    "exit status: 0 no error, 1 errors, 2 usage or unreadable manifest\n";

const char kExplain[] =
    "usage: marvostell-manifest explain MANIFEST --host-version V [--host-id ID]\n"
    "                                  [--trusted-key KEY]... [--json]\n"
    "Walks the package lists for a host of version V as CheckNewVersionEx does\n"
    "(the staged list first, then the update list), and says for each package\n"
    "whether it was passed over and why, or selected. A staged package goes to a\n"
    "host in its Rollout: --host-id ID (the 32 digits of a host's host.id) gives\n"
    "that host's bucket; without it a host is in no rollout. The last\n"
    "line is \"selected: NAME\" or \"selected: none\". A \"note:\" line says when\n"
    "hosts that pass trusted keys refuse the manifest (unsigned, expired); with\n"
    "--trusted-key, a host that refuses it selects none. For a package with\n"
    "patches or a packed file, the last lines say which hosts get a patch (those\n"
    "whose local directory holds its base, From with FromSize and FromSha256) and\n"
    "that the others get the packed package or Package.\n"
    "exit status: 0 explained, 2 usage or unreadable manifest\n";

const char kMap[] =
    "usage: marvostell-manifest map MANIFEST [--host-id ID] [--trusted-key KEY]... [--json]\n"
    "Prints the host versions 0x00000000 to 0xFFFFFFFF as ranges, one a line:\n"
    "\"0xLOW-0xHIGH NAME\" (or \"none\"), in order, computed from the manifest's\n"
    "boundaries with the module's own selection. With a staged list, the ranges\n"
    "are those of hosts in no rollout (and of CheckNewVersion), and after a line\n"
    "\"hosts in the rollouts (CheckNewVersionEx):\" those of hosts in every one;\n"
    "with --host-id ID, those of that host, each staged package's bucket and\n"
    "whether the host is in its rollout in brackets after NAME. When hosts that\n"
    "pass trusted keys refuse the manifest, a note goes to stderr; with\n"
    "--trusted-key such a host gets none everywhere.\n"
    "exit status: 0 mapped, 2 usage or unreadable manifest\n";

const char kVerify[] =
    "usage: marvostell-manifest verify URL [--trusted-key KEY]... [--strict] [--json]\n"
    "                                 [--progress|--no-progress] [--stall S]\n"
    "                                 [--base-dir DIR]\n"
    "Fetches the manifest as hosts do and lints it (with --trusted-key as lint\n"
    "does); then requests every package that some host version can get from the\n"
    "same server, compares its length with PackageSize, its MD5 with Md5 and its\n"
    "SHA-256 with Sha256 (when given), and checks that the server honours a\n"
    "byte range (needed to resume). Progress of long transfers is drawn on a\n"
    "terminal's stderr; --progress draws it anyway, --no-progress never.\n"
    "Reading stops 64 KiB past PackageSize. A request that gets less than 32 KiB\n"
    "in S seconds (--stall, default 60) is given up as stalled.\n"
    "Each patch and packed file is fetched and held to its size and SHA-256; the\n"
    "packed file is inflated and each patch applied to its base in --base-dir DIR\n"
    "(the earlier packages) with the module's own inflater and applier, and the\n"
    "result held to the package's size, Md5 and Sha256.\n"
    "exit status: 0 all match, 1 a mismatch, a missing package, a stall or a lint error,\n"
    "  2 usage or unreadable manifest\n";

const char kKeygen[] =
    "usage: marvostell-manifest keygen --out FILE [--force] [--json]\n"
    "                                 [--passphrase-file FILE|--passphrase-env VAR]\n"
    "Makes a P-256 signing key: writes the private key to FILE (PKCS#8 PEM, created\n"
    "readable by you only) and prints the public key for hosts (88 characters of\n"
    "base64) on stdout. Keep FILE offline. An existing FILE is replaced only with\n"
    "--force.\n"
    "  --passphrase-file FILE  encrypt the key (PBES2, AES-256-CBC) with the first\n"
    "                          line of FILE as the passphrase\n"
    "  --passphrase-env VAR    ... with the value of the environment variable VAR\n"
    "exit status: 0 written, 1 FILE exists, 2 usage, no passphrase, or cannot write\n";

const char kSign[] =
    "usage: marvostell-manifest sign --key FILE|--key-env VAR MANIFEST\n"
    "                               [--output FILE] [--expires DAYS] [--json]\n"
    "                               [--passphrase-file FILE|--passphrase-env VAR]\n"
    "Signs a manifest file with the private key in FILE: the last line becomes\n"
    "\";signature=\" and the signature of every byte before it (an earlier signature\n"
    "line is replaced). MANIFEST is rewritten in one step, or --output is written.\n"
    "Line ends stay the manifest's.\n"
    "  --expires DAYS  set Expires in [General] to today (UTC) plus DAYS first\n"
    "  --key-env VAR   take the key's PEM text from the environment variable VAR\n"
    "  --passphrase-file FILE, --passphrase-env VAR\n"
    "                  the passphrase of an encrypted key: the first line of FILE,\n"
    "                  or the value of VAR (never on the command line)\n"
    "Refuses a manifest with lint errors, a package without Sha256, an Expires\n"
    "that has passed, and a manifest that would be over 4096 bytes once signed.\n"
    "exit status: 0 signed, 1 refused, 2 usage, unreadable manifest or key, a wrong\n"
    "  or missing passphrase, or cannot write\n";

const char kRollout[] =
    "usage: marvostell-manifest rollout MANIFEST SECTION (--percent N | --finish)\n"
    "                                  [--key FILE|--key-env VAR [--expires DAYS]\n"
    "                                   [--passphrase-file FILE|--passphrase-env VAR]]\n"
    "                                  [--output FILE]\n"
    "Changes the staged package SECTION of a manifest file: --percent N sets its\n"
    "Rollout (0 to 100; 0 stops the rollout: no host gets it any more); --finish\n"
    "moves it from the staged list to the front of the update list, for every\n"
    "host. The manifest is linted, and nothing is written with errors. A signed\n"
    "manifest is signed again with --key or --key-env, or refused. MANIFEST is\n"
    "rewritten in one step, or --output is written.\n"
    "exit status: 0 written, 1 refused (not staged, lint errors, signed without\n"
    "  --key), 2 usage, unreadable manifest or key, wrong or missing passphrase,\n"
    "  or cannot write\n";

}  // namespace

const char *UsageText(const char *command) {
    if (std::strcmp(command, "entry") == 0) return kEntry;
    if (std::strcmp(command, "new") == 0) return kNew;
    if (std::strcmp(command, "patch") == 0) return kPatch;
    if (std::strcmp(command, "pack") == 0) return kPack;
    if (std::strcmp(command, "lint") == 0) return kLint;
    if (std::strcmp(command, "explain") == 0) return kExplain;
    if (std::strcmp(command, "map") == 0) return kMap;
    if (std::strcmp(command, "verify") == 0) return kVerify;
    if (std::strcmp(command, "keygen") == 0) return kKeygen;
    if (std::strcmp(command, "sign") == 0) return kSign;
    if (std::strcmp(command, "rollout") == 0) return kRollout;
    return kProgram;
}

}  // namespace marvostell::tools
