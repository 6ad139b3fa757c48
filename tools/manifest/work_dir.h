// A private directory for the copies the tool makes (the manifest as a host
// stores it, its variants for lint), removed with everything in it at the
// end, and also when the tool is interrupted: SIGINT and SIGTERM (on Windows
// a console's Ctrl+C, Ctrl+Break or close) remove every such directory, then
// end the process with 128 + the signal's number.
#pragma once

#include <string>

namespace marvostell::tools {

class WorkDir {
public:
    WorkDir() = default;
    ~WorkDir();
    WorkDir(const WorkDir &) = delete;
    WorkDir &operator=(const WorkDir &) = delete;

    // Creates the directory under the system's temporary directory.
    bool Create(std::string &error);
    const std::string &Path() const { return m_path; }
    // A file of the directory, by name.
    std::string File(const std::string &name) const;

private:
    std::string m_path;
};

}  // namespace marvostell::tools
