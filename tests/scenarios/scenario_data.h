// Scenarios as data: the files under data/ name each scenario and give the
// test server's script, the call's arguments and the expected outcome (see
// data/common.txt for the language).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scenario_runner.h"
#include "server_script.h"

namespace marvostell::testing {

struct Scenario {
    std::string name;
    ServerScript server;
    Check check;
    Outcome expected;
    // Where Wine's WinINet differs from Windows, which `expected` follows.
    std::optional<Outcome> wine;
    // Compare the raw requests too (only when the data gives them).
    bool raw = false;
};

// Reads the named files of dir in order (macros carry over from one file to
// the next); false, with *error naming the file and line, on a bad line.
bool LoadScenarios(const std::string &dir, const std::vector<std::string> &files,
                   std::vector<Scenario> *scenarios, std::string *error);

}  // namespace marvostell::testing
