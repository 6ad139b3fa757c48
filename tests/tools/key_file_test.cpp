// The Windows tools' reader of key files refuses each part that is wrong or
// not supported, with the fault that names it. Each case changes one part of
// what the writer wrote, keeping every length, so that only that part is wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signing_key_der.h"

using namespace marvostell::tools::keyfile;

namespace {

std::string Hex(const std::vector<uint8_t> &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) hex += {kDigits[b >> 4], kDigits[b & 15]};
    return hex;
}

std::vector<uint8_t> Bytes(const std::string &hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string EncryptedSample() {
    EncryptedKey key;
    key.salt.assign(16, 0x11);
    key.iterations = 600000;  // 02 03 09 27 c0
    key.keyBytes = 32;
    std::fill(std::begin(key.iv), std::end(key.iv), 0x22);
    key.ciphertext.assign(32, 0x33);
    return Hex(WriteEncryptedPrivateKeyInfo(key));
}

std::string PlainSample() {
    P256Key key;
    std::fill(std::begin(key.privateKey), std::end(key.privateKey), 0x44);
    std::fill(std::begin(key.publicKey), std::end(key.publicKey), 0x55);
    key.hasPublicKey = true;
    return Hex(WritePrivateKeyInfo(key));
}

struct Case {
    const char *title;
    bool encrypted;
    std::string find, replace;  // in the hex of the sample, found once
    Fault fault;
};

const Case kCases[] = {
    {"encrypted, as written", true, "", "", Fault::kNone},
    {"scrypt instead of PBKDF2", true, "2a864886f70d01050c", "2b06010401da47040b", Fault::kUnsupportedEncryption},
    {"PRF HMAC-SHA1", true, "2a864886f70d0209", "2a864886f70d0207", Fault::kUnsupportedEncryption},
    {"AES-256-GCM", true, "60864801650304012a", "60864801650304012e", Fault::kUnsupportedEncryption},
    {"PBES1", true, "2a864886f70d01050d", "2a864886f70d01050a", Fault::kUnsupportedEncryption},
    {"no rounds", true, "02030927c0", "0203000000", Fault::kMalformed},
    {"rounds below zero", true, "02030927c0", "0203f927c0", Fault::kMalformed},
    {"a salt running past its parameters", true, "0410" + std::string(32, '1'), "0411" + std::string(32, '1'),
     Fault::kMalformed},
    {"an IV that is no OCTET STRING", true, "0410" + std::string(32, '2'), "0310" + std::string(32, '2'),
     Fault::kMalformed},
    {"an indefinite length", true, "308184", "308084", Fault::kMalformed},
    {"plain, as written", false, "", "", Fault::kNone},
    {"explicit curve parameters", false, "06082a8648ce3d030107", "30080000000000000000", Fault::kNotP256},
    {"another key type", false, "06072a8648ce3d0201", "06072a8648ce3d0202", Fault::kNotEc},
    {"PKCS#8 version 2", false, "308187020100", "308187020102", Fault::kMalformed},
    {"ECPrivateKey version 0", false, "306b020101", "306b020100", Fault::kMalformed},
    {"a public point that is no BIT STRING", false, "a144034200", "a144044200", Fault::kMalformed},
};

TEST(KeyFile, EachWrongPartIsRefused) {
    for (const Case &c : kCases) {
        std::string hex = c.encrypted ? EncryptedSample() : PlainSample();
        if (!c.find.empty()) {
            const size_t at = hex.find(c.find);
            ASSERT_TRUE(at != std::string::npos && hex.find(c.find, at + 1) == std::string::npos) << c.title;
            hex.replace(at, c.find.size(), c.replace);
        }
        // Every case also fails with a byte cut off the end, or one added.
        for (const std::string &variant : {hex, hex.substr(0, hex.size() - 2), hex + "00"}) {
            const std::vector<uint8_t> der = Bytes(variant);
            EncryptedKey encrypted;
            P256Key plain;
            const Fault fault = c.encrypted ? ReadEncryptedPrivateKeyInfo(der.data(), der.size(), encrypted)
                                            : ReadPrivateKeyInfo(der.data(), der.size(), plain);
            const Fault want = variant.size() == hex.size() ? c.fault : Fault::kMalformed;
            EXPECT_EQ(fault, want) << c.title << (variant.size() < hex.size() ? ", cut" : "")
                                   << (variant.size() > hex.size() ? ", extended" : "");
        }
    }
}

}  // namespace
