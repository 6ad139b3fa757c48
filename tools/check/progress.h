// Progress on standard error: on a terminal one status line redrawn in place
// (package, bytes, speed, time left); otherwise plain lines, one at most every
// 10 percent. Permanent lines (the module's traces) can be printed between.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class ProgressDisplay {
public:
    // `now` gives seconds on a steady clock; `quiet` shows no progress, but
    // permanent lines still appear.
    ProgressDisplay(std::FILE *out, bool terminal, bool quiet, std::function<double()> now);

    // The terminal's columns, asked at each redraw (0: unknown, no limit).
    void SetWidth(std::function<size_t()> columns) { m_columns = std::move(columns); }

    // A request to HOST:PORT is under way.
    void Connecting(const std::string &hostPort);
    // The package transfer of `name` begins with `existing` of `total` bytes.
    void StartPackage(const std::string &name, uint64_t total, uint64_t existing);
    // The module's progress value.
    void Percent(unsigned percent);
    // A line of its own, kept above the status line.
    void PrintLine(const std::string &line);
    // Ends the status line before the result is printed.
    void Finish();

private:
    void Show(const std::string &status);
    void Clear();

    std::FILE *m_out;
    bool m_terminal;
    bool m_quiet;
    std::function<double()> m_now;
    std::function<size_t()> m_columns;
    std::string m_status;  // what the status line shows now (terminal)
    size_t m_drawnWidth = 0;
    std::string m_name;
    uint64_t m_total = 0;
    uint64_t m_startBytes = 0;
    double m_startTime = 0;
    unsigned m_lastTenth = 0;  // the last 10-percent step printed (plain)
    unsigned m_lastPercent = 0;
    bool m_started = false;
};

// "1.5 MiB", "512 KiB", "900 B".
std::string HumanBytes(double bytes);

// Bytes a second since the transfer began; 0 (none shown) in its first
// second, when a few buffered pieces would read as gigabytes a second.
double ShownRate(uint64_t done, uint64_t startBytes, double elapsed);

// The status line's pieces, and the line fitted into `width` columns (0: no
// limit) without touching the last one, where a terminal would wrap: time
// left, speed and bytes go in that order, then the name is shortened.
struct StatusParts {
    std::string name, bytes, percent, speed, left;
};
std::string FitStatus(const StatusParts &parts, size_t width);
