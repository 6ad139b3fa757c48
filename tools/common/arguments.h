// Command lines of both tools, split into options and operands in the order
// given: "--name value" options, "--flag" switches and short aliases, and
// where a tool wants them "--name=value" and "--" (only operands after it).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace marvostell::tools {

struct ArgumentRules {
    std::set<std::string> valueNames;            // options followed by a value
    std::set<std::string> flagNames;             // switches
    std::map<std::string, std::string> aliases;  // e.g. "-q" for "--quiet"
    bool equalsValue = false;                    // "--name=value" gives a value too
    bool endOfOptions = false;                   // "--" makes the rest operands
};

// An option (its name, and its value for a value option) or, with an empty
// name, an operand.
struct Argument {
    std::string name;
    std::string value;
    bool IsOperand() const { return name.empty(); }
};

struct ArgumentFault {
    enum Kind { kNone, kUnknown, kNoValue };
    Kind kind = kNone;
    std::string option;  // the option at fault
};

// Splits `args` up to the first fault, which it returns; `out` holds the
// arguments before it, so that a tool can report an earlier mistake first.
ArgumentFault SplitArguments(const std::vector<std::string> &args, const ArgumentRules &rules,
                             std::vector<Argument> &out);

// A version or other number as the module reads it, the whole text used;
// false also when its magnitude does not fit in 32 bits.
bool ParseWholeNumber(const std::string &text, uint32_t &value);

}  // namespace marvostell::tools
