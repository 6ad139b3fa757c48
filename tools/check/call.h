// One call of CheckNewVersion on a worker thread, with the module's trace
// lines and progress values handed to the calling thread in the order the
// module issued them.
#pragma once

#include <cstdint>
#include <string>

class CallListener {
public:
    virtual ~CallListener() = default;
    // A trace line exactly as the module issued it. For the download trace,
    // `existingBytes` holds the size the local file had when it was issued,
    // before the transfer began (0 when there was none).
    virtual void OnTrace(const std::string &text, uint64_t existingBytes) = 0;
    virtual void OnProgress(unsigned percent) = 0;
};

struct CallArguments {
    uint32_t hostVersion;
    std::string url;
    std::string dir;
    std::string localDirPrefix;  // the directory as the module forms local paths
};

// Runs the call; `packagePath` receives the path the module wrote.
int RunCheck(const CallArguments &arguments, CallListener &listener, std::string &packagePath);
