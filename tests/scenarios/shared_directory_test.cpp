// A local directory that others share: two checks started together in one
// directory, and files of the directory that are symbolic links leading out
// of it. Run against the target of the scenario program (the Linux library,
// or a DLL under Wine).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "scenario_runner.h"
#include "temp_dir.h"

using namespace marvostell::testing;
namespace fs = std::filesystem;

namespace {

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = PatternByte(i);
    return data;
}

std::string Manifest(size_t size, const std::string &md5) {
    return "[General]\nupdate=p\n[p]\nversion=2\nPackage=/pkg/a.bin\nPackageSize=" +
           std::to_string(size) + "\nMd5=" + md5 + "\n";
}

bool Has(const std::vector<std::string> &list, const std::string &item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Two checks at once, many times over, with the package already complete in
// the directory or with a stale file of its size there. Whatever the
// interleaving:
//  - a check that returns 1 has the verified package at its path (nothing
//    ever moves or changes a verified package, so the path still holds it
//    when both have ended);
//  - the good package is never moved aside, deleted or appended to: only the
//    stale file is ever rejected, and the package's name holds the good
//    package or the stale file.
// The digest and the transfer take long enough for the two to overlap; which
// outcome a round gives (a refusal because the other holds a file, 0 or 5
// when the manifest copy was being rewritten as it was read) is left to
// timing and only counted.
void TwoChecksTogether(bool completeBefore) {
    const bool wine = CurrentTarget().name != "native";
    const int rounds = wine ? 4 : 25;
    const std::string package = Pattern(4 << 20);
    const std::string stale(package.size(), 's');
    const std::string good = Md5Hex(package);
    TestServer server;
    server.file("/update/update.ini", Manifest(package.size(), good));
    Response slow;
    slow.body = package;
    slow.ranges = true;
    slow.trickle_piece = 256 << 10;
    slow.trickle_delay_ms = 2;
    server.route("/pkg/a.bin", slow);

    Check check;
    check.seed = {{"a.bin", completeBefore ? package : stale}};
    check.digests = true;
    std::map<int, int> results;
    for (int round = 0; round < rounds; ++round) {
        const std::vector<Outcome> outcomes = RunChecksTogether(CurrentTarget(), server, {check, check});
        const std::vector<std::string> &left = outcomes.front().digests;
        const std::string where = "round " + std::to_string(round);
        bool anyUpdated = false;
        for (const Outcome &o : outcomes) {
            ++results[o.result];
            if (o.result != 1) continue;
            anyUpdated = true;
            EXPECT_EQ(o.path, "a.bin") << where;
            EXPECT_TRUE(Has(left, "a.bin:" + good)) << where << ": returned 1 without the package";
        }
        for (const std::string &file : left) {
            if (file.rfind("a.bin:", 0) == 0) {
                EXPECT_TRUE(file == "a.bin:" + good || file == "a.bin:" + Md5Hex(stale))
                    << where << ": " << file;
            } else if (file.rfind("a.bin.err:", 0) == 0) {
                EXPECT_FALSE(completeBefore) << where << ": a complete package was rejected";
                EXPECT_EQ(file, "a.bin.err:" + Md5Hex(stale)) << where;
            }
        }
        if (completeBefore || anyUpdated) {
            EXPECT_TRUE(Has(left, "a.bin:" + good)) << where << ": the good package is gone";
        }
    }
    std::cout << CurrentTarget().name << (completeBefore ? ", complete" : ", stale") << ":";
    for (const auto &r : results) std::cout << " result " << std::hex << r.first << std::dec << " x" << r.second;
    std::cout << "\n";
}

TEST(TwoChecksInOneDirectory, CompletePackage) { TwoChecksTogether(true); }

TEST(TwoChecksInOneDirectory, StalePackage) { TwoChecksTogether(false); }

// A signed check, and beside it in the same directory checks without keys
// on an attacker's unsigned manifest, which store that manifest there over
// and over: the signed check decides from the manifest it verified, every
// round. (The signature is the one of signed.txt, made by the openssl
// command line; the attacker's manifest offers a version 3 to any host
// below it, and the checks without keys select nothing, being version 5.)
TEST(TwoChecksInOneDirectory, SignedCheckDecidesFromWhatItVerified) {
    const bool wine = CurrentTarget().name != "native";
    TestServer server;
    server.file("/update/update.ini",
                "[General]\nupdate=p\n[p]\nversion=2\nPackage=/pkg/a.bin\nPackageSize=20000\n"
                "Md5=D4C6B33EBFC8A4CAAF85061412304098\nSha256=deaada94af862cbbd9f7c0507c8050cc688e88c6"
                "ab9c1e773643f15a50c77a41\n;signature=ClJHiq62ATQlCCDAmwdXhlEQ7NDRQYFr7akvuLJ1mgymyR7Z"
                "vtxn54iPwHAQJM1VblX8Lhf1B7Wj/uaUXvEo2w==\n");
    server.file("/pkg/a.bin", Pattern(20000));
    server.file("/attacker/update.ini", "[General]\nupdate=e\n[e]\nversion=3\nPackage=/pkg/e.bin\n"
                                         "PackageSize=5\nMd5=" + std::string(32, '0') + "\n");
    Check signedCheck;
    signedCheck.ex = ExOptions();
    signedCheck.ex->trustedKeys = "672AGti70ErDvpa/F4uF4izF9tVGN1ARQZYfXLXDfx1b6alF2sRJP3X5BFugXAwl"
                                  "dTD8G6RBEj4zqMwPJH5HmA==";
    Check attacker;
    attacker.url = "http://{server}/attacker/update.ini";
    attacker.version = 5;
    attacker.window = false;
    attacker.rounds = wine ? 40 : 20;
    const int rounds = wine ? 12 : 100;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(wine ? 150 : 60);
    int ran = 0;
    for (; ran < rounds && std::chrono::steady_clock::now() < until; ++ran) {
        const Outcome got = RunChecksTogether(CurrentTarget(), server, {signedCheck, attacker}).front();
        EXPECT_TRUE(got.result == 1 && got.path == "a.bin" && got.offer == "2 20000 p")
            << "round " << ran << ": result " << got.result << ", path " << got.path << ", offer "
            << got.offer;
    }
    std::cout << CurrentTarget().name << ": " << ran << " rounds\n";
}

// A file of the local directory that is a symbolic link: never written,
// extended or read through, whatever it leads to; the call fails with a
// local-file error. The manifest copy replaces a link of its name instead of
// writing through it. Removing a rejected file removes the link, not its
// target.
TEST(LocalDirectory, NothingIsReachedThroughALink) {
    if (CurrentTarget().name != "native")
        GTEST_SKIP() << "Wine 8 follows a Unix symbolic link as the file it leads to and makes "
                        "no reparse points, so under Wine there is no link to refuse";
    const std::string package = Pattern(20000);
    const TempDir outsideDir("outside");
    const std::string outside = outsideDir.path();
    const std::string target = outside + "/target";
    const int linkError = static_cast<int>(0x80000000u | 1921);  // ERROR_CANT_RESOLVE_FILENAME
    const std::string manifestGet = "GET /update/update.ini";
    const std::string packageGet = "GET /pkg/a.bin Range=bytes=0-";
    struct Case {
        std::string name;
        std::string linkName, linkTo, targetContent, md5;
        int result;
        std::vector<std::string> requests;
    } cases[] = {
        {"manifest", "update.ini", target, "precious", Md5Hex(package), 1,
         {manifestGet, packageGet}},
        // Even a target that holds the right package is not taken: the
        // link's owner could change it after the check.
        {"package", "a.bin", target, package, Md5Hex(package), linkError,
         {manifestGet, packageGet, packageGet}},
        {"dangling package", "a.bin", outside + "/absent", "", Md5Hex(package), linkError,
         {manifestGet, packageGet, packageGet}},
        {"rejected name", "a.bin.err", target, "precious", std::string(32, '0'), 6,
         {manifestGet, packageGet}},
    };
    for (const Case &c : cases) {
        std::ofstream(target, std::ios::binary) << c.targetContent;
        TestServer server;
        server.file("/update/update.ini", Manifest(package.size(), c.md5));
        server.file("/pkg/a.bin", package);
        Check check;
        check.seed = {{c.linkName, c.linkTo, true}};
        const Outcome got = RunCheck(CurrentTarget(), server, check);
        EXPECT_EQ(got.result, c.result) << c.name;
        EXPECT_EQ(got.requests, c.requests) << c.name;
        std::ifstream in(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.targetContent) << c.name;
        EXPECT_FALSE(fs::exists(outside + "/absent")) << c.name;
    }
}

// A file of the local directory with a second name outside it (a hard link)
// is never written: the manifest copy replaces its name, the package is
// refused as a symbolic link is. The outside file keeps its bytes.
TEST(LocalDirectory, NothingIsWrittenThroughAHardLink) {
    const std::string package = Pattern(20000);
    const TempDir outsideDir("outside");
    const std::string target = outsideDir.path() + "/target";
    const std::string manifestGet = "GET /update/update.ini";
    const struct {
        const char *name;
        const char *linkName;
        std::string targetContent;
        int result;
        std::vector<std::string> requests;
    } cases[] = {
        {"manifest", "update.ini", "precious", 1, {manifestGet, "GET /pkg/a.bin Range=bytes=0-"}},
        {"partial package", "a.bin", package.substr(0, 5000),
         static_cast<int>(0x80000000u | 1921),  // ERROR_CANT_RESOLVE_FILENAME
         {manifestGet, "GET /pkg/a.bin Range=bytes=5000-", "GET /pkg/a.bin Range=bytes=5000-"}},
    };
    for (const auto &c : cases) {
        std::ofstream(target, std::ios::binary) << c.targetContent;
        TestServer server;
        server.file("/update/update.ini", Manifest(package.size(), Md5Hex(package)));
        server.file("/pkg/a.bin", package);
        Check check;
        Seed second{c.linkName, target};
        second.hardLink = true;
        check.seed = {second};
        const Outcome got = RunCheck(CurrentTarget(), server, check);
        EXPECT_EQ(got.result, c.result) << c.name;
        EXPECT_EQ(got.requests, c.requests) << c.name;
        std::ifstream in(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.targetContent) << c.name;
    }
}

// A bad package whose ".err" name is taken (by a directory) cannot be moved
// aside: it is deleted instead, and the next call downloads it afresh rather
// than failing on the same file for ever.
TEST(LocalDirectory, BadPackageThatCannotBeMovedAsideIsDeleted) {
    const std::string package = Pattern(20000);
    TestServer server;
    server.file("/update/update.ini", Manifest(package.size(), std::string(32, '0')));
    server.file("/pkg/a.bin", package);
    Check check;
    Seed taken{"a.bin.err", ""};
    taken.directory = true;
    check.seed = {taken};
    const Outcome got = RunCheck(CurrentTarget(), server, check);
    EXPECT_EQ(got.result, 6);
    std::vector<std::string> names;
    for (const std::string &file : got.files) names.push_back(file.substr(0, file.rfind(':')));
    EXPECT_EQ(names, (std::vector<std::string>{"a.bin.err", "update.ini"})) << "a.bin is gone";
}

}  // namespace
