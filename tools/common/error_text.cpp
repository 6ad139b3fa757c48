#include "error_text.h"

namespace marvostell::tools {

std::string InternetErrorText(uint32_t error) {
    const char *text = nullptr;
    switch (error) {
    case 12002: text = "time-out"; break;
    case 12007: text = "the server name does not resolve"; break;
    case 12029: text = "cannot connect"; break;
    case 12030: text = "connection aborted"; break;
    case 12031: text = "connection reset"; break;
    default: break;
    }
    return "error " + std::to_string(error) + (text ? std::string(" (") + text + ")" : "");
}

}  // namespace marvostell::tools
