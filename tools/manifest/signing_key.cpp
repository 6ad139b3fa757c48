// The key file and its passphrase around the platform's side: where the
// texts come from, how the file is created, what each failure is called.
#include "signing_key.h"

#include "manifest_source.h"
#include "signing_key_der.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace marvostell::tools {
namespace {

constexpr size_t kMaxKeyText = 64 * 1024;

// A string whose bytes are overwritten when it goes.
struct SecretText {
    std::string text;
    ~SecretText() { keyfile::Wipe(&text[0], text.size()); }
};

// An environment variable's value, false when it is not set. On Windows the
// value is taken as UTF-8, as Linux environments hold it.
bool EnvironmentText(const std::string &name, std::string &value) {
#ifdef _WIN32
    const int nameSize = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    std::wstring wideName(nameSize > 0 ? nameSize : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, &wideName[0], nameSize);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) return false;
    std::wstring wide(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), &wide[0], size);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), nullptr, 0, nullptr,
                                          nullptr);
    value.assign(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), &value[0], bytes, nullptr,
                                       nullptr);
    keyfile::Wipe(&wide[0], wide.size() * sizeof(wchar_t));
    return true;
#else
    const char *text = std::getenv(name.c_str());
    if (text) value = text;
    return text != nullptr;
#endif
}

// Creates `target`, which must not exist, readable and writable by its
// owner only, and writes `text` to it. False with errno, or on Windows the
// last error, set.
bool CreateOwnerOnly(const std::string &target, const std::string &text, bool &exists) {
#ifdef _WIN32
    // An ACL of one entry, for the user who runs this, not inherited from the folder.
    HANDLE token = nullptr;
    union {
        TOKEN_USER user;
        char bytes[256];
    } tokenUser;
    DWORD size = 0;
    char *sid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool ok = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, &tokenUser, sizeof tokenUser, &size) &&
              ConvertSidToStringSidA(tokenUser.user.User.Sid, &sid) &&
              ConvertStringSecurityDescriptorToSecurityDescriptorA(
                  (std::string("D:P(A;;FA;;;") + sid + ")").c_str(), SDDL_REVISION_1, &descriptor, nullptr);
    if (token) CloseHandle(token);
    if (sid) LocalFree(sid);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const HANDLE file = ok ? CreateFileA(target.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)
                           : INVALID_HANDLE_VALUE;
    exists = file == INVALID_HANDLE_VALUE && (GetLastError() == ERROR_FILE_EXISTS);
    if (descriptor) LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size() && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    ok = CloseHandle(file) && ok;
    if (!ok) SetLastError(error);
    return ok;
#else
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    exists = fd < 0 && errno == EEXIST;
    if (fd < 0) return false;
    bool ok = true;
    for (size_t at = 0; ok && at < text.size();) {
        const ssize_t written = write(fd, text.data() + at, text.size() - at);
        ok = written > 0 || (written < 0 && errno == EINTR);
        if (written > 0) at += static_cast<size_t>(written);
    }
    ok = ok && fsync(fd) == 0;
    const int error = errno;
    ok = close(fd) == 0 && ok;
    if (!ok) errno = error;
    return ok;
#endif
}

std::string SystemError() {
#ifdef _WIN32
    return "error " + std::to_string(GetLastError());
#else
    return std::strerror(errno);
#endif
}

bool Rename(const std::string &from, const std::string &to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

int ProcessId() {
#ifdef _WIN32
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

std::string Message(KeyStatus status, const std::string &what) {
    switch (status) {
    case KeyStatus::kNoPassphrase:
        return what + " is encrypted: give its passphrase with --passphrase-file FILE or --passphrase-env VAR";
    case KeyStatus::kWrongPassphrase: return "wrong passphrase for " + what + " (or the key is damaged)";
    case KeyStatus::kNotEc: return what + " is not an EC key: manifests are signed with P-256 keys (keygen makes one)";
    case KeyStatus::kNotP256: return what + " is an EC key on another curve than P-256";
    case KeyStatus::kUnsupportedEncryption:
        return what + " is encrypted otherwise than with PBES2 (PBKDF2 with HMAC-SHA256, AES-CBC): convert it "
                      "with openssl pkcs8 -topk8 -v2 aes-256-cbc";
    case KeyStatus::kNoPublicKey:
        return what + " leaves out its public point, or compresses it, and signing needs it here: write it again "
                      "with openssl ec -in FILE -conv_form uncompressed -out NEW";
    case KeyStatus::kFailed: return "the platform's cryptography could not sign with " + what;
    default: return "cannot read a P-256 private key (PKCS#8 PEM) from " + what;
    }
}

}  // namespace

KeyStatus MakeKeyFile(const std::string &path, bool replace, const std::string *passphrase, std::string &publicKey,
                      std::string &error) {
    SecretText pem;
    uint8_t xy[crypto::kP256KeyBytes];
    if (MakeKeyPem(passphrase, pem.text, xy) != KeyStatus::kOk) {
        error = "the platform's cryptography could not make a key";
        return KeyStatus::kFailed;
    }
    publicKey = keyfile::Base64(xy, sizeof xy);
    // Readable by the owner only from its creation on; a replacement is a new
    // file renamed over the old one, so no moment shows the key to others.
    const std::string target = replace ? path + ".new-" + std::to_string(ProcessId()) : path;
    bool exists = false;
    if (!CreateOwnerOnly(target, pem.text, exists)) {
        const std::string reason = SystemError();
        if (exists && !replace) {
            error = path + " exists (give --force to replace it)";
            return KeyStatus::kExists;
        }
        error = "cannot write " + target + ": " + reason;
        if (!exists) std::remove(target.c_str());
        return KeyStatus::kFailed;
    }
    if (replace && !Rename(target, path)) {
        error = "cannot replace " + path + ": " + SystemError();
        std::remove(target.c_str());
        return KeyStatus::kFailed;
    }
    return KeyStatus::kOk;
}

bool ReadPassphrase(const std::string &file, const std::string &variable, std::string &passphrase,
                    std::string &error) {
    if (file.empty() && variable.empty()) {
        error = "no passphrase file or variable named";
        return false;
    }
    if (!file.empty()) {
        if (!ReadFileText(file, passphrase) || passphrase.size() > kMaxKeyText) {
            error = "cannot read the passphrase file " + file;
            return false;
        }
        // Its first line, as openssl's -passin file: reads it.
        const size_t end = passphrase.find('\n');
        if (end != std::string::npos) passphrase.resize(end > 0 && passphrase[end - 1] == '\r' ? end - 1 : end);
        if (passphrase.empty()) error = "the passphrase file " + file + " starts with an empty line";
    } else if (!EnvironmentText(variable, passphrase)) {
        error = "the environment variable " + variable + " (--passphrase-env) is not set";
        return false;
    } else if (passphrase.empty()) {
        error = "the environment variable " + variable + " (--passphrase-env) is empty";
    }
    return !passphrase.empty();
}

KeyStatus SignWithKey(const KeySource &source, const std::string &bytes, std::string &signature,
                      std::string &publicKey, std::string &error) {
    const bool fromFile = source.variable.empty();
    const std::string what = fromFile ? "the key in " + source.file : "the key in the variable " + source.variable;
    SecretText pem, passphrase;
    const bool read = fromFile ? ReadFileText(source.file, pem.text) : EnvironmentText(source.variable, pem.text);
    if (!read || pem.text.size() > kMaxKeyText) {
        error = !read && !fromFile ? "the environment variable " + source.variable + " (--key-env) is not set"
                                   : "cannot read the key file " + source.file;
        return KeyStatus::kUnreadable;
    }
    const bool hasPassphrase = !source.passphraseFile.empty() || !source.passphraseVariable.empty();
    if (hasPassphrase && !ReadPassphrase(source.passphraseFile, source.passphraseVariable, passphrase.text, error))
        return KeyStatus::kUnreadable;
    uint8_t rs[crypto::kP256SignatureBytes], xy[crypto::kP256KeyBytes];
    bool encrypted = false;
    const KeyStatus status = SignWithKeyPem(pem.text, hasPassphrase ? &passphrase.text : nullptr, bytes, rs, xy,
                                            encrypted);
    if (status != KeyStatus::kOk) {
        error = Message(status, what);
        return status;
    }
    if (hasPassphrase && !encrypted) error = "warning: " + what + " is not encrypted: the passphrase was not needed";
    signature = keyfile::Base64(rs, sizeof rs);
    publicKey = keyfile::Base64(xy, sizeof xy);
    return KeyStatus::kOk;
}

#ifndef _WIN32
bool ReadableByOthers(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && (status.st_mode & 077) != 0;
}
#endif

}  // namespace marvostell::tools
