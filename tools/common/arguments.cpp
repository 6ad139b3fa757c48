#include "arguments.h"

#include <cerrno>
#include <cstdlib>

#include "manifest/number.h"

namespace marvostell::tools {

ArgumentFault SplitArguments(const std::vector<std::string> &args, const ArgumentRules &rules,
                             std::vector<Argument> &out) {
    bool onlyOperands = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyOperands || arg.size() < 2 || arg[0] != '-') {
            out.push_back({"", arg});
            continue;
        }
        if (rules.endOfOptions && arg == "--") {
            onlyOperands = true;
            continue;
        }
        const auto alias = rules.aliases.find(arg);
        const std::string &whole = alias == rules.aliases.end() ? arg : alias->second;
        if (rules.flagNames.count(whole)) {
            out.push_back({whole, ""});
            continue;
        }
        const size_t eq = rules.equalsValue ? whole.find('=') : std::string::npos;
        const std::string name = whole.substr(0, eq);
        if (!rules.valueNames.count(name)) return {ArgumentFault::kUnknown, name};
        if (eq != std::string::npos)
            out.push_back({name, whole.substr(eq + 1)});
        else if (i + 1 < args.size())
            out.push_back({name, args[++i]});
        else
            return {ArgumentFault::kNoValue, name};
    }
    return {};
}

// The module's own number rule, so that the same text means the same version
// on every platform (a 64-bit strtoul reads large values differently). That
// rule saturates at 0xFFFFFFFF; an option that does not fit is a mistake.
bool ParseWholeNumber(const std::string &text, uint32_t &value) {
    const char *stop = nullptr;
    value = ParseManifestNumber(text.c_str(), &stop);
    if (stop == text.c_str() || *stop != '\0') return false;
    // The magnitude, read by the C library with the same bases.
    const char *digits = text.c_str();
    while (*digits == ' ' || (*digits >= '\t' && *digits <= '\r')) ++digits;
    if (*digits == '+' || *digits == '-') ++digits;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits, nullptr, 0);
    return errno != ERANGE && magnitude <= 0xFFFFFFFFull;
}

}  // namespace marvostell::tools
