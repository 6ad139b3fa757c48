// Runs part of a test in a forked child, for process-wide settings (a file-size
// limit, signal dispositions) that must not reach the test process.
#pragma once

#include <functional>
#include <string>

namespace marvostell::testing {

struct ChildReport {
    bool exited = false;  // the child returned from body instead of dying
    std::string text;     // what body returned
};

ChildReport InChild(const std::function<std::string()> &body);

// In the child: ignore SIGXFSZ and limit every file to bytes, so that a write
// past the limit fails the way a full disk does.
void LimitFileSize(long bytes);

}  // namespace marvostell::testing
