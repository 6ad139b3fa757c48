// marvostell-check: one update check from a shell, as a host would run it,
// with progress and an explanation of the result for support staff. The
// module's core is linked into the program, so that the check's events can
// be shown (--verbose) and explain the result in the core's own terms.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "call.h"
#include "call_record.h"
#include "diagnosis.h"
#include "framework/strings.h"
#include "http/http_get.h"
#include "interrupt.h"
#include "json_report.h"
#include "local_file.h"
#include "manifest/manifest_fetch.h"
#include "marvostell.h"
#include "options.h"
#include "package/package_entry.h"
#include "progress.h"
#include "proxy.h"
#include "result_text.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// The console's columns; 0 when unknown.
size_t StderrColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    struct winsize size = {};
    if (ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col) return size.ws_col;
#endif
    const char *columns = std::getenv("COLUMNS");
    return columns ? static_cast<size_t>(std::strtoul(columns, nullptr, 10)) : 0;
}

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string HostAndPort(const std::string &server) {
    std::string host;
    INTERNET_PORT port;
    marvostell::SplitHostPort(server, host, port);
    return host + ":" + std::to_string(port);
}

// The result on standard output: words, or one JSON object.
struct Reporter {
    const Options &options;
    const CallRecord &record;
    double start;

    void Report(int result, const marvostell::CheckOutcome &outcome,
                const std::string &headline, int exitStatus,
                const std::vector<std::string> &lines) const {
        if (options.json) {
            JsonFacts facts;
            facts.result = result;
            facts.exitStatus = exitStatus;
            facts.message = headline;
            facts.elapsedSeconds = SteadySeconds() - start;
            std::string host;
            INTERNET_PORT port;
            if (!record.server.empty()) {
                marvostell::SplitHostPort(record.server, host, port);
                facts.proxy = ProxyInUse(host);
            }
            std::printf("%s\n", JsonReport(facts, outcome, record).c_str());
        } else {
            std::printf("%s\n", headline.c_str());
            for (const std::string &line : lines) std::printf("  %s\n", line.c_str());
        }
        std::fflush(stdout);
    }
};

// Turns the check's events into progress, --verbose lines and the record the
// diagnosis reads.
class Listener : public CallListener {
public:
    Listener(const Options &options, ProgressDisplay &display, CallRecord &record,
             const Reporter &reporter)
        : m_options(options), m_display(display), m_record(record), m_recorder(record),
          m_reporter(reporter) {
        if (!record.server.empty()) m_hostPort = HostAndPort(record.server);
    }

    void OnSelectionEvent(const marvostell::SelectionEvent &e) override {
        m_recorder.OnSelectionEvent(e);
        if (!m_options.verbose || !EndsSelection(e)) return;
        for (const std::string &line : marvostell::tools::ExplanationLines(m_record.selection))
            m_display.PrintLine(line);
    }

    void OnManifestEvent(const marvostell::ManifestEvent &e) override {
        m_recorder.OnManifestEvent(e);
    }

    void OnPackageEvent(const marvostell::PackageEvent &e) override {
        using marvostell::PackageEvent;
        m_recorder.OnPackageEvent(e);
        switch (e.kind) {
        case PackageEvent::kEntry:
            m_name = marvostell::LocalNameOf(e.path);
            break;
        case PackageEvent::kRequest:
            m_requested = true;
            // A patch or packed file is drawn at its own size, until it gives way.
            m_display.StartPackage(m_name,
                                   m_record.deltaSize && m_record.deltaFellBack.empty() ? m_record.deltaSize
                                                                                        : m_record.size,
                                   e.from);
            m_display.Connecting(m_hostPort);
            break;
        case PackageEvent::kDigest:
            // No request before this digest check: the file had its size.
            if (!m_requested && !m_options.quiet)
                m_display.PrintLine("Package " + m_name + ": already complete on disk (" +
                                    std::to_string(m_record.size) +
                                    " bytes or more); nothing to fetch");
            m_requested = false;
            break;
        default:
            break;
        }
        if (m_options.verbose) m_display.PrintLine(DescribePackageEvent(e));
    }

    void OnProgress(unsigned percent) override { m_display.Percent(percent); }

    // CheckNewVersion's rules cannot stop a transfer under way: on Ctrl-C
    // the program leaves it, as a host that exits would, and the bytes
    // written so far stay for the next check.
    void OnIdle() override {
        if (m_options.ex || !Interrupted()) return;
        m_display.Finish();
        ResultFacts facts;
        facts.keptBytes = KeptBytes(m_record);
        marvostell::CheckOutcome outcome;
        outcome.failure = {marvostell::Stage::kStopped, MARVOSTELL_CANCELLED};
        m_reporter.Report(MARVOSTELL_CANCELLED, outcome,
                          DescribeResult(MARVOSTELL_CANCELLED, marvostell::Stage::kStopped, facts)
                              .text,
                          kExitCancelled, {});
        std::fflush(stderr);
        std::_Exit(kExitCancelled);
    }

private:
    const Options &m_options;
    ProgressDisplay &m_display;
    CallRecord &m_record;
    CallRecorder m_recorder;
    const Reporter &m_reporter;
    std::string m_hostPort;
    std::string m_name;
    bool m_requested = false;  // the current attempt asked the server for bytes
};

// The defaults a check would otherwise take silently.
void NoteDefaults(const Options &options) {
    if (options.quiet) return;
    if (!options.hostVersionGiven)
        std::fprintf(stderr, "marvostell-check: no --host-version: checking as host version 0, "
                             "older than every package\n");
    if (options.dir.empty())
        std::fprintf(stderr, "marvostell-check: no --dir: update.ini and the package go to the "
                             "current directory\n");
}

int Check(const Options &options) {
    const double start = SteadySeconds();
    const std::string dir = options.dir.empty() ? "." : options.dir;
    CallRecord record;
    record.url = options.url;
    record.hostVersion = options.hostVersion;
    if (!marvostell::ParseServerUrl(options.url.c_str(), record.server, record.object).Ok())
        record.server.clear();

    ProgressDisplay display(stderr, StderrIsTerminal(), options.quiet, SteadySeconds);
    display.SetWidth(StderrColumns);
    const Reporter reporter{options, record, start};
    Listener listener(options, display, record, reporter);
    if (!record.server.empty()) {
        if (options.verbose)
            display.PrintLine("manifest request: " + record.object + " from " +
                              HostAndPort(record.server));
        display.Connecting(HostAndPort(record.server));
    }
    CallArguments arguments{options.hostVersion, options.url, dir, {}};
    if (options.ex) {
        marvostell::CheckOptions &ex = arguments.options;
        ex.strict = true;
        ex.checkOnly = options.checkOnly;
        ex.https = options.https;
        ex.cancel = InterruptFlag();
        ex.deadlineSeconds = options.deadlineSeconds;
        ex.stallSeconds = options.stallSeconds;
        ex.userAgent = options.userAgentGiven ? options.userAgent.c_str() : nullptr;
        ex.trustedKeys = options.trustedKeys.empty() ? nullptr : options.trustedKeys.c_str();
        ex.releaseKeys = true;
        ex.ignoreRollout = options.ignoreRollout;
    }
    CatchInterrupt();
    const CallResult call = RunCheck(arguments, listener);
    record.manifestPath = call.outcome.localManifest;
    display.Finish();

    Diagnosis diagnosis = Diagnose(call.result, call.outcome, record);
    if (diagnosis.exitStatus == 8) diagnosis.lines.push_back("local directory: " + dir);
    reporter.Report(call.result, call.outcome, diagnosis.headline, diagnosis.exitStatus,
                    diagnosis.lines);
    return diagnosis.exitStatus;
}

}  // namespace

int main(int argc, char **argv) {
#ifndef _WIN32
    // As the public header asks of POSIX hosts: under a file-size limit a
    // write past it fails the check (a local-file error) instead of ending
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "marvostell-check: %s\n%s", error.c_str(), kUsageLine);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kHelpText, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("marvostell-check %s\nmodule file version %s (the module's core is built "
                    "into this program)\n",
                    MARVOSTELL_TOOL_VERSION, MARVOSTELL_MODULE_FILE_VERSION);
        return 0;
    }
    if (options.dir.empty() && !DirectoryIsWritable("")) {
        std::fprintf(stderr,
                     "marvostell-check: the current directory is not writable; name a "
                     "directory for update.ini and the package with --dir DIR\n%s",
                     kUsageLine);
        return kExitUsage;
    }
    NoteDefaults(options);
    return Check(options);
}
