// The faults of marvostell-test-server's command line, "--fault PATH=FAULT[,FAULT...]",
// turned into the server script's directives (server_script.h) for one route each.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server_script.h"

namespace marvostell::testing {

class FaultRoutes {
public:
    // root is the served folder ("" for none): a faulted path's body is its file.
    explicit FaultRoutes(std::string root) : root_(std::move(root)) {}

    // Takes one "PATH=FAULT[,FAULT...]"; false, with *error set, when it is not.
    // Faults for the same path add up across calls.
    bool Add(const std::string &option, std::string *error);

    // The routes, in the order their paths were first named.
    void ApplyTo(TestServer &server) const;

private:
    struct Route {
        std::string path;
        std::vector<std::string> lines;  // directives, each already checked
        int status = 200;
    };
    std::string root_;
    std::vector<Route> routes_;
};

// "Not Found" for 404; "Status" for a code it does not know.
const char *ReasonPhrase(int status);

}  // namespace marvostell::testing
