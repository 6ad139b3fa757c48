#include "progress.h"

#include <algorithm>

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

double ShownRate(uint64_t done, uint64_t startBytes, double elapsed) {
    if (elapsed < 1 || done <= startBytes) return 0;
    return (done - startBytes) / elapsed;
}

std::string FitStatus(const StatusParts &parts, size_t width) {
    const auto join = [&](bool bytes, bool speed, bool left) {
        std::string line = parts.name;
        if (bytes) line += "  " + parts.bytes;
        line += "  " + parts.percent;
        if (speed && !parts.speed.empty()) line += "  " + parts.speed;
        if (left && !parts.left.empty()) line += "  " + parts.left;
        return line;
    };
    const std::string tries[] = {join(true, true, true), join(true, true, false),
                                 join(true, false, false), join(false, false, false)};
    if (width == 0) return tries[0];
    const size_t room = width - 1;
    for (const std::string &line : tries)
        if (line.size() <= room) return line;
    // The percent stays whole; the name gives way, then the line is cut.
    const std::string tail = "  " + parts.percent;
    if (room >= tail.size() + 4)
        return parts.name.substr(0, room - tail.size() - 3) + "..." + tail;
    return tries[3].substr(tries[3].size() - std::min(room, tries[3].size()));
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
    const double rate = ShownRate(done, m_startBytes, m_now() - m_startTime);
    std::string speed;
    if (rate > 0) speed = HumanBytes(rate) + "/s";
    if (m_terminal) {
        StatusParts parts{m_name,
                          HumanBytes(static_cast<double>(done)) + " / " +
                              HumanBytes(static_cast<double>(m_total)),
                          std::to_string(percent) + "%", speed, ""};
        if (rate > 0 && done < m_total) parts.left = Duration((m_total - done) / rate) + " left";
        Show(FitStatus(parts, m_columns ? m_columns() : 0));
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

void ProgressDisplay::Show(const std::string &full) {
    // A line that reaches the last column wraps, and "\r" then redraws only
    // its second half.
    const size_t width = m_columns ? m_columns() : 0;
    const std::string status = width && full.size() >= width ? full.substr(0, width - 1) : full;
    m_status = status;
    if (!m_terminal) return;
    std::string text = "\r" + status;
    // Blanks over what a longer earlier line left; no terminal escapes, so
    // that every console shows the same.
    const size_t drawn = width ? std::min(m_drawnWidth, width - 1) : m_drawnWidth;
    if (status.size() < drawn) text.append(drawn - status.size(), ' ');
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
    m_drawnWidth = status.size();
}

void ProgressDisplay::Clear() {
    if (!m_terminal || !m_drawnWidth) return;
    std::fprintf(m_out, "\r%s\r", std::string(m_drawnWidth, ' ').c_str());
    m_drawnWidth = 0;
}
