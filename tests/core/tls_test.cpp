// CheckNewVersionEx with MARVOSTELL_USE_HTTPS against the test server in TLS
// mode: a test CA given through SSL_CERT_FILE, certificates that verify or
// fail to in one way each, and servers that do not speak TLS.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "marvostell.h"
#include "package/digest.h"
#include "temp_dir.h"
#include "test_certificates.h"
#include "test_server.h"

using marvostell::testing::MakeTestCertificates;
using marvostell::testing::ReadAll;
using marvostell::testing::TempDir;
using marvostell::testing::TestCertificates;
using marvostell::testing::TestServer;
using marvostell::testing::TlsFiles;

namespace {

// Sets (or, with null, removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    std::optional<std::string> old_;
};

// The certificates, made once for the whole program.
const TestCertificates &Certificates() {
    static TempDir dir("tls-certs");
    static const TestCertificates made = MakeTestCertificates(dir.path());
    return made;
}

bool Exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A manifest offering p.bin (version 2) and the package, on one server.
void Publish(TestServer &server, const std::string &body) {
    marvostell::CMd5Hex md5;
    md5.Add(body.data(), body.size());
    server.file("/update.ini", "[General]\nupdate=p\n[p]\nversion=2\nPackage=/p.bin\nPackageSize=" +
                                   std::to_string(body.size()) + "\nMd5=" + md5.Finish() + "\n");
    server.file("/p.bin", body);
}

struct Call {
    TempDir temp{"tls"};
    MarvostellOptions options{sizeof(MarvostellOptions), MARVOSTELL_USE_HTTPS, nullptr, nullptr,
                              0, 5, nullptr};
    MarvostellOffer offer{sizeof(MarvostellOffer), 0, 0, {}, 0, 0, {}, {}};
    char path[MARVOSTELL_PATH_BUFFER_SIZE] = "";

    uint32_t Check(const std::string &url) {
        return static_cast<uint32_t>(CheckNewVersionEx(nullptr, 0, 1, url.c_str(),
                                                       temp.path().c_str(), path, sizeof path,
                                                       &options, &offer));
    }
    std::string Package() const { return temp / "p.bin"; }
};

std::string HttpsUrl(const std::string &host, uint16_t port) {
    return "https://" + host + ":" + std::to_string(port) + "/update.ini";
}

// Answers whatever arrives with a plain HTTP 400, as an HTTP server does when
// a TLS handshake comes in where it expects a request line.
class PlainAnswerer {
public:
    PlainAnswerer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen");
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            int client;
            while ((client = ::accept(fd_, nullptr, nullptr)) >= 0) {
                char hello[4096];
                if (::recv(client, hello, sizeof hello, 0) > 0) ++handshakes_;
                static const char kAnswer[] =
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                ::send(client, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
                ::close(client);
            }
        });
    }
    ~PlainAnswerer() {
        ::shutdown(fd_, SHUT_RDWR);  // ends the accept
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    int handshakes() const { return handshakes_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> handshakes_{0};
    std::thread thread_;
};

}  // namespace

// Both requests go to the TLS server, whichever loopback name the URL uses.
TEST(Tls, ManifestAndPackageComeOverTls) {
    ScopedEnv ca("SSL_CERT_FILE", Certificates().ca.c_str());
    ScopedEnv dir("SSL_CERT_DIR", nullptr);
    for (const char *host : {"127.0.0.1", "localhost"}) {
        TestServer server(Certificates().trusted);
        const std::string body(30000, 'z');
        Publish(server, body);
        Call call;
        EXPECT_EQ(call.Check(HttpsUrl(host, server.port())), 1u) << host;
        EXPECT_EQ(std::string(call.path), call.Package()) << host;
        EXPECT_EQ(ReadAll(call.Package()), body) << host;
        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), 2u) << host;
        EXPECT_EQ(requests[0].compare(0, 16, "GET /update.ini "), 0) << requests[0];
        EXPECT_EQ(requests[1].compare(0, 11, "GET /p.bin "), 0) << requests[1];
    }
}

// Each certificate fault fails the manifest step with WinINet's number for
// it; nothing reaches the server and nothing is written.
TEST(Tls, CertificatesThatDoNotVerifyAreRefused) {
    struct Case {
        const char *name;
        TlsFiles TestCertificates::*served;
        bool caGiven;
        uint32_t expected;
    };
    const Case cases[] = {
        {"issuer nobody was given", &TestCertificates::unknown_issuer, true, 12045},
        {"self-signed", &TestCertificates::self_signed, true, 12045},
        {"test CA not in the environment", &TestCertificates::trusted, false, 12045},
        {"another host name", &TestCertificates::wrong_name, true, 12038},
        {"expired", &TestCertificates::expired, true, 12037},
    };
    for (const Case &c : cases) {
        ScopedEnv ca("SSL_CERT_FILE", c.caGiven ? Certificates().ca.c_str() : nullptr);
        ScopedEnv dir("SSL_CERT_DIR", nullptr);
        TestServer server(Certificates().*c.served);
        Publish(server, "package");
        Call call;
        EXPECT_EQ(call.Check(HttpsUrl("127.0.0.1", server.port())), c.expected) << c.name;
        EXPECT_TRUE(server.requests().empty()) << c.name;
        EXPECT_FALSE(Exists(call.temp / "update.ini")) << c.name;
        EXPECT_EQ(call.offer.version, 0u) << c.name;
    }
}

// An HTTP server that answers the handshake in plain text fails it (12157);
// one that waits for a request line stays silent until the stall time-out.
// Neither is ever read as a plain HTTP answer.
TEST(Tls, ServerThatDoesNotSpeakTlsIsRefused) {
    ScopedEnv ca("SSL_CERT_FILE", Certificates().ca.c_str());
    {
        PlainAnswerer answerer;
        Call call;
        EXPECT_EQ(call.Check(HttpsUrl("127.0.0.1", answerer.port())), 12157u);
        EXPECT_GE(answerer.handshakes(), 1);
        EXPECT_FALSE(Exists(call.temp / "update.ini"));
    }
    {
        TestServer plain;
        Publish(plain, "package");
        Call call;
        call.options.stallSeconds = 1;
        EXPECT_EQ(call.Check(HttpsUrl("127.0.0.1", plain.port())), 12002u);
        EXPECT_TRUE(plain.requests().empty());
        EXPECT_FALSE(Exists(call.Package()));
    }
}

// Without the flag an https:// URL is plain HTTP to the port it names: the
// plain server answers it, and a TLS server sees no request (its refusal of
// the handshake is no HTTP answer: ERROR_HTTP_INVALID_SERVER_RESPONSE).
TEST(Tls, WithoutTheFlagHttpsMeansPlainHttp) {
    ScopedEnv ca("SSL_CERT_FILE", Certificates().ca.c_str());
    {
        TestServer plain;
        const std::string body(5000, 'p');
        Publish(plain, body);
        Call call;
        call.options.flags = 0;
        EXPECT_EQ(call.Check(HttpsUrl("127.0.0.1", plain.port())), 1u);
        EXPECT_EQ(ReadAll(call.Package()), body);
        EXPECT_EQ(plain.requests().size(), 2u);
    }
    {
        TestServer secure(Certificates().trusted);
        Publish(secure, "package");
        Call call;
        call.options.flags = 0;
        EXPECT_EQ(call.Check(HttpsUrl("127.0.0.1", secure.port())), 12152u)
            << "no HTTP answer comes back";
        EXPECT_TRUE(secure.requests().empty());
    }
}
