// marvostell-check: one update check from a shell, as a host would run it,
// with progress and an explanation of the result for support staff. The
// module's core is linked into the program, so that its trace lines can be
// shown (--verbose) and its own selection code explains the result.
#include <chrono>
#include <cstdio>
#include <string>

#include "call.h"
#include "diagnosis.h"
#include "entry/update_client.h"
#include "framework/strings.h"
#include "local_file.h"
#include "options.h"
#include "progress.h"
#include "trace_facts.h"

#ifdef _WIN32
#include <io.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
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

std::string FileName(const std::string &path) {
    const std::string::size_type cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Turns what the module issues during the call into progress and the record
// the diagnosis reads.
class Listener : public CallListener {
public:
    Listener(const Options &options, const std::string &localDirPrefix, ProgressDisplay &display,
             CallRecord &record)
        : m_options(options), m_prefix(localDirPrefix), m_display(display), m_record(record) {}

    void OnTrace(const std::string &text, uint64_t existingBytes) override {
        if (m_options.verbose) {
            std::string line = text;
            if (!line.empty() && line.back() == '\n') line.pop_back();
            m_display.PrintLine(line);
        }
        std::string server;
        DownloadFacts download;
        if (ParseServerTrace(text, server)) {
            m_hostPort = HostAndPort(server);
            m_display.Connecting(m_hostPort);
        } else if (ParseDownloadTrace(text, m_prefix, download)) {
            m_record.downloadSeen = true;
            m_record.download = download;
            m_record.existingBytes = existingBytes;
            const std::string name = FileName(download.localPath);
            if (existingBytes >= download.size) {
                if (!m_options.quiet)
                    m_display.PrintLine("Package " + name + ": already complete on disk (" +
                                        std::to_string(existingBytes) +
                                        " bytes); nothing to fetch");
            } else {
                m_display.StartPackage(name, download.size, existingBytes);
                m_display.Connecting(m_hostPort);
                m_transferShown = true;
            }
        } else if (ParseDigestTrace(text, m_record.actualMd5, m_record.expectedMd5)) {
            m_record.digestSeen = true;
        }
    }

    void OnProgress(unsigned percent) override {
        ++m_record.progressPosts;
        if (!m_transferShown && m_record.downloadSeen) {
            // A complete file failed its digest; the second attempt fetches
            // the package from its start.
            m_display.StartPackage(FileName(m_record.download.localPath), m_record.download.size,
                                   0);
            m_transferShown = true;
        }
        m_display.Percent(percent);
    }

private:
    const Options &m_options;
    std::string m_prefix;
    ProgressDisplay &m_display;
    CallRecord &m_record;
    std::string m_hostPort;
    bool m_transferShown = false;
};

int Check(const Options &options) {
    // The module's own way to form local paths: the directory without
    // trailing separators, then one.
    std::string prefix = options.dir.empty() ? "." : options.dir;
    marvostell::TrimTrailing(prefix, marvostell::kPathSeparator);
    prefix += marvostell::kPathSeparator;

    CallRecord record;
    record.url = options.url;
    record.manifestPath = prefix + "update.ini";
    record.hostVersion = options.hostVersion;
    ProgressDisplay display(stderr, StderrIsTerminal(), options.quiet, SteadySeconds);
    Listener listener(options, prefix, display, record);

    const CallArguments arguments{options.hostVersion, options.url,
                                  options.dir.empty() ? "." : options.dir, prefix};
    std::string packagePath;
    const int result = RunCheck(arguments, listener, packagePath);
    display.Finish();

    const Diagnosis diagnosis = Diagnose(result, packagePath, record);
    std::printf("%s\n", diagnosis.headline.c_str());
    for (const std::string &line : diagnosis.lines) std::printf("  %s\n", line.c_str());
    if (diagnosis.exitStatus == 8)
        std::printf("  local directory: %s\n", arguments.dir.c_str());
    std::fflush(stdout);
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
    return Check(options);
}
