#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "marvostell.h"
#include "options.h"
#include "platform/error_names.h"
#include "result_text.h"

using marvostell::Stage;

TEST(DescribeResult, NamesEveryKindOfResult) {
    const int local = MARVOSTELL_LOCAL_FILE_FLAG;
    // The facts every case is described with: 4096 bytes of a partial package.
    struct Case {
        int result;
        Stage stage;  // the failed step the result came from
        int exitStatus;
        const char *contains;
    } cases[] = {
        {0, Stage::kNone, 0, "up to date"},
        {1, Stage::kNone, 1, "/tmp/u/app.bin"},
        {3, Stage::kSockets, 3, "socket layer"},
        {4, Stage::kManifestUrl, 4, "bad URL"},
        {5, Stage::kPackageEntry, 5, "package entry"},
        {6, Stage::kDigest, 6, "MD5"},
        {401, Stage::kManifestRequest, 7, "authentication"},
        {407, Stage::kManifestRequest, 7, "(proxy)"},
        {-1, Stage::kUnexpected, 10, "unexpected"},
        {12029, Stage::kManifestRequest, 9, "ERROR_INTERNET_CANNOT_CONNECT"},
        {12007, Stage::kManifestRequest, 9, "ERROR_INTERNET_NAME_NOT_RESOLVED"},
        {87, Stage::kManifestRequest, 9, "parameter is incorrect"},
        {12039, Stage::kManifestRequest, 9, "ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR"},
        // A manifest request's system error that equals a named result.
        {5, Stage::kManifestRequest, 9, "Access is denied"},
        {local | 12029, Stage::kPackageRequest, 9,
         "package request failed: ERROR_INTERNET_CANNOT_CONNECT (12029); 4096 bytes kept"},
        {local | 2, Stage::kPackageRequest, 9, "package request failed: The system cannot find"},
        // The controllable export's outcomes; the kept bytes come from the facts.
        {local | 12030, Stage::kPackageRequest, 9,
         "0x80002EFE: the transfer ended early; 4096 bytes kept for the next check"},
        {local | 12002, Stage::kPackageRequest, 9, "stalled: nothing arrived for the stall time; 4096"},
        {local | 404, Stage::kPackageRequest, 13, "package request with HTTP status 404; 4096 bytes"},
        {local | 200, Stage::kPackageRequest, 13, "HTTP status 200"},
        {404, Stage::kManifestRequest, 13, "manifest request with HTTP status 404 (update.ini"},
        {500, Stage::kManifestRequest, 13, "HTTP status 500"},
        {599, Stage::kManifestRequest, 13, "HTTP status 599"},
        {12002, Stage::kManifestRequest, 9, "ERROR_INTERNET_TIMEOUT"},
        {12157, Stage::kManifestRequest, 9, "ERROR_INTERNET_SECURITY_CHANNEL_ERROR"},
        // A certificate error of Windows' that has no name here still reads as one.
        {12175, Stage::kManifestRequest, 9, "error 12175: Internet error 12175"},
        {2, Stage::kNone, 12, "available: a newer package is offered"},
        {7, Stage::kSignature, 15, "signature"},
        {9, Stage::kNotAManifest, 11, "not a manifest (no [General] section)"},
        {1223, Stage::kStopped, 130, "cancelled; 4096 bytes kept for the next check"},
        {1460, Stage::kStopped, 14, "deadline passed; 4096 bytes kept for the next check"},
        {87, Stage::kArgument, 2, "error 87: an option is unusable (the User-Agent"},
        // The same numbers from other steps keep their own meaning.
        {9, Stage::kManifestRequest, 9, "error 9: "},
        {1223, Stage::kManifestRequest, 9, "error 1223: "},
        {local | 12002, Stage::kPackageFile, 8, "local file error"},
        {local | 3, Stage::kLocalDirectory, 8, "0x80000003: local file error"},
        {local | 0x20, Stage::kPackageFile, 8, "used by another process"},
        {local | 0x70, Stage::kManifestFile, 8, "not enough space"},
        // The path that does not fit the host's buffer.
        {local | 122, Stage::kHostBuffer, 8, "too small. (122)"},
    };
    for (const Case &c : cases) {
        const ResultText text = DescribeResult(c.result, c.stage, {"/tmp/u/app.bin", 4096});
        EXPECT_EQ(text.exitStatus, c.exitStatus) << c.result;
        EXPECT_NE(text.text.find(c.contains), std::string::npos) << c.result << ": " << text.text;
    }
}

// The list the texts come from holds every result the public header names, in
// its order, each with a text and an exit status of its own, and no status
// that the tool gives for something else.
TEST(DescribeResult, ListHoldsEveryNamedResult) {
    const int named[] = {MARVOSTELL_UP_TO_DATE,        MARVOSTELL_UPDATED,
                         MARVOSTELL_ERR_SOCKETS,       MARVOSTELL_ERR_BAD_URL,
                         MARVOSTELL_ERR_PACKAGE_ENTRY, MARVOSTELL_ERR_DIGEST_MISMATCH,
                         MARVOSTELL_ERR_UNEXPECTED,    MARVOSTELL_AVAILABLE,
                         MARVOSTELL_ERR_SIGNATURE,     MARVOSTELL_ERR_NOT_A_MANIFEST,
                         MARVOSTELL_CANCELLED,         MARVOSTELL_TIMED_OUT};
    const std::set<int> others = {kExitUsage, 7, 8, 9, 13};  // usage, requests, local files
    ASSERT_EQ(kNamedResultCount, std::size(named));
    std::set<std::string> texts;
    std::set<int> statuses;
    for (size_t i = 0; i < kNamedResultCount; ++i) {
        EXPECT_EQ(kNamedResults[i].code, named[i]);
        texts.insert(kNamedResults[i].text);
        statuses.insert(kNamedResults[i].exitStatus);
        EXPECT_EQ(others.count(kNamedResults[i].exitStatus), 0u) << named[i];
    }
    EXPECT_EQ(texts.size(), kNamedResultCount);
    EXPECT_EQ(statuses.size(), kNamedResultCount);
}

// The manifest tool's text for a failed request: the short text only for the
// Internet errors that have one.
TEST(InternetErrorText, ShortTextWhereThereIsOne) {
    const struct {
        uint32_t code;
        const char *text;
    } cases[] = {
        {12029, "error 12029 (cannot connect)"},
        {12007, "error 12007 (the server name does not resolve)"},
        {12157, "error 12157"},
        {2, "error 2"},
    };
    for (const auto &c : cases) EXPECT_EQ(marvostell::InternetErrorText(c.code), c.text);
}

TEST(SizeText, PicksTheUnit) {
    const std::pair<uint64_t, const char *> cases[] = {
        {1, "1 byte"}, {1023, "1023 bytes"}, {1024, "1.0 KB"}, {1048575, "1024.0 KB"}, {1048576, "1.0 MB"},
        {33345536, "31.8 MB"},
    };
    for (const auto &c : cases) EXPECT_EQ(SizeText(c.first), c.second) << c.first;
}
