#include "signing_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace marvostell::tools {
namespace {

constexpr int kHalf = 32;  // bytes of X, Y, r and s on P-256

template <typename T, void (*Free)(T *)>
struct Owned {
    T *p = nullptr;
    ~Owned() {
        if (p) Free(p);
    }
};

std::string Base64(const unsigned char *bytes, size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&out[0]), bytes, static_cast<int>(size));
    out.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return out;
}

// X then Y of the public point, each 32 bytes big-endian.
bool PublicKeyText(EVP_PKEY *key, std::string &text) {
    unsigned char xy[2 * kHalf];
    BIGNUM *x = nullptr, *y = nullptr;
    const bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
                    BN_bn2binpad(x, xy, kHalf) == kHalf && BN_bn2binpad(y, xy + kHalf, kHalf) == kHalf;
    BN_free(x);
    BN_free(y);
    if (ok) text = Base64(xy, sizeof xy);
    return ok;
}

bool WriteAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// An encrypted key would make libcrypto ask on the terminal: no passphrase.
int NoPassphrase(char *, int, int, void *) { return -1; }

}  // namespace

KeyStatus MakeKeyFile(const std::string &path, bool replace, std::string &publicKey, std::string &error) {
    Owned<EVP_PKEY, EVP_PKEY_free> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")};
    Owned<BIO, BIO_free_all> pem{BIO_new(BIO_s_mem())};
    if (!key.p || !pem.p || !PublicKeyText(key.p, publicKey) ||
        PEM_write_bio_PrivateKey(pem.p, key.p, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        error = "the platform's cryptography could not make a key";
        return KeyStatus::kFailed;
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(pem.p, &data);

    // Readable by the owner only from its creation on; a replacement is a new
    // file renamed over the old one, so no moment shows the key to others.
    const std::string target = replace ? path + ".new-" + std::to_string(getpid()) : path;
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? path + " exists (give --force to replace it)"
                                : "cannot create " + target + ": " + std::strerror(errno);
        return errno == EEXIST && !replace ? KeyStatus::kExists : KeyStatus::kFailed;
    }
    bool ok = WriteAll(fd, data, static_cast<size_t>(size)) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && replace) ok = rename(target.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(target.c_str());
        return KeyStatus::kFailed;
    }
    return KeyStatus::kOk;
}

KeyStatus SignWithKeyFile(const std::string &path, const std::string &bytes, std::string &signature,
                          std::string &publicKey, std::string &error) {
    Owned<EVP_PKEY, EVP_PKEY_free> key;
    {
        Owned<BIO, BIO_free_all> file{BIO_new_file(path.c_str(), "rb")};
        if (file.p) key.p = PEM_read_bio_PrivateKey(file.p, nullptr, NoPassphrase, nullptr);
    }
    char group[32] = "";
    if (!key.p || !EVP_PKEY_is_a(key.p, "EC") ||
        EVP_PKEY_get_group_name(key.p, group, sizeof group, nullptr) != 1 ||
        (std::strcmp(group, "prime256v1") != 0 && std::strcmp(group, "P-256") != 0)) {
        error = "cannot read a P-256 private key (PEM, without a passphrase) from " + path;
        return KeyStatus::kUnreadable;
    }
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> context{EVP_MD_CTX_new()};
    unsigned char der[128];
    size_t derSize = sizeof der;
    if (!context.p || !PublicKeyText(key.p, publicKey) ||
        EVP_DigestSignInit(context.p, nullptr, EVP_sha256(), nullptr, key.p) != 1 ||
        EVP_DigestSign(context.p, der, &derSize, reinterpret_cast<const unsigned char *>(bytes.data()),
                       bytes.size()) != 1) {
        error = "the platform's cryptography could not sign";
        return KeyStatus::kFailed;
    }
    // libcrypto writes the DER form; the manifest carries r then s.
    const unsigned char *at = der;
    Owned<ECDSA_SIG, ECDSA_SIG_free> sig{d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(derSize))};
    unsigned char rs[2 * kHalf];
    if (!sig.p || BN_bn2binpad(ECDSA_SIG_get0_r(sig.p), rs, kHalf) != kHalf ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.p), rs + kHalf, kHalf) != kHalf) {
        error = "the platform's cryptography gave an unreadable signature";
        return KeyStatus::kFailed;
    }
    signature = Base64(rs, sizeof rs);
    return KeyStatus::kOk;
}

bool ReadableByOthers(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && (status.st_mode & 077) != 0;
}

}  // namespace marvostell::tools
