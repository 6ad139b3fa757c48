#include "text.h"

namespace marvostell::tools {

std::string Lower(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool SameName(const std::string &a, const std::string &b) {
    return a.size() == b.size() && Lower(a) == Lower(b);
}

}  // namespace marvostell::tools
