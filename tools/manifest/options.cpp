#include "options.h"

#include "manifest/number.h"

namespace marvostell::tools {

bool ParseOptions(const std::vector<std::string> &args, const std::set<std::string> &valueNames,
                  const std::set<std::string> &flagNames, Options &out, std::string &error) {
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-') {
            out.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
        } else if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (flagNames.count(arg)) {
            out.flags.insert(arg);
        } else {
            const size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            if (!valueNames.count(name)) {
                error = "unknown option " + name;
                return false;
            }
            if (eq != std::string::npos) {
                out.values[name] = arg.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                out.values[name] = args[++i];
            } else {
                error = name + " needs a value";
                return false;
            }
        }
    }
    return true;
}

bool ParseWholeNumber(const std::string &text, uint32_t &value) {
    const char *stop = nullptr;
    value = ParseManifestNumber(text.c_str(), &stop);
    return stop != text.c_str() && *stop == '\0';
}

}  // namespace marvostell::tools
