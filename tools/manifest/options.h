// Command-line options of a subcommand: positional arguments, "--name value"
// (or "--name=value") options and "--flag" switches.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "arguments.h"
#include "manifest/signature.h"

namespace marvostell::tools {

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;            // the last value given
    std::map<std::string, std::vector<std::string>> every;  // each value given, in order
    std::set<std::string> flags;
    bool help = false;

    bool Has(const std::string &flag) const { return flags.count(flag) != 0; }
    const std::string *Value(const std::string &name) const {
        auto it = values.find(name);
        return it == values.end() ? nullptr : &it->second;
    }
    std::vector<std::string> Values(const std::string &name) const {
        auto it = every.find(name);
        return it == every.end() ? std::vector<std::string>() : it->second;
    }
};

// False with a message for an unknown option or one missing its value.
bool ParseOptions(const std::vector<std::string> &args, const std::set<std::string> &valueNames,
                  const std::set<std::string> &flagNames, Options &out, std::string &error);

// Every --trusted-key given, each one key or several separated by commas or
// white space, as hosts take them; false with a message for a malformed one.
bool TrustedKeyOptions(const Options &options, std::vector<PublicKey> &keys, std::string &error);

}  // namespace marvostell::tools
