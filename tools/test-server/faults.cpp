#include "faults.h"

#include <cstdlib>
#include <set>

namespace marvostell::testing {
namespace {

// The directives a fault may name: the script's, less those that set a body.
const std::set<std::string> kFaults = {"status", "drop",  "reset",   "abort", "trickle",
                                       "delay",  "wait",  "length",  "close", "chunked",
                                       "ranges", "header", "pattern"};

// "trickle:8192/10" to "trickle 8192 10"; "status:404" to "status 404 Not Found".
std::string Directive(const std::string &fault, std::string *name) {
    const size_t colon = fault.find(':');
    *name = fault.substr(0, colon);
    if (colon == std::string::npos) return fault;
    std::string args = fault.substr(colon + 1);
    if (*name == "trickle") {
        const size_t slash = args.find('/');
        if (slash != std::string::npos) args[slash] = ' ';
    }
    if (*name == "status") args += std::string(" ") + ReasonPhrase(std::atoi(args.c_str()));
    return *name + " " + args;
}

}  // namespace

const char *ReasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

bool FaultRoutes::Add(const std::string &option, std::string *error) {
    const size_t equals = option.find('=');
    if (equals == std::string::npos || equals == 0 || option[0] != '/') {
        *error = "want PATH=FAULT, PATH starting with '/': " + option;
        return false;
    }
    const std::string path = option.substr(0, equals);
    Route *route = nullptr;
    for (Route &r : routes_)
        if (r.path == path) route = &r;
    Route added{path, {}, 200};
    Route &target = route ? *route : added;
    // Checked on a scratch script, so that a bad fault names itself.
    ServerScript check;
    check.Line("route " + path, error);
    for (const std::string &line : target.lines) check.Line(line, error);
    const std::string faults = option.substr(equals + 1);
    size_t at = 0;
    do {
        size_t comma = faults.find(',', at);
        // A header's value may hold commas: the rest of the option is its value.
        if (faults.compare(at, 7, "header:") == 0) comma = std::string::npos;
        const std::string fault = faults.substr(at, comma - at);
        at = comma == std::string::npos ? faults.size() + 1 : comma + 1;
        std::string name;
        const std::string line = Directive(fault, &name);
        if (!kFaults.count(name) || !check.Line(line, error)) {
            *error = "unknown or malformed fault '" + fault + "' for " + path;
            return false;
        }
        target.lines.push_back(line);
        if (name == "status") target.status = check.routes().back().second.status;
    } while (at <= faults.size());
    if (!route) routes_.push_back(added);
    return true;
}

void FaultRoutes::ApplyTo(TestServer &server) const {
    for (const Route &route : routes_) {
        ServerScript script;
        std::string ignored;
        script.Line("route " + route.path, &ignored);
        for (const std::string &line : route.lines) script.Line(line, &ignored);
        Response r = script.routes().back().second;
        const bool success = route.status >= 200 && route.status < 300;
        if (success && r.pattern_size == 0 && !root_.empty()) {
            // The file as the folder would serve it, with the faults on top.
            r.file = root_ + route.path;
            r.ranges = true;  // as for a file, unless the last "ranges" says off
            for (const std::string &line : route.lines)
                if (line.compare(0, 7, "ranges ") == 0) r.ranges = line == "ranges on";
        } else if (!success) {
            r.body = std::to_string(route.status) + " " + r.reason + "\n";
        }
        server.route(route.path, r);
    }
}

}  // namespace marvostell::testing
