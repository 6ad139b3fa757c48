#include "server_script.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace marvostell::testing {
namespace {

std::string Unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x':
            if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        default: out += e; break;
        }
    }
    return out;
}

bool ReadFile(const std::string &path, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    *out = content.str();
    return true;
}

}  // namespace

std::string ExpandText(const std::string &text) {
    static const std::string open = "%repeat[", close = "]%";
    std::string out;
    size_t at = 0;
    for (size_t start; (start = text.find(open, at)) != std::string::npos;) {
        const size_t end = text.find(close, start);
        const size_t by = text.find(" x ", start);
        if (end == std::string::npos || by == std::string::npos || by > end) break;
        out += Unescape(text.substr(at, start - at));
        const std::string piece = Unescape(text.substr(by + 3, end - by - 3));
        const unsigned long count = std::stoul(text.substr(start + open.size()));
        // Megabytes at times (a padded header): each scenario test reads all the data.
        if (piece.size() == 1) {
            out.append(count, piece[0]);
        } else {
            out.reserve(out.size() + count * piece.size());
            for (unsigned long n = count; n > 0; --n) out += piece;
        }
        at = end + close.size();
    }
    return out + Unescape(text.substr(at));
}

bool ServerScript::Line(const std::string &text, std::string *error) {
    std::string line = text;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') return true;
    const std::string word = line.substr(start, line.find_first_of(" \t", start) - start);
    const size_t at = line.find_first_not_of(" \t", start + word.size());
    const std::string rest = at == std::string::npos ? std::string() : line.substr(at);
    std::istringstream args(rest);
    const auto fail = [&](const char *why) {
        *error = why;
        return false;
    };
    if (word == "route") {
        if (rest.empty()) return fail("route needs a path");
        routes_.emplace_back(rest, Response());
        return true;
    }
    if (routes_.empty()) return fail("directive before the first route");
    Response &r = routes_.back().second;
    if (word == "status") {
        if (!(args >> r.status)) return fail("bad status");
        std::getline(args >> std::ws, r.reason);
    } else if (word == "header") {
        r.headers.push_back(ExpandText(rest));
    } else if (word == "body" || word == "file") {
        r.body += ExpandText(rest);
        if (word == "file") r.ranges = true;
    } else if (word == "body-file") {
        const std::string name = !rest.empty() && rest[0] == '/' ? rest : dir_ + "/" + rest;
        if (!ReadFile(name, &r.body)) return fail("cannot read body file");
        r.ranges = true;
    } else if (word == "pattern") {
        if (!(args >> r.pattern_size)) return fail("bad size");
    } else if (word == "ranges") {
        r.ranges = rest == "on";
    } else if (word == "chunked") {
        r.chunked = true;
    } else if (word == "length") {
        if (!(args >> r.declared_length)) return fail("bad length");
    } else if (word == "drop") {
        if (!(args >> r.drop_after)) return fail("bad byte count");
    } else if (word == "abort") {
        r.abort_before_headers = true;
    } else if (word == "reset") {
        r.reset = true;
    } else if (word == "trickle") {
        if (!(args >> r.trickle_piece >> r.trickle_delay_ms)) return fail("bad trickle");
    } else if (word == "delay") {
        if (!(args >> r.body_delay_ms)) return fail("bad delay");
    } else if (word == "wait") {
        if (!(args >> r.head_delay_ms)) return fail("bad wait");
    } else if (word == "close") {
        r.close = true;
    } else {
        return fail("unknown directive");
    }
    return true;
}

std::string ServerScript::BodyOf(const std::string &path) const {
    for (auto it = routes_.rbegin(); it != routes_.rend(); ++it)
        if (it->first == path) return it->second.body;
    return "";
}

void ServerScript::ApplyTo(TestServer &server) const {
    for (const auto &route : routes_) server.route(route.first, route.second);
}

bool LoadServerScript(const std::string &file, TestServer &server, std::string *error) {
    std::ifstream in(file);
    if (!in) {
        *error = "cannot read " + file;
        return false;
    }
    const size_t slash = file.rfind('/');
    ServerScript script(slash == std::string::npos ? "." : file.substr(0, slash));
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        std::string why;
        if (!script.Line(line, &why)) {
            *error = file + ":" + std::to_string(number) + ": " + why + ": " + line;
            return false;
        }
    }
    script.ApplyTo(server);
    return true;
}

}  // namespace marvostell::testing
