#include "package_name.h"

#include "manifest/manifest_fetch.h"
#include "package/package_entry.h"
#include "text.h"

namespace marvostell::tools {

std::string RefusedNameReason(const std::string &name) {
    if (IsSafeLocalName(name)) return std::string();
    if (name.empty()) return "the path ends in \"/\": there is no file name";
    // The manifest is stored under this name in the same directory.
    if (SameName(name, kLocalManifestName)) return "it is the name of the manifest's own local copy";
    return "hosts refuse it (a device name, \".\" or \"..\", a trailing dot or blank, "
           "a control character or one of \\ : < > \" | ? *)";
}

bool IsAscii(const std::string &text) {
    for (unsigned char c : text)
        if (c > 0x7F) return false;
    return true;
}

}  // namespace marvostell::tools
