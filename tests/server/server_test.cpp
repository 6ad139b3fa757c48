// The server's answers byte for byte, read with a plain socket.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "server_script.h"
#include "test_certificates.h"
#include "temp_dir.h"
#include "test_server.h"

using marvostell::testing::Response;
using marvostell::testing::TestServer;

namespace {

// Sends request on a new connection and reads until the server closes it.
// *error receives the errno of a failed read (0 after a clean FIN).
std::string Exchange(uint16_t port, const std::string &request, int *error = nullptr) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
    EXPECT_EQ(static_cast<ssize_t>(request.size()),
              ::send(fd, request.data(), request.size(), MSG_NOSIGNAL));
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<size_t>(n));
    if (error) *error = n < 0 ? errno : 0;
    ::close(fd);
    return got;
}

// Starts the program with args and waits for its port file; 0 when it did not
// start. *pid receives the child.
int StartProgram(const std::vector<std::string> &args, const std::string &portFile, pid_t *pid) {
    *pid = ::fork();
    if (*pid < 0) return 0;
    if (*pid == 0) {
        std::vector<char *> argv{const_cast<char *>(TEST_HTTP_SERVER)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(const_cast<char *>("--port-file"));
        argv.push_back(const_cast<char *>(portFile.c_str()));
        argv.push_back(nullptr);
        ::execv(TEST_HTTP_SERVER, argv.data());
        ::_exit(127);
    }
    int port = 0;
    for (int i = 0; i < 200 && port == 0; ++i) {
        std::ifstream in(portFile);
        if (!(in >> port)) ::usleep(20000);
    }
    return port;
}

// One request over TLS to 127.0.0.1:port, the server's certificate checked
// against ca for the name ip: the answer, or "" with *verdict set when the
// handshake fails.
std::string TlsExchange(uint16_t port, const std::string &ca, const char *ip,
                        const std::string &request, long *verdict) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL *ssl = SSL_new(ctx);
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), ip);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    std::string got;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        SSL_set_fd(ssl, fd) == 1 && SSL_connect(ssl) == 1 &&
        SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
        char buf[4096];
        int n;
        while ((n = SSL_read(ssl, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    }
    *verdict = SSL_get_verify_result(ssl);
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ::close(fd);
    return got;
}

Response Ten() {
    Response r;
    r.body = "0123456789";
    return r;
}

}  // namespace

TEST(TestServer, ScriptedAnswersOnTheWire) {
    struct Case {
        const char *name;
        Response response;
        const char *extra_request_headers;
        const char *expected;
    };
    Response ranged = Ten();
    ranged.ranges = true;
    Response rangedDrop = ranged;
    rangedDrop.drop_after = 3;
    Response chunked = Ten();
    chunked.chunked = true;
    chunked.trickle_piece = 4;
    chunked.trickle_delay_ms = 1;
    Response extra = Ten();
    extra.declared_length = 3;
    Response status = Ten();
    status.status = 401;
    status.reason = "Unauthorized";
    status.headers = {"WWW-Authenticate: Basic realm=\"x\""};
    const Case cases[] = {
        {"range honoured", ranged, "Range: bytes=4-\r\n",
         "HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\nContent-Range: bytes 4-9/10\r\n"
         "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n456789"},
        {"range and drop", rangedDrop, "Range: bytes=4-\r\n",
         "HTTP/1.1 206 Partial Content\r\nContent-Length: 6\r\nContent-Range: bytes 4-9/10\r\n"
         "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n456"},
        {"range past the end", ranged, "Range: bytes=10-\r\n",
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\nContent-Range: bytes */10\r\n"
         "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n"},
        {"range ignored", Ten(), "Range: bytes=4-\r\n",
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789"},
        {"chunked trickle", chunked, "",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
         "4\r\n0123\r\n4\r\n4567\r\n2\r\n89\r\n0\r\n\r\n"},
        {"more bytes than declared", extra, "",
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\n0123456789"},
        {"status and headers", status, "",
         "HTTP/1.1 401 Unauthorized\r\nContent-Length: 10\r\n"
         "WWW-Authenticate: Basic realm=\"x\"\r\nConnection: close\r\n\r\n0123456789"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server;
        server.route("/f", c.response);
        std::string request = std::string("GET /f HTTP/1.1\r\nHost: x\r\n") +
                              c.extra_request_headers + "Connection: close\r\n\r\n";
        EXPECT_EQ(c.expected, Exchange(server.port(), request));
        ASSERT_EQ(1u, server.requests().size());
        EXPECT_EQ(request, server.requests()[0]);
    }
}

TEST(TestServer, KeepAliveAndUnknownPath) {
    TestServer server;
    server.route("/a", Ten());
    std::string first = "GET /a?q=1 HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string second = "GET /missing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"
              "HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\nConnection: close\r\n\r\n"
              "not found\n",
              Exchange(server.port(), first + second));
    EXPECT_EQ((std::vector<std::string>{first, second}), server.requests());
}

TEST(TestServer, ResetAfterPartOfTheBody) {
    TestServer server;
    Response r = Ten();
    r.drop_after = 4;
    r.reset = true;
    server.route("/r", r);
    int error = 0;
    std::string got = Exchange(server.port(), "GET /r HTTP/1.1\r\nHost: x\r\n\r\n", &error);
    EXPECT_EQ(ECONNRESET, error);
    // What arrived before the reset is the head and at most the first 4 bytes.
    EXPECT_EQ(0u, got.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(std::string::npos, got.find("4567"));
}

// A stalled answer: nothing, not even the status line, before the wait ends.
TEST(TestServer, WaitHoldsTheWholeAnswer) {
    TestServer server;
    Response r = Ten();
    r.head_delay_ms = 400;
    server.route("/w", r);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789",
              Exchange(server.port(), "GET /w HTTP/1.1\r\nConnection: close\r\n\r\n"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

// The program: a script, the port file, the request log and SIGTERM.
TEST(TestHttpServerProgram, ServesScriptAndLogs) {
    const marvostell::testing::TempDir temp("server");
    const std::string d = temp.path();
    {
        std::ofstream script(d + "/routes.txt");
        script << "# two routes\n"
                  "route /m.ini\n"
                  "status 203 Fine Here\n"
                  "header X-Test: yes\n"
                  "body a\\r\\nb\\x41\n"
                  "close\n"
                  "route /f.bin\n"
                  "body-file f.bin\n"
                  "drop 2\n";
        std::ofstream(d + "/f.bin") << "0123456789";
    }
    pid_t pid;
    const int port = StartProgram(
        {"--script", d + "/routes.txt", "--log", d + "/log", "--exit-after", "30"}, d + "/port", &pid);
    ASSERT_NE(0, port);
    const std::string r1 = "GET /m.ini HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string r2 = "GET /f.bin HTTP/1.1\r\nRange: bytes=3-\r\n\r\n";
    EXPECT_EQ("HTTP/1.1 203 Fine Here\r\nContent-Length: 5\r\nX-Test: yes\r\n"
              "Connection: close\r\n\r\na\r\nbA",
              Exchange(static_cast<uint16_t>(port), r1));
    EXPECT_EQ("HTTP/1.1 206 Partial Content\r\nContent-Length: 7\r\nContent-Range: bytes 3-9/10\r\n"
              "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n34",
              Exchange(static_cast<uint16_t>(port), r2));
    ::kill(pid, SIGTERM);
    int status = -1;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream log(d + "/log", std::ios::binary);
    std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ("=== request 1 ===\n" + r1 + "=== request 2 ===\n" + r2, logged);
}

// The program serving HTTPS with the certificates it makes: the same answer
// over TLS, a certificate that verifies against the CA for the loopback
// address, and one for another name that does not.
TEST(TestHttpServerProgram, ServesHttpsWithItsTestCertificates) {
    const marvostell::testing::TempDir temp("server-tls");
    const std::string d = temp.path();
    pid_t maker = ::fork();
    ASSERT_GE(maker, 0);
    if (maker == 0) {
        ::execl(TEST_HTTP_SERVER, TEST_HTTP_SERVER, "--make-certificates", d.c_str(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = -1;
    ASSERT_EQ(maker, ::waitpid(maker, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ofstream(d + "/routes.txt") << "route /m.ini\nbody [General]\nclose\n";
    const std::string request = "GET /m.ini HTTP/1.1\r\nHost: x\r\n\r\n";
    for (const char *served : {"trusted.pem", "wrong-name.pem"}) {
        pid_t pid;
        const int port = StartProgram({"--script", d + "/routes.txt", "--tls-cert", d + "/" + served,
                                       "--tls-key", d + "/server.key", "--exit-after", "30"},
                                      d + "/port-" + served, &pid);
        ASSERT_NE(0, port);
        long verdict = -1;
        const std::string answer =
            TlsExchange(static_cast<uint16_t>(port), d + "/ca.pem", "127.0.0.1", request, &verdict);
        if (std::string(served) == "trusted.pem") {
            EXPECT_EQ(X509_V_OK, verdict);
            EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: close\r\n\r\n[General]",
                      answer);
        } else {
            EXPECT_EQ(X509_V_ERR_IP_ADDRESS_MISMATCH, verdict);
            EXPECT_EQ("", answer);
        }
        ::kill(pid, SIGTERM);
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << served;
    }
}

// The script language shared by the program and the scenario data.
TEST(ServerScript, ReadsDirectivesAndRejectsBadLines) {
    EXPECT_EQ("a\r\nbA-xyxyxy-\\x4", marvostell::testing::ExpandText("a\\r\\nb\\x41-%repeat[3 x xy]%-\\x4"));
    marvostell::testing::ServerScript script;
    std::string error;
    for (const char *line : {"# comment", "", "route /a", "body one\\n", "body two", "ranges on",
                             "route /b", "status 404 Not Found", "pattern 12", "trickle 3 5",
                             "wait 250"})
        EXPECT_TRUE(script.Line(line, &error)) << line << ": " << error;
    ASSERT_EQ(2u, script.routes().size());
    EXPECT_EQ("one\ntwo", script.BodyOf("/a"));
    EXPECT_TRUE(script.routes()[0].second.ranges);
    const Response &b = script.routes()[1].second;
    EXPECT_EQ(404, b.status);
    EXPECT_EQ("Not Found", b.reason);
    EXPECT_EQ(12u, b.pattern_size);
    EXPECT_EQ(3u, b.trickle_piece);
    EXPECT_EQ(250, b.head_delay_ms);
    for (const char *line : {"status x", "route", "bogus 1", "trickle 3", "wait soon"})
        EXPECT_FALSE(script.Line(line, &error)) << line;
    EXPECT_FALSE(marvostell::testing::ServerScript().Line("body before a route", &error));
}
