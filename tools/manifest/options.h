// Command-line options of a subcommand: positional arguments, "--name value"
// (or "--name=value") options and "--flag" switches.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "arguments.h"

namespace marvostell::tools {

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    bool help = false;

    bool Has(const std::string &flag) const { return flags.count(flag) != 0; }
    const std::string *Value(const std::string &name) const {
        auto it = values.find(name);
        return it == values.end() ? nullptr : &it->second;
    }
};

// False with a message for an unknown option or one missing its value.
bool ParseOptions(const std::vector<std::string> &args, const std::set<std::string> &valueNames,
                  const std::set<std::string> &flagNames, Options &out, std::string &error);

}  // namespace marvostell::tools
