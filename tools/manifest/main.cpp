// marvostell-manifest: writes, checks and explains update manifests for
// publishers, with the module's own reader, number rule and selection.
//
//   marvostell-manifest entry|new|patch|pack|lint|explain|map|verify|keygen|sign|rollout ...
//   (see --help)
//
// Exit status: 0 fine; 1 errors found, a mismatch, or input refused; 2 usage
// or input that cannot be read.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "usage.h"

using namespace marvostell::tools;

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(UsageText(""), stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        if (argc > 2) {
            std::fputs(UsageText(argv[2]), stdout);
        } else {
            std::fputs(UsageText(""), stdout);
        }
        return kExitOk;
    }
    const Arguments args(argv + 2, argv + argc);
    int (*run)(const Arguments &) = nullptr;
    if (command == "entry") run = RunEntry;
    else if (command == "lint") run = RunLint;
    else if (command == "explain") run = RunExplain;
    else if (command == "map") run = RunMap;
    else if (command == "verify") run = RunVerify;
    else if (command == "keygen") run = RunKeygen;
    else if (command == "sign") run = RunSign;
    else if (command == "new") run = RunNew;
    else if (command == "patch") run = RunPatch;
    else if (command == "pack") run = RunPack;
    else if (command == "rollout") run = RunRollout;
    if (!run) {
        std::fprintf(stderr, "marvostell-manifest: unknown command %s\n", command.c_str());
        std::fputs(UsageText(""), stderr);
        return kExitUsage;
    }
    return run(args);
}
