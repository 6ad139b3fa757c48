// test_http_server: the test HTTP server as a program, for clients that run in
// another process (the Windows DLL under Wine, the demo).
//
//   test_http_server [--port N] [--root DIR] [--script FILE] [--port-file FILE]
//                    [--log FILE] [--exit-after SECONDS]
//                    [--tls-cert FILE --tls-key FILE]
//   test_http_server --make-certificates DIR
//
// Listens on 127.0.0.1 (port 0 = a free one), serves until SIGTERM/SIGINT or
// until --exit-after seconds have passed. --port-file receives the port number
// once listening. --log appends each raw request, each preceded by a line
// "=== request N ===". With --tls-cert and --tls-key (PEM) it serves HTTPS.
// --make-certificates writes the test CA and server certificates of
// test_certificates.h into DIR (ca.pem, trusted.pem, server.key, ...) and exits.
//
// Script: blank lines and lines starting with '#' are skipped; the directives
// are those of server_script.h. Example:
//   route /update/update.ini
//   header Content-Type: text/plain
//   body [General]\r\nupdate=p1\r\n
//   route /p1.bin
//   body-file p1.bin
//   drop 1000
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server_script.h"
#include "test_certificates.h"
#include "test_server.h"

using marvostell::testing::TestServer;

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

int Usage() {
    std::cerr << "usage: test_http_server [--port N] [--root DIR] [--script FILE]"
                 " [--port-file FILE] [--log FILE] [--exit-after SECONDS]"
                 " [--tls-cert FILE --tls-key FILE]\n"
                 "       test_http_server --make-certificates DIR\n";
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::string root, script, portFile, log, certificates;
    marvostell::testing::TlsFiles tls;
    int port = 0;
    double exitAfter = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        std::string v = argv[++i];
        if (a == "--root") root = v;
        else if (a == "--script") script = v;
        else if (a == "--port-file") portFile = v;
        else if (a == "--log") log = v;
        else if (a == "--port") port = std::atoi(v.c_str());
        else if (a == "--exit-after") exitAfter = std::atof(v.c_str());
        else if (a == "--tls-cert") tls.certificate = v;
        else if (a == "--tls-key") tls.key = v;
        else if (a == "--make-certificates") certificates = v;
        else return Usage();
    }
    if (tls.certificate.empty() != tls.key.empty()) return Usage();

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        if (!certificates.empty()) {
            marvostell::testing::MakeTestCertificates(certificates);
            return 0;
        }
        auto made = tls.certificate.empty() ? std::make_unique<TestServer>(static_cast<uint16_t>(port))
                                            : std::make_unique<TestServer>(tls, static_cast<uint16_t>(port));
        TestServer &server = *made;
        if (!root.empty()) server.serve_directory(root);
        std::string error;
        if (!script.empty() && !marvostell::testing::LoadServerScript(script, server, &error)) {
            std::cerr << "test_http_server: " << error << "\n";
            return 1;
        }
        std::mutex logMutex;
        int counter = 0;
        if (!log.empty()) {
            server.on_request([&](const std::string &raw) {
                std::lock_guard<std::mutex> lock(logMutex);
                std::ofstream out(log, std::ios::app | std::ios::binary);
                out << "=== request " << ++counter << " ===\n" << raw;
            });
        }
        if (!portFile.empty()) {
            // Written under another name and renamed, so a reader never sees half a number.
            std::string tmp = portFile + ".tmp";
            {
                std::ofstream out(tmp);
                out << server.port() << "\n";
            }
            if (std::rename(tmp.c_str(), portFile.c_str()) != 0) {
                std::cerr << "test_http_server: cannot write " << portFile << "\n";
                return 1;
            }
        }
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long long>(exitAfter * 1000));
        while (!g_stop && (exitAfter <= 0 || std::chrono::steady_clock::now() < deadline))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server.stop();
    } catch (const std::exception &e) {
        std::cerr << "test_http_server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
