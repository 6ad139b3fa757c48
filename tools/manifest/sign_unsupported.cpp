// keygen and sign on Windows: not here. The private key is made and used on
// the publisher's Linux machine; this build checks signatures only.
#include <cstdio>

#include "commands.h"
#include "usage.h"

namespace marvostell::tools {
namespace {

int Unsupported(const char *command, const Arguments &args) {
    for (const std::string &arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText(command), stdout);
            return kExitOk;
        }
    }
    std::fprintf(stderr, "marvostell-manifest %s: not supported on Windows: make keys and sign manifests "
                         "with the Linux build of marvostell-manifest\n", command);
    return kExitUnsupported;
}

}  // namespace

int RunKeygen(const Arguments &args) { return Unsupported("keygen", args); }

int SignText(const char *command, const std::string &, std::string, const std::string &, uint32_t, std::string &,
             std::string &, std::string &) {
    return Unsupported(command, {});
}
int RunSign(const Arguments &args) { return Unsupported("sign", args); }

}  // namespace marvostell::tools
