#include "package_name.h"

#include "framework/strings.h"
#include "line_index.h"
#include "package/local_name.h"

namespace marvostell::tools {

std::string LocalNameOf(const std::string &packagePath) {
    const std::string::size_type slash = FindLastChar(packagePath, '/');
    return slash == std::string::npos ? packagePath : packagePath.substr(slash + 1);
}

std::string RefusedNameReason(const std::string &name) {
    if (name.empty()) return "the path ends in \"/\": there is no file name";
    // The manifest is stored under this name in the same directory.
    if (SameName(name, "update.ini")) return "it is the name of the manifest's own local copy";
    if (!IsSafeLocalName(name))
        return "hosts refuse it (a device name, \".\" or \"..\", a trailing dot or blank, "
               "a control character or one of \\ : < > \" | ? *)";
    return std::string();
}

bool IsAscii(const std::string &text) {
    for (unsigned char c : text)
        if (c > 0x7F) return false;
    return true;
}

}  // namespace marvostell::tools
