// The subcommands, each given its arguments after the subcommand's name.
#pragma once

#include <string>
#include <vector>

namespace marvostell::tools {

using Arguments = std::vector<std::string>;

int RunEntry(const Arguments &args);
int RunLint(const Arguments &args);
int RunExplain(const Arguments &args);
int RunMap(const Arguments &args);
int RunVerify(const Arguments &args);
int RunKeygen(const Arguments &args);
int RunSign(const Arguments &args);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnsupported = 3;  // keygen and sign on Windows

}  // namespace marvostell::tools
