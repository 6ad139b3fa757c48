#include "trace_facts.h"

#include <cstdlib>

namespace {

bool StartsWith(const std::string &text, const char *prefix, std::string::size_type &after) {
    const std::string p = prefix;
    if (text.compare(0, p.size(), p) != 0) return false;
    after = p.size();
    return true;
}

// The text without the line end the module puts after each trace.
std::string Line(const std::string &text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

bool ParseServerTrace(const std::string &text, std::string &server) {
    const std::string line = Line(text);
    std::string::size_type start;
    if (!StartsWith(line, "Marvostell!Server ", start)) return false;
    // The server part holds no "/", so the first ", File " ends it.
    const std::string::size_type end = line.find(", File ", start);
    if (end == std::string::npos) return false;
    server = line.substr(start, end - start);
    return true;
}

bool ParseDownloadTrace(const std::string &text, const std::string &localDir,
                        DownloadFacts &facts) {
    const std::string line = Line(text);
    std::string::size_type start;
    if (!StartsWith(line, "Marvostell!Download(", start)) return false;
    const std::string::size_type sizeAt = line.rfind(", size ");
    if (sizeAt == std::string::npos || sizeAt < start) return false;
    const std::string paths = line.substr(start, sizeAt - start);
    std::string::size_type arrow = localDir.empty() ? std::string::npos
                                                    : paths.find("->" + localDir);
    if (arrow == std::string::npos) arrow = paths.find("->");
    if (arrow == std::string::npos) return false;
    facts.serverPath = paths.substr(0, arrow);
    facts.localPath = paths.substr(arrow + 2);
    // The module prints the size as a signed number; it is at most 128 MiB.
    facts.size = static_cast<uint32_t>(std::strtoul(line.c_str() + sizeAt + 7, nullptr, 10));
    return true;
}

bool ParseDigestTrace(const std::string &text, std::string &actual, std::string &expected) {
    const std::string line = Line(text);
    std::string::size_type start;
    if (!StartsWith(line, "Marvostell!Md5:", start)) return false;
    const std::string::size_type server = line.find(", Server:", start);
    if (server == std::string::npos) return false;
    actual = line.substr(start, server - start);
    expected = line.substr(server + 9);
    return true;
}
