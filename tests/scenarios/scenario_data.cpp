#include "scenario_data.h"

#include "marvostell.h"
#include "offer_area.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace marvostell::testing {
namespace {

// The first word of a line and the rest after the blanks that follow it.
std::pair<std::string, std::string> Split(const std::string &line) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return {"", ""};
    const size_t end = line.find_first_of(" \t", start);
    if (end == std::string::npos) return {line.substr(start), ""};
    const size_t rest = line.find_first_not_of(" \t", end);
    return {line.substr(start, end - start), rest == std::string::npos ? "" : line.substr(rest)};
}

bool Number(const std::string &text, long long *value) {
    char *end = nullptr;
    *value = std::strtoll(text.c_str(), &end, 0);
    return !text.empty() && *end == '\0';
}

// Letters, digits and `extra`.
bool ValidName(const std::string &name, char extra) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [extra](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == extra;
    });
}

// A line of CheckNewVersionEx's options; false with *error empty when the word
// is none of them.
bool ExLine(const std::string &word, const std::string &rest, ExOptions &ex, std::string *error) {
    long long n = 0;
    if (word == "ex") {
        if (!rest.empty()) return *error = "ex takes nothing", false;
    } else if (word == "flags") {
        std::istringstream words(rest);
        for (std::string flag; words >> flag;) {
            if (flag == "check-only") ex.flags |= MARVOSTELL_CHECK_ONLY;
            else if (flag == "https") ex.flags |= MARVOSTELL_USE_HTTPS;
            else if (flag == "ignore-rollout") ex.flags |= MARVOSTELL_IGNORE_ROLLOUT;
            else return *error = "a flag is check-only, https or ignore-rollout", false;
        }
    } else if (word == "deadline" || word == "stall") {
        if (!Number(rest, &n) || n < 0) return *error = "bad seconds", false;
        (word == "deadline" ? ex.deadlineSeconds : ex.stallSeconds) = static_cast<uint32_t>(n);
    } else if (word == "user-agent") {
        ex.userAgent = ExpandText(rest);
    } else if (word == "offer-size") {
        if (!Number(rest, &n) || n < kOldOfferSize || n > static_cast<long long>(sizeof(MarvostellOffer)))
            return *error = "an offer size is 268 to 1364", false;
        ex.offerSize = static_cast<uint32_t>(n);
    } else if (word == "trusted-keys") {
        ex.trustedKeys = rest;
    } else if (word == "cancel-before") {
        ex.cancelAfterMs = 0;
    } else if (word == "cancel-after") {
        if (!Number(rest, &n) || n < 1) return *error = "bad milliseconds", false;
        ex.cancelAfterMs = static_cast<int>(n);
    } else if (word == "path-size") {
        auto [first, more] = Split(rest);
        ex.pathFits.clear();
        if (first == "fit") {
            auto [name, delta] = Split(more);
            if (name.empty() || (!delta.empty() && !Number(delta, &n))) return *error = "bad fit", false;
            ex.pathFits = name;
            ex.pathSize = delta.empty() ? 0 : static_cast<long>(n);
        } else {
            if (!Number(rest, &n) || n < 0) return *error = "bad size", false;
            ex.pathSize = static_cast<long>(n);
        }
    } else {
        return *error = "", false;
    }
    return true;
}

class Reader {
public:
    // body-file names files relative to `dir`.
    Reader(std::vector<Scenario> *out, std::string dir) : out_(out), dir_(std::move(dir)) {}

    bool Line(const std::string &raw, int depth, std::string *error);
    bool Finish(std::string *error);

private:
    bool Expect(const std::string &word, const std::string &rest, Outcome &outcome,
                std::string *error);
    bool Call(const std::string &word, const std::string &rest, Check &check, std::string *error);
    bool Expand(const std::string &name, const std::string &args, int depth, std::string *error);

    std::vector<Scenario> *out_;
    std::string dir_;
    std::map<std::string, std::vector<std::string>> macros_;
    std::string defining_;
    bool open_ = false;
    bool toWine_ = false;  // the outcome lines being read are Wine's
    std::vector<std::string> wineLines_;
    std::set<std::string> names_;
};

bool Reader::Expand(const std::string &name, const std::string &args, int depth,
                    std::string *error) {
    if (depth > 8) return *error = "definitions nested too deep", false;
    const std::vector<std::string> &lines = macros_[name];
    int used = 0;
    for (const std::string &line : lines)
        for (int n = 1; n <= 9; ++n)
            if (line.find("{" + std::to_string(n) + "}") != std::string::npos) used = std::max(used, n);
    std::vector<std::string> values;
    std::string rest = args;
    for (int n = 1; n <= used; ++n) {
        if (n == used) {
            values.push_back(rest);
        } else {
            auto [word, tail] = Split(rest);
            values.push_back(word);
            rest = tail;
        }
    }
    for (std::string line : lines) {
        for (int n = 1; n <= used; ++n) {
            const std::string key = "{" + std::to_string(n) + "}";
            for (size_t at; (at = line.find(key)) != std::string::npos;) line.replace(at, key.size(), values[n - 1]);
        }
        if (!Line(line, depth + 1, error)) return false;
    }
    return true;
}

bool Reader::Call(const std::string &word, const std::string &rest, Check &check,
                  std::string *error) {
    long long n = 0;
    if (word == "url") {
        check.url = ExpandText(rest);
    } else if (word == "version") {
        if (!Number(rest, &n)) return *error = "bad version", false;
        check.version = static_cast<uint32_t>(n);
    } else if (word == "seed") {
        auto [name, text] = Split(rest);
        check.seed.push_back({name, ExpandText(text)});
    } else if (word == "seed-pattern") {
        auto [name, size] = Split(rest);
        if (!Number(size, &n)) return *error = "bad size", false;
        std::string content(static_cast<size_t>(n), '\0');
        for (size_t i = 0; i < content.size(); ++i) content[i] = PatternByte(i);
        check.seed.push_back({name, content});
    } else if (word == "seed-file") {
        auto [name, file] = Split(rest);
        std::ifstream in(dir_ + "/" + file, std::ios::binary);
        if (!in) return *error = "cannot read " + file, false;
        check.seed.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    } else if (word == "dir") {
        check.dirAsGiven = rest;
    } else if (word == "dir-suffix") {
        check.dirSuffix = rest;
    } else if (word == "missing-dir") {
        check.missingDir = true;
    } else if (word == "no-window") {
        check.window = false;
    } else if (word == "hold") {
        check.hold = rest;
    } else if (word == "fsize") {
        if (!Number(rest, &n)) return *error = "bad size", false;
        check.fileSizeLimit = static_cast<long>(n);
    } else if (word == "tls") {
        if (!rest.empty()) return *error = "tls takes nothing", false;
        check.tls = true;
    } else if (word == "native-only") {
        if (rest.empty()) return *error = "native-only needs a reason", false;
        check.nativeOnly = rest;
    } else if (word == "rounds") {
        if (!Number(rest, &n) || n < 1) return *error = "bad count", false;
        check.rounds = static_cast<int>(n);
    } else {
        // Any option of CheckNewVersionEx makes the call that one.
        ExOptions ex = check.ex.value_or(ExOptions{});
        if (!ExLine(word, rest, ex, error)) return false;
        check.ex = ex;
    }
    return true;
}

bool Reader::Expect(const std::string &word, const std::string &rest, Outcome &outcome,
                    std::string *error) {
    long long n = 0;
    if (word == "result") {
        if (!Number(rest, &n)) return *error = "bad result", false;
        outcome.result = static_cast<int>(static_cast<uint32_t>(n));
    } else if (word == "path") {
        outcome.path = rest;
    } else if (word == "left") {
        auto [name, size] = Split(rest);
        auto [how, path] = Split(size);
        if (how == "served") size = std::to_string(out_->back().server.BodyOf(path).size());
        else if (!Number(size, &n)) return *error = "bad size", false;
        outcome.files.push_back(name + ":" + size);
        std::sort(outcome.files.begin(), outcome.files.end());
    } else if (word == "progress") {
        std::istringstream values(rest);
        for (std::string value; values >> value;) {
            const size_t dots = value.find("..");
            long long last = 0;
            if (!Number(value.substr(0, dots), &n) ||
                (dots != std::string::npos && !Number(value.substr(dots + 2), &last)))
                return *error = "bad progress", false;
            if (dots == std::string::npos) last = n;
            for (; n <= last; ++n) outcome.progress.push_back(static_cast<uint64_t>(n));
        }
    } else if (word == "request") {
        outcome.requests.push_back(rest);
    } else if (word == "raw") {
        outcome.rawRequests.push_back(ExpandText(rest));
        out_->back().raw = true;
    } else if (word == "offered") {
        auto [version, tail] = Split(rest);
        auto [size, section] = Split(tail);
        long long packageSize = 0;
        if (!Number(version, &n) || !Number(size, &packageSize)) return *error = "bad offer", false;
        outcome.offer = std::to_string(n) + " " + std::to_string(packageSize) + " " + section;
    } else if (word == "offered-more") {
        outcome.offerMore = ExpandText(rest);
    } else if (word == "offered-download") {
        if (!Number(rest, &n) || n < 0) return *error = "bad download size", false;
        outcome.offerDownload = static_cast<long>(n);
    } else if (word == "elapsed") {
        const size_t dots = rest.find("..");
        long long last = 0;
        if (dots == std::string::npos || !Number(rest.substr(0, dots), &n) ||
            !Number(rest.substr(dots + 2), &last) || n > last)
            return *error = "elapsed is MIN..MAX milliseconds", false;
        outcome.elapsedMinMs = static_cast<long>(n);
        outcome.elapsedMaxMs = static_cast<long>(last);
    } else {
        return *error = "", false;
    }
    return true;
}

bool Reader::Finish(std::string *error) {
    if (defining_.size()) return *error = "definition of " + defining_ + " without end", false;
    if (!open_) return true;
    open_ = false;
    Scenario &s = out_->back();
    if (wineLines_.empty()) return true;
    // A field the wine lines give replaces the whole field of the outcome.
    s.wine = s.expected;
    std::set<std::string> replaced;
    for (const std::string &line : wineLines_) {
        auto [word, rest] = Split(line);
        if (replaced.insert(word).second) {
            if (word == "left") s.wine->files.clear();
            if (word == "progress") s.wine->progress.clear();
            if (word == "request") s.wine->requests.clear();
        }
        if (!Expect(word, rest, *s.wine, error)) return *error = "bad wine line: " + *error, false;
    }
    wineLines_.clear();
    return true;
}

bool Reader::Line(const std::string &raw, int depth, std::string *error) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto [word, rest] = Split(line);
    if (word.empty() || word[0] == '#') return true;
    if (!defining_.empty()) {
        if (word == "end") defining_.clear();
        else macros_[defining_].push_back(line);
        return true;
    }
    // Several lines may share one, separated by " | ".
    if (const size_t bar = line.find(" | "); bar != std::string::npos)
        return Line(line.substr(0, bar), depth, error) && Line(line.substr(bar + 3), depth, error);
    if (word == "define") {
        if (!Finish(error)) return false;
        if (!ValidName(Split(rest).first, '-')) return *error = "a name is letters, digits and -", false;
        defining_ = Split(rest).first;
        macros_[defining_].clear();
        return true;
    }
    if (macros_.count(word)) return Expand(word, rest, depth, error);
    if (word == "scenario") {
        if (!Finish(error)) return false;
        if (!ValidName(rest, '_')) return *error = "a scenario name is letters, digits and _", false;
        if (!names_.insert(rest).second) return *error = "scenario named twice", false;
        out_->emplace_back();
        out_->back().name = rest;
        out_->back().server = ServerScript(dir_);
        open_ = true;
        return true;
    }
    if (!open_) return *error = "outside a scenario", false;
    Scenario &s = out_->back();
    if (word == "wine") {
        toWine_ = true;
        const bool read = Line(rest, depth, error);
        toWine_ = false;
        return read;
    }
    if (toWine_) return wineLines_.push_back(line), true;
    if (Call(word, rest, s.check, error) || !error->empty()) return error->empty();
    if (Expect(word, rest, s.expected, error) || !error->empty()) return error->empty();
    return s.server.Line(line, error);
}

}  // namespace

bool LoadScenarios(const std::string &dir, const std::vector<std::string> &files,
                   std::vector<Scenario> *scenarios, std::string *error) {
    Reader reader(scenarios, dir);
    for (const std::string &file : files) {
        const std::string path = dir + "/" + file;
        std::ifstream in(path);
        if (!in) return *error = "cannot read " + path, false;
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            error->clear();
            if (!reader.Line(line, 0, error)) {
                *error = path + ":" + std::to_string(number) + ": " + *error + ": " + line;
                return false;
            }
        }
        if (!reader.Finish(error)) return *error = path + ": " + *error, false;
    }
    return true;
}

}  // namespace marvostell::testing
