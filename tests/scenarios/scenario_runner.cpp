#include "scenario_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "child.h"
#include "closed_port.h"
#include "ex_call.h"
#include "odd_ports.h"
#include "offer_area.h"
#include "marvostell.h"
#include "package/digest.h"
#include "temp_dir.h"

namespace marvostell::testing {
namespace {

void ReplaceAll(std::string &text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::vector<std::string> ListFiles(const std::string &path) {
    std::vector<std::string> files;
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat info;
            stat((path + "/" + name).c_str(), &info);
            files.push_back(name + ":" + std::to_string(info.st_size));
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> FileDigests(const std::string &path) {
    std::vector<std::string> digests;
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            struct stat info;
            if (lstat((path + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            std::ifstream in(path + "/" + name, std::ios::binary);
            digests.push_back(name + ":" +
                              Md5Hex(std::string(std::istreambuf_iterator<char>(in), {})));
        }
        closedir(dir);
    }
    std::sort(digests.begin(), digests.end());
    return digests;
}

std::string ToWinePath(const std::string &path) {
    std::string result = "Z:" + path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::vector<uint64_t> ParseList(const std::string &text) {
    std::vector<uint64_t> values;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');)
        if (!item.empty()) values.push_back(std::stoull(item));
    return values;
}

std::string HeaderValue(const std::string &raw, const std::string &name) {
    std::stringstream stream(raw);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0 &&
            line[name.size()] == ':') {
            const size_t start = line.find_first_not_of(' ', name.size() + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "";
}

void CollectProgress(void *context, uint32_t, uintptr_t wparam, intptr_t) {
    static_cast<std::vector<uint64_t> *>(context)->push_back(wparam);
}

// Runs the check under Wine and reads the host's report.
void RunWine(const Target &target, const std::string &url, const std::string &dir,
             const Check &check, const std::string &holdPath, Outcome &outcome) {
    std::string command = std::string(MARVOSTELL_RUN_WINE) + " '" + target.host + "' '" +
                          target.dll + "' '" + url + "' '" + dir + "' " +
                          std::to_string(check.version);
    if (check.fileSizeLimit)
        command = "trap '' XFSZ; prlimit --fsize=" + std::to_string(check.fileSizeLimit) + " " +
                  command;
    if (!check.window) command += " --no-window";
    if (!holdPath.empty()) command += " --hold '" + holdPath + "'";
    if (check.rounds != 1) command += " --rounds " + std::to_string(check.rounds);
    if (check.ex) command += TestHostArguments(*check.ex, PathBufferSize(*check.ex, dir, "\\"));
    if (check.tls) command += " --trust-ca '" + ToWinePath(ScenarioCertificates().ca) + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot start " + command);
    std::string report;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) report.append(buffer, n);
    const int status = pclose(pipe);

    // run-wine has already retried a program that Wine did not start; a host
    // that started is judged by its record, which must be complete.
    bool open = false;
    std::stringstream stream(report);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "record-begin") open = true;
        else if (line == "record-end" && open) open = false, ++outcome.records;
        else if (line.rfind("result=", 0) == 0) outcome.result = std::stoi(line.substr(7));
        else if (line.rfind("path=", 0) == 0) outcome.path = line.substr(5);
        else if (line.rfind("progress=", 0) == 0) outcome.progress = ParseList(line.substr(9));
        else if (line.rfind("offer=", 0) == 0) outcome.offer = line.substr(6);
        else if (line.rfind("offer-more=", 0) == 0) outcome.offerMore = line.substr(11);
        else if (line.rfind("offer-download=", 0) == 0) outcome.offerDownload = std::stol(line.substr(15));
        else if (line.rfind("guard=", 0) == 0) outcome.overrun = line != "guard=intact";
        else if (line.rfind("elapsed=", 0) == 0) outcome.elapsedMs = std::stol(line.substr(8));
        else if (line.rfind("errormode=", 0) == 0 && line != "errormode=0x8001,0x8001")
            throw std::runtime_error("error mode after load/unload: " + line);
    }
    if (open || outcome.records != check.rounds)
        throw std::runtime_error("test host gave no complete record (status " +
                                 std::to_string(status) + "): " + command + "\n" + report);
    if (status != 0)
        std::fprintf(stderr, "note: test host ended with status %d after a complete record: %s\n",
                     status, command.c_str());
}

// One call of the export the check names, its path buffer followed by a
// guard; fills the outcome's result, path, offer, overrun and elapsed time.
void CallExport(const Check &check, MarvostellNotifyTarget *notify, const std::string &url,
                const std::string &dir, Outcome &outcome) {
    const uint32_t size = check.ex ? PathBufferSize(*check.ex, dir, "/") : 4096;
    std::vector<char> path(size + kPathGuardBytes, '#');
    if (!check.ex) path[size - 1] = '\0';
    OfferArea offer(check.ex ? check.ex->offerSize : sizeof(MarvostellOffer));
    const auto start = std::chrono::steady_clock::now();
    if (!check.ex) {
        outcome.result = CheckNewVersion(notify, 0x8007, check.version, url.c_str(), dir.c_str(),
                                         path.data());
    } else {
        const ExOptions &ex = *check.ex;
        Canceller cancel(ex.cancelAfterMs);
        const MarvostellOptions options{sizeof(MarvostellOptions), ex.flags,
                                        ex.trustedKeys ? ex.trustedKeys->c_str() : nullptr,
                                        cancel.flag(),
                                        ex.deadlineSeconds, ex.stallSeconds,
                                        ex.userAgent ? ex.userAgent->c_str() : nullptr};
        outcome.result = CheckNewVersionEx(notify, 0x8007, check.version, url.c_str(), dir.c_str(),
                                           path.data(), size, &options, offer.get());
    }
    outcome.elapsedMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
    if (path[0] != '#') outcome.path.assign(path.data(), strnlen(path.data(), size));
    outcome.offer = offer.Text();
    outcome.offerMore = offer.More();
    outcome.offerDownload = offer.Download();
    outcome.overrun = offer.Overrun() ||
                      std::any_of(path.begin() + size, path.end(), [](char c) { return c != '#'; });
}

// Calls the export in this process, or, under a file-size limit, in a child
// (the limit must not reach the test's own files) that reports back by pipe.
void RunNative(const Check &check, const std::string &url, const std::string &dir,
               Outcome &outcome) {
    if (check.tls) setenv("SSL_CERT_FILE", ScenarioCertificates().ca.c_str(), 1);
    std::vector<uint64_t> progress;
    MarvostellNotifyTarget notify{CollectProgress, &progress};
    MarvostellNotifyTarget *target = check.window ? &notify : nullptr;
    if (!check.fileSizeLimit) {
        for (int round = 0; round < check.rounds; ++round, ++outcome.records) {
            progress.clear();
            CallExport(check, target, url, dir, outcome);
        }
        outcome.progress = progress;
        return;
    }
    const ChildReport child = InChild([&] {
        LimitFileSize(check.fileSizeLimit);
        Outcome got;
        CallExport(check, target, url, dir, got);
        std::string report = std::to_string(got.result) + "\n" + got.path + "\n" + got.offer +
                             "\n" + got.offerMore + "\n" + std::to_string(got.offerDownload) +
                             "\n" + std::to_string(got.overrun) + "\n";
        for (uint64_t p : progress) report += std::to_string(p) + ",";
        return report;
    });
    if (!child.exited) throw std::runtime_error("the check's child process died");
    std::stringstream stream(child.text);
    std::string line;
    std::getline(stream, line);
    outcome.result = std::stoi(line);
    std::getline(stream, outcome.path);
    std::getline(stream, outcome.offer);
    std::getline(stream, outcome.offerMore);
    std::getline(stream, line);
    outcome.offerDownload = std::stol(line);
    std::getline(stream, line);
    outcome.overrun = line != "0";
    std::getline(stream, line);
    outcome.progress = ParseList(line);
    outcome.records = 1;
}

}  // namespace

std::string Md5Hex(const std::string &data) {
    CMd5Hex md5;
    md5.Add(data.data(), data.size());
    return md5.Finish();
}

namespace {

// Holds path as a Windows handle with share mode 0 would: the lock that
// keeps other openers out and the one that keeps renames and deletes out.
int HoldWithoutSharing(const std::string &path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    flock(fd, LOCK_EX);
    struct flock denyDelete {};
    denyDelete.l_type = F_RDLCK;
    denyDelete.l_whence = SEEK_SET;
    fcntl(fd, F_OFD_SETLK, &denyDelete);
    return fd;
}

// One run's local directory and the arguments that name it.
struct Setup {
    bool wine = false;
    std::unique_ptr<TempDir> root = std::make_unique<TempDir>("scenario");
    std::string sep, dir, url, hostDir;
    std::string givenUrl, server;  // check.url as given; the host and port {server} names
    // The listeners the URL names, alive until the check is over.
    std::unique_ptr<StuckPort> stuck;
    std::unique_ptr<PlainAnswerPort> plain;
};

Setup Prepare(const Target &target, TestServer &server, const Check &check) {
    Setup s;
    s.wine = target.name != "native";
    s.sep = s.wine ? "\\" : "/";
    s.dir = check.missingDir ? *s.root / "missing" : s.root->path();
    for (const Seed &seed : check.seed) {
        const std::string path = s.dir + "/" + seed.name;
        if (seed.link) symlink(seed.content.c_str(), path.c_str());
        else if (seed.hardLink) link(seed.content.c_str(), path.c_str());
        else if (seed.directory) mkdir(path.c_str(), 0755);
        else std::ofstream(path, std::ios::binary) << seed.content;
    }
    s.url = s.givenUrl = check.url;
    s.server = (check.tls ? "localhost:" : "127.0.0.1:") + std::to_string(server.port());
    ReplaceAll(s.url, "{server}", s.server);
    ReplaceAll(s.url, "{server6}", "[::1]:" + std::to_string(server.port()));
    ReplaceAll(s.url, "{closed}", "127.0.0.1:" + std::to_string(ClosedPort()));
    if (s.url.find("{stuck}") != std::string::npos) {
        s.stuck = std::make_unique<StuckPort>();
        ReplaceAll(s.url, "{stuck}", "127.0.0.1:" + std::to_string(s.stuck->port()));
    }
    if (s.url.find("{plain}") != std::string::npos) {
        s.plain = std::make_unique<PlainAnswerPort>();
        ReplaceAll(s.url, "{plain}", "127.0.0.1:" + std::to_string(s.plain->port()));
    }
    std::string suffix = check.dirSuffix;
    ReplaceAll(suffix, "{sep}", s.sep);
    s.hostDir = (s.wine ? ToWinePath(s.dir) : s.dir) + suffix;
    if (check.dirAsGiven) {
        s.hostDir = *check.dirAsGiven;
        ReplaceAll(s.hostDir, "{sep}", s.sep);
    }
    server.clear_requests();
    return s;
}

// Runs one check of a prepared directory.
void RunOne(const Target &target, const Setup &s, const Check &check, Outcome &outcome) {
    // A check run beside the prepared one may name another {server} URL.
    std::string url = check.url;
    ReplaceAll(url, "{server}", s.server);
    if (check.url == s.givenUrl) url = s.url;
    if (s.wine) {
        RunWine(target, url, s.hostDir, check,
                check.hold.empty() ? "" : ToWinePath(s.dir + "/" + check.hold), outcome);
    } else {
        RunNative(check, url, s.hostDir, outcome);
    }
    // The path as the host received it, made relative to the local directory.
    const std::string prefix = (s.wine ? ToWinePath(s.dir) : s.dir) + s.sep;
    if (outcome.path.rfind(prefix, 0) == 0) outcome.path = outcome.path.substr(prefix.size());
}

// The directory's files and the servers' requests.
void Finish(TestServer &server, const Setup &s, const Check &check, Outcome &outcome,
            TestServer *http) {
    outcome.files = ListFiles(s.dir);
    if (check.digests) outcome.digests = FileDigests(s.dir);
    const std::string port = std::to_string(server.port());
    for (std::string raw : server.requests()) {
        const std::string line = raw.substr(0, raw.find(" HTTP/"));
        const std::string range = HeaderValue(raw, "Range");
        outcome.requests.push_back(line + (range.empty() ? "" : " Range=" + range));
        ReplaceAll(raw, ":" + port, ":PORT");
        outcome.rawRequests.push_back(raw);
    }
    for (const std::string &raw : http ? http->requests() : std::vector<std::string>())
        outcome.requests.push_back("http " + raw.substr(0, raw.find(" HTTP/")));
}

}  // namespace

const TestCertificates &ScenarioCertificates() {
    static const TempDir dir("scenario-certificates");
    static const TestCertificates made = MakeTestCertificates(dir.path());
    return made;
}

Outcome RunCheck(const Target &target, TestServer &server, const Check &check, TestServer *http) {
    const Setup s = Prepare(target, server, check);
    if (http) http->clear_requests();
    Outcome outcome;
    // Natively the hold is taken here; the Wine host takes its own.
    const int held = !s.wine && !check.hold.empty() ? HoldWithoutSharing(s.dir + "/" + check.hold) : -1;
    RunOne(target, s, check, outcome);
    if (held >= 0) close(held);
    Finish(server, s, check, outcome, http);
    return outcome;
}

std::vector<Outcome> RunChecksTogether(const Target &target, TestServer &server,
                                       const std::vector<Check> &checks) {
    const Setup s = Prepare(target, server, checks.front());
    const int count = static_cast<int>(checks.size());
    std::vector<Outcome> outcomes(checks.size());
    std::mutex mutex;
    std::condition_variable go;
    int waiting = 0;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < checks.size(); ++i) {
        threads.emplace_back([&, i] {
            {
                // All start when the last one is ready.
                std::unique_lock<std::mutex> lock(mutex);
                if (++waiting == count) go.notify_all();
                go.wait(lock, [&] { return waiting == count; });
            }
            RunOne(target, s, checks[i], outcomes[i]);
        });
    }
    for (std::thread &t : threads) t.join();
    Finish(server, s, checks.front(), outcomes.front(), nullptr);
    for (Outcome &o : outcomes) {
        o.files = outcomes.front().files;
        o.digests = outcomes.front().digests;
        o.requests = outcomes.front().requests;
    }
    return outcomes;
}

}  // namespace marvostell::testing
