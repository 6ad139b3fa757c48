#include "progress.h"

namespace {

std::string Format(const char *format, double a, double b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string Duration(double seconds) {
    const unsigned long total = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
    return text;
}

}  // namespace

std::string HumanBytes(double bytes) {
    if (bytes < 1024) return Format("%.0f B", bytes);
    if (bytes < 1024 * 1024) return Format("%.1f KiB", bytes / 1024);
    if (bytes < 1024.0 * 1024 * 1024) return Format("%.1f MiB", bytes / (1024 * 1024));
    return Format("%.1f GiB", bytes / (1024.0 * 1024 * 1024));
}

ProgressDisplay::ProgressDisplay(std::FILE *out, bool terminal, bool quiet,
                                 std::function<double()> now)
    : m_out(out), m_terminal(terminal), m_quiet(quiet), m_now(std::move(now)) {}

void ProgressDisplay::Connecting(const std::string &hostPort) {
    if (m_quiet) return;
    if (m_terminal)
        Show("Connecting to " + hostPort + " ...");
    else
        PrintLine("Connecting to " + hostPort);
}

void ProgressDisplay::StartPackage(const std::string &name, uint64_t total, uint64_t existing) {
    m_name = name;
    m_total = total;
    m_startBytes = existing;
    m_startTime = m_now();
    m_lastTenth = total ? static_cast<unsigned>(existing * 10 / total) : 0;
    m_lastPercent = 0;
    m_started = true;
    if (m_quiet) return;
    std::string line = "Package " + name + ": " + std::to_string(total) + " bytes";
    if (existing) line += ", resuming after " + std::to_string(existing) + " bytes on disk";
    PrintLine(line);
}

void ProgressDisplay::Percent(unsigned percent) {
    // A second attempt starts the file again from nothing.
    if (!m_started || percent < m_lastPercent) StartPackage(m_started ? m_name : "package", m_total, 0);
    m_lastPercent = percent;
    if (m_quiet) return;
    const unsigned shown = percent > 100 ? 100 : percent;
    // The module reports whole percents of PackageSize; bytes follow from it.
    const uint64_t done = m_total ? m_total * shown / 100 : 0;
    const double elapsed = m_now() - m_startTime;
    const double rate = elapsed > 0 && done > m_startBytes ? (done - m_startBytes) / elapsed : 0;
    std::string speed;
    if (rate > 0) speed = HumanBytes(rate) + "/s";
    if (m_terminal) {
        std::string status = m_name + "  " + HumanBytes(static_cast<double>(done)) + " / " +
                             HumanBytes(static_cast<double>(m_total)) + "  " +
                             std::to_string(percent) + "%";
        if (!speed.empty()) status += "  " + speed;
        if (rate > 0 && done < m_total)
            status += "  " + Duration((m_total - done) / rate) + " left";
        Show(status);
        return;
    }
    const unsigned tenth = shown / 10;
    if (tenth <= m_lastTenth) return;
    m_lastTenth = tenth;
    std::string line = m_name + ": " + std::to_string(percent) + "% (" + std::to_string(done) +
                       " of " + std::to_string(m_total) + " bytes";
    if (!speed.empty()) line += ", " + speed;
    PrintLine(line + ")");
}

void ProgressDisplay::PrintLine(const std::string &line) {
    Clear();
    std::fprintf(m_out, "%s\n", line.c_str());
    if (!m_status.empty()) Show(m_status);
    std::fflush(m_out);
}

void ProgressDisplay::Finish() {
    if (m_terminal && m_drawnWidth) {
        // A finished transfer stays on screen; a pending "Connecting" goes.
        if (m_status.compare(0, 11, "Connecting ") == 0)
            Clear();
        else
            std::fputc('\n', m_out);
    }
    m_status.clear();
    m_drawnWidth = 0;
    std::fflush(m_out);
}

void ProgressDisplay::Show(const std::string &status) {
    m_status = status;
    if (!m_terminal) return;
    std::string text = "\r" + status;
    // Blanks over what a longer earlier line left; no terminal escapes, so
    // that every console shows the same.
    if (status.size() < m_drawnWidth) text.append(m_drawnWidth - status.size(), ' ');
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
    m_drawnWidth = status.size();
}

void ProgressDisplay::Clear() {
    if (!m_terminal || !m_drawnWidth) return;
    std::fprintf(m_out, "\r%s\r", std::string(m_drawnWidth, ' ').c_str());
    m_drawnWidth = 0;
}
