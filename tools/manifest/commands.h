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
int RunPatch(const Arguments &args);
int RunPack(const Arguments &args);
int RunRollout(const Arguments &args);

struct KeySource;  // signing_key.h
struct Options;    // options.h

// The options that name the signing key and its passphrase, which sign and
// new take (--key, --key-env, --passphrase-file, --passphrase-env): `key`
// from them (empty names: no key given), or false with a message for two
// sources of one thing or a passphrase without a key.
bool KeyOptions(const Options &options, KeySource &key, std::string &error);

// Lints `text` as hosts that pass keys need it, signs it with `key`
// (Expires set to today plus `days` first, unless 0) and checks the
// signature with the core: kExitOk with `signedText`, or a status after a
// message on stderr.
int SignText(const char *command, const std::string &name, std::string text, const KeySource &key, uint32_t days,
             std::string &signedText, std::string &publicKey, std::string &expiry);

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;

}  // namespace marvostell::tools
