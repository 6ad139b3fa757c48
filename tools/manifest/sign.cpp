// keygen and sign: the publisher's side of signed manifests, on the
// platform's cryptography (see signing_key.h).
#include <cstdio>
#include <cstring>

#include "atomic_file.h"
#include "commands.h"
#include "lint.h"
#include "options.h"
#include "selection_explain.h"
#include "signed_text.h"
#include "signing_key.h"
#include "signing_key_der.h"
#include "usage.h"

namespace marvostell::tools {
namespace {

constexpr uint32_t kMaxExpiresDays = 36500;

int Fail(const char *command, int status, const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest %s: %s\n", command, message.c_str());
    return status;
}

int UsageError(const char *command, const std::string &message) {
    Fail(command, kExitUsage, message);
    std::fputs(UsageText(command), stderr);
    return kExitUsage;
}

bool ParseDays(const std::string &text, uint32_t &days) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    days = static_cast<uint32_t>(std::stoul(text));
    return days >= 1 && days <= kMaxExpiresDays;
}

// Both of two options that name one thing.
bool Both(const Options &options, const char *one, const char *other, std::string &error) {
    if (!options.Value(one) || !options.Value(other)) return false;
    error = std::string(one) + " and " + other + ": give one of them";
    return true;
}

}  // namespace

bool KeyOptions(const Options &options, KeySource &key, std::string &error) {
    if (Both(options, "--key", "--key-env", error) || Both(options, "--passphrase-file", "--passphrase-env", error))
        return false;
    const auto value = [&](const char *name) { return options.Value(name) ? *options.Value(name) : std::string(); };
    key.file = value("--key");
    key.variable = value("--key-env");
    key.passphraseFile = value("--passphrase-file");
    key.passphraseVariable = value("--passphrase-env");
    if (key.file.empty() && key.variable.empty() && (!key.passphraseFile.empty() || !key.passphraseVariable.empty()))
        error = "a passphrase goes with --key or --key-env";
    return error.empty();
}

int SignText(const char *command, const std::string &name, std::string text, const KeySource &key, uint32_t days,
             std::string &signedText, std::string &publicKey, std::string &expiry) {
    const bool expires = days != 0;  // 0: Expires left as it is
    std::string error;
    int notLast = 0;
    text = WithoutSignature(text, notLast);
    if (notLast)
        std::fprintf(stderr, "marvostell-manifest %s: dropped %d signature line%s that %s not last\n", command, notLast,
                     notLast == 1 ? "" : "s", notLast == 1 ? "was" : "were");
    expiry = expires ? DateText(TodayUtc() + days) : "";
    if (expires && !WithExpires(text, expiry, text))
        return Fail(command, kExitFindings, name + " has no [General] for Expires");
    text = EndedText(text);

    // What hosts that pass keys need of it, before it is signed.
    WorkDir dir;
    ManifestSource source;
    if (!dir.Create(error) || !ManifestFromText(name, text, dir, source, error))
        return Fail(command, kExitUsage, error);
    LintRules rules;
    rules.forSigning = true;
    const Findings findings = LintManifest(source, rules);
    if (findings.Failed(false)) {
        PrintFindingsText(stderr, name, findings);
        return Fail(command, kExitFindings, "not signed: fix the errors above first");
    }
    const size_t signedSize = text.size() + SignatureLine(text, std::string(88, 'A')).size();
    if (signedSize > kManifestLimit)
        return Fail(command, kExitFindings, "not signed: signed, " + name + " would be " +
                                               std::to_string(signedSize) + " bytes, and hosts read only the first " +
                                               std::to_string(kManifestLimit));

#ifndef _WIN32
    if (!key.file.empty() && ReadableByOthers(key.file))
        std::fprintf(stderr, "marvostell-manifest %s: warning: others may read the key %s\n", command,
                     key.file.c_str());
#endif
    std::string signature;
    if (SignWithKey(key, text, signature, publicKey, error) != KeyStatus::kOk) return Fail(command, kExitUsage, error);
    if (!error.empty()) std::fprintf(stderr, "marvostell-manifest %s: %s\n", command, error.c_str());
    signedText = text + SignatureLine(text, signature);

    // The core's own verification accepts it, or nothing is written.
    std::vector<PublicKey> keys;
    std::string bad;
    if (!ParseTrustedKeys(publicKey.c_str(), keys, bad) ||
        VerifyManifestSignature(reinterpret_cast<const uint8_t *>(signedText.data()), signedText.size(), keys) !=
            SignatureVerdict::kValid)
        return Fail(command, kExitUsage, "the signature made does not verify: nothing written");
    return kExitOk;
}

int RunKeygen(const Arguments &args) {
    Options options;
    std::string error;
    if (!ParseOptions(args, {"--out", "--passphrase-file", "--passphrase-env"}, {"--force", "--json"}, options,
                      error) ||
        Both(options, "--passphrase-file", "--passphrase-env", error))
        return UsageError("keygen", error);
    if (options.help) {
        std::fputs(UsageText("keygen"), stdout);
        return kExitOk;
    }
    const std::string *out = options.Value("--out");
    if (!out || out->empty() || !options.positional.empty())
        return UsageError("keygen", "--out FILE, and nothing else, please");
    const std::string *passphraseFile = options.Value("--passphrase-file");
    const std::string *passphraseVariable = options.Value("--passphrase-env");
    std::string passphrase;
    const bool encrypted = passphraseFile || passphraseVariable;
    if (encrypted && !ReadPassphrase(passphraseFile ? *passphraseFile : "",
                                     passphraseVariable ? *passphraseVariable : "", passphrase, error))
        return Fail("keygen", kExitUsage, error);
    std::string publicKey;
    const KeyStatus status = MakeKeyFile(*out, options.Has("--force"), encrypted ? &passphrase : nullptr,
                                         publicKey, error);
    keyfile::Wipe(&passphrase[0], passphrase.size());
    switch (status) {
    case KeyStatus::kOk: break;
    case KeyStatus::kExists: return Fail("keygen", kExitFindings, error);
    default: return Fail("keygen", kExitUsage, error);
    }
    if (options.Has("--json"))
        std::printf("{\"key_file\":%s,\"public_key\":\"%s\",\"encrypted\":%s}\n", JsonString(*out).c_str(),
                    publicKey.c_str(), encrypted ? "true" : "false");
    else
        std::printf("%s\n", publicKey.c_str());
    std::fprintf(stderr, "marvostell-manifest keygen: the private key is in %s (readable by you only%s): keep it "
                         "offline; give hosts the public key\n",
                 out->c_str(), encrypted ? ", encrypted with the passphrase" : "");
    return kExitOk;
}

int RunSign(const Arguments &args) {
    Options options;
    std::string error;
    KeySource key;
    if (!ParseOptions(args, {"--key", "--key-env", "--passphrase-file", "--passphrase-env", "--output", "--expires"},
                      {"--json"}, options, error))
        return UsageError("sign", error);
    if (options.help) {
        std::fputs(UsageText("sign"), stdout);
        return kExitOk;
    }
    if (!KeyOptions(options, key, error)) return UsageError("sign", error);
    if (options.positional.size() != 1 || (key.file.empty() && key.variable.empty()))
        return UsageError("sign", "--key FILE (or --key-env VAR) and one manifest file, please");
    const std::string &name = options.positional[0];
    if (IsUrl(name)) return UsageError("sign", "sign a manifest file, then upload it");
    const std::string output = options.Value("--output") ? *options.Value("--output") : name;
    uint32_t days = 0;
    const std::string *expires = options.Value("--expires");
    if (expires && !ParseDays(*expires, days))
        return UsageError("sign", "--expires " + *expires + " is not a number of days from 1 to " +
                                            std::to_string(kMaxExpiresDays));

    std::string text;
    if (!ReadFileText(name, text)) return Fail("sign", kExitUsage, "cannot read " + name);
    std::string signedText, publicKey, expiry;
    const int signStatus = SignText("sign", name, text, key, expires ? days : 0, signedText, publicKey, expiry);
    if (signStatus != kExitOk) return signStatus;
    if (!WriteReplacing(output, signedText, error)) return Fail("sign", kExitUsage, error);

    if (options.Has("--json"))
        std::printf("{\"manifest\":%s,\"output\":%s,\"size\":%zu,\"public_key\":\"%s\",\"expires\":%s}\n",
                    JsonString(name).c_str(), JsonString(output).c_str(), signedText.size(), publicKey.c_str(),
                    expires ? ("\"" + expiry + "\"").c_str() : "null");
    else
        std::printf("%s: signed, %zu bytes, by %s%s\n", output.c_str(), signedText.size(), publicKey.c_str(),
                    expires ? (", expires " + expiry).c_str() : "");
    return kExitOk;
}

}  // namespace marvostell::tools
