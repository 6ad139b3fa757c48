#include "options.h"

namespace marvostell::tools {

bool ParseOptions(const std::vector<std::string> &args, const std::set<std::string> &valueNames,
                  const std::set<std::string> &flagNames, Options &out, std::string &error) {
    ArgumentRules rules{valueNames, flagNames, {{"-h", "--help"}}, true, true};
    rules.flagNames.insert("--help");
    std::vector<Argument> given;
    const ArgumentFault fault = SplitArguments(args, rules, given);
    for (const Argument &argument : given) {
        if (argument.IsOperand())
            out.positional.push_back(argument.value);
        else if (argument.name == "--help")
            out.help = true;
        else if (rules.valueNames.count(argument.name)) {
            out.values[argument.name] = argument.value;
            out.every[argument.name].push_back(argument.value);
        }
        else
            out.flags.insert(argument.name);
    }
    if (fault.kind == ArgumentFault::kUnknown) error = "unknown option " + fault.option;
    if (fault.kind == ArgumentFault::kNoValue) error = fault.option + " needs a value";
    return fault.kind == ArgumentFault::kNone;
}

}  // namespace marvostell::tools

namespace marvostell::tools {

bool TrustedKeyOptions(const Options &options, std::vector<PublicKey> &keys, std::string &error) {
    keys.clear();
    for (const std::string &value : options.Values("--trusted-key")) {
        std::vector<PublicKey> some;
        std::string bad;
        if (!ParseTrustedKeys(value.c_str(), some, bad)) {
            error = "--trusted-key " + (bad.empty() ? value : bad) +
                    " is not a public key (88 characters of base64 for X and Y)";
            return false;
        }
        keys.insert(keys.end(), some.begin(), some.end());
    }
    return true;
}

}  // namespace marvostell::tools
