// Signed manifests, checked against signatures the openssl command line made:
// an independent signer, so that the module's verification is not only
// tested against itself.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "manifest/signature.h"
#include "marvostell.h"
#include "package/digest.h"
#include "platform/crypto.h"
#include "platform/posix/system_calls.h"
#include "temp_dir.h"
#include "test_server.h"

using namespace marvostell;
using marvostell::testing::ReadAll;
using marvostell::testing::TempDir;
using marvostell::testing::TestServer;

namespace {

void Run(const std::string &command) {
    ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
}

std::string Base64(const std::string &bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[group >> 18];
        out += kDigits[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return out;
}

// One INTEGER of a DER ECDSA signature, as 32 big-endian bytes.
std::string DerInteger(const std::string &der, size_t &at) {
    EXPECT_EQ(der[at], 0x02);
    const size_t length = static_cast<uint8_t>(der[at + 1]);
    std::string value = der.substr(at + 2, length);
    at += 2 + length;
    while (value.size() > 32 && value[0] == '\0') value.erase(0, 1);
    return std::string(32 - value.size(), '\0') + value;
}

// A P-256 key pair made by the openssl command line.
struct Signer {
    std::string dir;
    std::string name;
    std::string Key() const { return dir + "/" + name + ".pem"; }

    Signer(const std::string &where, const std::string &keyName) : dir(where), name(keyName) {
        Run("openssl ecparam -name prime256v1 -genkey -noout -out " + Key());
    }
    // X then Y of the public point: the last 64 bytes of its DER form.
    std::string PublicKey() const {
        const std::string der = dir + "/" + name + ".pub.der";
        Run("openssl ec -in " + Key() + " -pubout -outform DER -out " + der);
        const std::string bytes = ReadAll(der);
        return Base64(bytes.substr(bytes.size() - 64));
    }
    // r then s of an ECDSA signature over SHA-256 of `text`.
    std::string Sign(const std::string &text) const {
        const std::string in = dir + "/" + name + ".in", sig = dir + "/" + name + ".sig";
        std::ofstream(in, std::ios::binary) << text;
        Run("openssl dgst -sha256 -sign " + Key() + " -out " + sig + " " + in);
        const std::string der = ReadAll(sig);
        size_t at = 2;  // past the SEQUENCE's tag and length (always short here)
        const std::string r = DerInteger(der, at);
        return Base64(r + DerInteger(der, at));
    }
    std::string Signed(const std::string &manifest, const char *lineEnd = "\r\n") const {
        return manifest + ";signature=" + Sign(manifest) + lineEnd;
    }
};

struct SignedSite {
    TestServer server;
    TempDir temp{"signed"};
    std::string dir = temp.path();
    std::string body = std::string(30000, 'z');
    Signer publisher{dir, "publisher"};
    std::string md5, sha256;

    SignedSite() {
        CMd5Hex hex;
        hex.Add(body.data(), body.size());
        md5 = hex.Finish();
        crypto::CSha256 sha;
        uint8_t sum[crypto::kSha256Bytes];
        sha.Add(body.data(), body.size());
        sha.Finish(sum);
        sha256 = DigestHex(sum, sizeof sum);
        server.file("/p.bin", body);
    }
    std::string Manifest(const std::string &extraGeneral = "", const std::string &sha = "") const {
        return "[General]\r\nupdate=p\r\n" + extraGeneral + "[p]\r\nversion=2\r\nPackage=/p.bin\r\n"
               "PackageSize=30000\r\nMd5=" + md5 + "\r\nSha256=" + (sha.empty() ? sha256 : sha) + "\r\n";
    }
    int Check(const std::string &keys, bool withKeys = true) {
        MarvostellOptions options{sizeof options, 0, withKeys ? keys.c_str() : nullptr, nullptr, 0,
                                  0, nullptr};
        char path[MARVOSTELL_PATH_BUFFER_SIZE];
        return CheckNewVersionEx(nullptr, 0, 1, server.url("/update.ini").c_str(), dir.c_str(), path,
                                 sizeof path, &options, nullptr);
    }
    bool PackageRequested() const {
        for (const std::string &r : server.requests())
            if (r.compare(0, 10, "GET /p.bin") == 0) return true;
        return false;
    }
};

}  // namespace

TEST(SignedManifest, AcceptsOnlyWhatATrustedKeySigned) {
    SignedSite site;
    const Signer attacker(site.dir, "attacker"), next(site.dir, "next");
    const std::string manifest = site.Manifest();
    const std::string good = site.publisher.Signed(manifest);
    std::string changed = good;
    changed[changed.find("version=2") + 8] = '3';
    const struct {
        const char *name;
        std::string served;
        std::string keys;
        int result;
    } cases[] = {
        {"signed by the publisher", good, site.publisher.PublicKey(), 1},
        {"LF after the signature", site.publisher.Signed(manifest, "\n"), site.publisher.PublicKey(), 1},
        {"nothing after the signature", site.publisher.Signed(manifest, ""), site.publisher.PublicKey(), 1},
        {"two keys during a rotation", next.Signed(manifest),
         site.publisher.PublicKey() + ", " + next.PublicKey(), 1},
        {"unsigned", manifest, site.publisher.PublicKey(), 7},
        {"a line after the signature", good + "[x]\r\n", site.publisher.PublicKey(), 7},
        {"a byte changed", changed, site.publisher.PublicKey(), 7},
        {"the attacker's key", attacker.Signed(manifest), site.publisher.PublicKey(), 7},
        {"a signature that is no base64", manifest + ";signature=" + std::string(88, '*') + "\r\n",
         site.publisher.PublicKey(), 7},
        {"expired", site.publisher.Signed(site.Manifest("Expires=2001-02-03\r\n")),
         site.publisher.PublicKey(), 7},
        {"an expiry that is no date", site.publisher.Signed(site.Manifest("Expires=soon\r\n")),
         site.publisher.PublicKey(), 7},
        {"not yet expired", site.publisher.Signed(site.Manifest("Expires=2999-12-31\r\n")),
         site.publisher.PublicKey(), 1},
        {"no Sha256", site.publisher.Signed(site.Manifest("", "none")), site.publisher.PublicKey(), 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((site.dir + "/p.bin").c_str());
        site.server.file("/update.ini", c.served);
        site.server.clear_requests();
        EXPECT_EQ(site.Check(c.keys), c.result);
        EXPECT_EQ(site.PackageRequested(), c.result == 1);
    }
}

// The manifest is intact but the package was swapped (here: a Sha256 that is
// not the package's, with its Md5 right): 6, and the file is moved aside.
TEST(SignedManifest, PackageMustMatchItsSha256) {
    SignedSite site;
    site.server.file("/update.ini", site.publisher.Signed(site.Manifest("", std::string(64, 'a'))));
    EXPECT_EQ(site.Check(site.publisher.PublicKey()), MARVOSTELL_ERR_DIGEST_MISMATCH);
    struct stat info;
    EXPECT_EQ(stat((site.dir + "/p.bin.err").c_str(), &info), 0);

    site.server.file("/update.ini", site.publisher.Signed(site.Manifest("", site.sha256)));
    EXPECT_EQ(site.Check(site.publisher.PublicKey()), 1) << "the right digest, in upper case";
}

TEST(SignedManifest, HostsWithoutKeysReadItAsBefore) {
    SignedSite site;
    site.server.file("/update.ini", site.publisher.Signed(site.Manifest("Expires=2001-01-01\r\n")));
    char path[MARVOSTELL_PATH_BUFFER_SIZE];
    EXPECT_EQ(CheckNewVersion(nullptr, 0, 1, site.server.url("/update.ini").c_str(), site.dir.c_str(),
                              path),
              1);
}

namespace {

// What the writer below puts in place of the stored manifest.
std::string g_replacement;

int RenameThenReplace(const char *from, const char *to) {
    const int result = posix::RealSystemCalls().renameReplacing(from, to);
    if (result == 0) std::ofstream(to, std::ios::binary) << g_replacement;
    return result;
}

}  // namespace

// A writer replaces update.ini the moment the check has stored it, with a
// manifest that would decide otherwise (another package, no expiry, a
// [General] section): the second export decides from the bytes it fetched
// and verified all the same, and the stored copy is the writer's.
TEST(SignedManifest, DecisionIgnoresTheStoredCopy) {
    SignedSite site;
    g_replacement = "[General]\r\nupdate=e\r\n[e]\r\nversion=3\r\nPackage=/e.bin\r\nPackageSize=5\r\nMd5=" +
                    std::string(32, '0') + "\r\nSha256=" + std::string(64, '0') + "\r\n";
    const std::string key = site.publisher.PublicKey();
    const struct {
        const char *name;
        std::string served;
        bool withKeys;
        int result;
    } cases[] = {
        {"signed", site.publisher.Signed(site.Manifest()), true, 1},
        {"without keys", site.Manifest(), false, 1},
        {"signed, expired", site.publisher.Signed(site.Manifest("Expires=2001-02-03\r\n")), true, 7},
        {"no [General]", "[p]\r\nversion=2\r\n", false, MARVOSTELL_ERR_NOT_A_MANIFEST},
    };
    posix::SystemCalls writer = posix::RealSystemCalls();
    writer.renameReplacing = RenameThenReplace;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((site.dir + "/p.bin").c_str());
        site.server.file("/update.ini", c.served);
        site.server.clear_requests();
        posix::ReplaceSystemCalls(writer);
        EXPECT_EQ(site.Check(key, c.withKeys), c.result);
        posix::RestoreSystemCalls();
        EXPECT_EQ(site.PackageRequested(), c.result == 1);
        EXPECT_EQ(ReadAll(site.dir + "/update.ini"), g_replacement);
    }
}

// Any entry that is no key fails the call, even beside a good one: base64
// of other than 64 bytes, or 64 bytes that are no point of P-256.
TEST(SignedManifest, MalformedTrustedKeysAreRefusedBeforeAnyRequest) {
    SignedSite site;
    site.server.file("/update.ini", site.publisher.Signed(site.Manifest()));
    const std::string key = site.publisher.PublicKey();
    std::vector<uint8_t> point;
    ASSERT_TRUE(DecodeBase64(key, point));
    const std::string y(point.begin() + 32, point.end());
    std::string offCurve = std::string(point.begin(), point.end());
    offCurve.back() ^= 1;
    // X is the field's prime: no coordinate at all.
    const std::string p256Prime = std::string(4, '\xFF') + std::string(3, '\0') + '\x01' +
                                  std::string(12, '\0') + std::string(12, '\xFF');
    for (const std::string &keys : {std::string(""), std::string(" , "), key.substr(1),
                                    key + ",x", std::string(88, 'A'), key + "," + Base64(offCurve),
                                    Base64(p256Prime + y) + " " + key,
                                    Base64(std::string(64, '\0'))}) {
        site.server.clear_requests();
        EXPECT_EQ(site.Check(keys), 87) << keys;
        EXPECT_TRUE(site.server.requests().empty()) << keys;
    }
}

TEST(Base64, DecodesOnlyTheCanonicalPaddedForm) {
    const struct {
        const char *text;
        bool ok;
        const char *bytes;
    } cases[] = {
        {"", true, ""},          {"Zg==", true, "f"},      {"Zm8=", true, "fo"},
        {"Zm9v", true, "foo"},   {"Zm9vYg==", true, "foob"}, {"Zg=", false, ""},
        {"Zh==", false, ""},     {"Zm9=", false, ""},      {"Z===", false, ""},
        {"Zm9v\n", false, ""},   {"Zg==Zg==", false, ""},  {"Zm-v", false, ""},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> bytes;
        EXPECT_EQ(DecodeBase64(c.text, bytes), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes) << c.text;
        }
    }
}

TEST(ExpiryDate, ReadsCalendarDatesOnly) {
    const struct {
        const char *text;
        bool ok;
        int64_t days;
    } cases[] = {
        {"1970-01-01", true, 0},      {"2000-03-01", true, 11017}, {"2024-02-29", true, 19782},
        {"2023-02-29", false, 0},     {"2026-13-01", false, 0},    {"2026-04-31", false, 0},
        {"2026-4-01", false, 0},      {"20260401", false, 0},      {" 2026-04-01", false, 0},
    };
    for (const auto &c : cases) {
        int64_t days = -1;
        EXPECT_EQ(ParseExpiryDate(c.text, days), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(days, c.days) << c.text;
        }
    }
}

// With SHA-256 the file is read into two pieces in turn while another thread
// digests the piece before: a piece overwritten too early would change the
// digest. Twelve pieces and a short last one.
TEST(ReadFileDigests, BothDigestsOverManyPieces) {
    std::string data(3 * 1000 * 1000 + 7, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131 + (i >> 13)) & 0xFF);
    const TempDir temp{"digests"};
    const std::string path = temp.path() + "/big.bin";
    std::ofstream(path, std::ios::binary) << data;
    crypto::CSha256 whole;
    uint8_t sum[crypto::kSha256Bytes];
    whole.Add(data.data(), data.size());
    ASSERT_TRUE(whole.Finish(sum));
    CMd5Hex md5;
    md5.Add(data.data(), data.size());

    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    BYTE buffer[64];
    FileDigests digests;
    EXPECT_TRUE(ReadFileDigests(file, buffer, sizeof buffer, true, nullptr, digests).Ok());
    CloseHandle(file);
    EXPECT_EQ(digests.sha256, DigestHex(sum, sizeof sum));
    EXPECT_EQ(digests.md5, md5.Finish());
}
