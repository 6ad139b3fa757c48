// The subcommands, each given its arguments after the subcommand's name.
#pragma once

#include <cstdint>
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
int RunNew(const Arguments &args);
int RunRollout(const Arguments &args);

// Lints `text` as hosts that pass keys need it, signs it with the key in
// `keyFile` (Expires set to today plus `days` first, unless 0) and checks the
// signature with the core: kExitOk with `signedText`, or a status after a
// message on stderr. Not supported on Windows (kExitUnsupported).
int SignText(const char *command, const std::string &name, std::string text, const std::string &keyFile,
             uint32_t days, std::string &signedText, std::string &publicKey, std::string &expiry);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnsupported = 3;  // keygen, sign and new --key on Windows

}  // namespace marvostell::tools
