// A fresh directory under /tmp that is removed, with everything in it, when the
// object goes out of scope, whatever the test did to the permissions inside.
#pragma once

#include <set>
#include <string>

namespace marvostell::testing {

class TempDir {
public:
    // /tmp/marvostell-<purpose>-XXXXXX; throws std::runtime_error when it
    // cannot be made.
    explicit TempDir(const std::string &purpose = "test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + name
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The whole content of a file, or "" when it cannot be read.
std::string ReadAll(const std::string &path);

// The names of a directory's files, those starting with "." left out.
std::set<std::string> FileNames(const std::string &dir);

}  // namespace marvostell::testing
