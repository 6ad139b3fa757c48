#include "child.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace marvostell::testing {

ChildReport InChild(const std::function<std::string()> &body) {
    int channel[2];
    if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        close(channel[0]);
        const std::string text = body();
        const bool sent = write(channel[1], text.data(), text.size()) ==
                          static_cast<ssize_t>(text.size());
        _exit(sent ? 0 : 2);
    }
    close(channel[1]);
    ChildReport report;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) report.text.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    report.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return report;
}

void LimitFileSize(long bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace marvostell::testing
