#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "marvostell.h"
#include "platform/error_names.h"
#include "result_text.h"

using marvostell::Stage;

TEST(DescribeResult, NamesEveryKindOfResult) {
    const int local = MARVOSTELL_LOCAL_FILE_FLAG;
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
        {local | 12002, Stage::kPackageRequest, 9, "package request failed: ERROR_INTERNET_TIMEOUT"},
        {local | 2, Stage::kPackageRequest, 9, "package request failed: The system cannot find"},
        {local | 12002, Stage::kPackageFile, 8, "local file error"},
        {local | 3, Stage::kLocalDirectory, 8, "0x80000003: local file error"},
        {local | 0x20, Stage::kPackageFile, 8, "used by another process"},
        {local | 0x70, Stage::kManifestFile, 8, "not enough space"},
        // The path that does not fit the host's buffer.
        {local | 122, Stage::kHostBuffer, 8, "too small. (122)"},
    };
    for (const Case &c : cases) {
        const ResultText text = DescribeResult(c.result, c.stage, "/tmp/u/app.bin");
        EXPECT_EQ(text.exitStatus, c.exitStatus) << c.result;
        EXPECT_NE(text.text.find(c.contains), std::string::npos) << c.result << ": " << text.text;
    }
}

// The list the texts come from holds every result the public header names, in
// its order, each with a text and an exit status of its own.
TEST(DescribeResult, ListHoldsEveryNamedResult) {
    const int named[] = {MARVOSTELL_UP_TO_DATE,        MARVOSTELL_UPDATED,
                         MARVOSTELL_ERR_SOCKETS,       MARVOSTELL_ERR_BAD_URL,
                         MARVOSTELL_ERR_PACKAGE_ENTRY, MARVOSTELL_ERR_DIGEST_MISMATCH,
                         MARVOSTELL_ERR_UNEXPECTED};
    ASSERT_EQ(kNamedResultCount, std::size(named));
    std::set<std::string> texts;
    std::set<int> statuses;
    for (size_t i = 0; i < kNamedResultCount; ++i) {
        EXPECT_EQ(kNamedResults[i].code, named[i]);
        texts.insert(kNamedResults[i].text);
        statuses.insert(kNamedResults[i].exitStatus);
        EXPECT_EQ(DescribeResult(named[i], Stage::kNone, "").exitStatus, kNamedResults[i].exitStatus);
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
