// A patch's apply interrupted: the call ends with the stop or the write's
// failure, the part written goes, and the verified patch stays for the next
// call. The files are those of the delta scenarios.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "injected_fault.h"
#include "manifest/manifest_reader.h"
#include "package/package_step.h"
#include "package/transfer.h"
#include "platform/posix/system_calls.h"
#include "temp_dir.h"
#include "test_server.h"

using namespace marvostell;
namespace sys = marvostell::posix;

namespace {

std::string DataFile(const std::string &name) {
    return marvostell::testing::ReadAll(std::string(MARVOSTELL_DELTA_DATA) + "/" + name);
}

// The manifest of the scenarios' delta_patch_applied, without its signature:
// the package step reads only the entry.
const char kManifest[] =
    "[p]\nPackage=/pkg/new.bin\nPackageSize=19999\nMd5=002881F03CD1D02B0E625AF155D6F222\n"
    "Sha256=6e0623a9e31c328d69a7df6a8db4f4ecb1eb1ab937c5c6357e7263669332e3cc\nPatches=d\n"
    "[d]\nFrom=old.bin\nFromSize=16999\n"
    "FromSha256=b783e9827441acc77a2c7d0a07be39b4755866530d8b71f714d801bd8511f954\n"
    "Patch=/pkg/old-to-new.patch\nPatchSize=2610\n"
    "PatchSha256=f0ca9756378f79f5d039280efbede19463179a76d97d247a54ad0a6be2b79384\n";

volatile int32_t g_cancel = 0;
int g_error = 0;  // 0: the output's write cancels the call instead of failing

// The applier writes the whole 19999-byte result at once; nothing else does.
ssize_t OutputWrite(int fd, const void *buffer, size_t size) {
    if (size == 19999) {
        if (g_error) return errno = g_error, -1;
        g_cancel = 1;
    }
    return sys::RealSystemCalls().write(fd, buffer, size);
}

}  // namespace

TEST(FetchDelta, ApplyInterruptedKeepsOnlyThePatch) {
    const struct {
        const char *name;
        int error;
        Stage stage;
        uint32_t code;
    } cases[] = {
        {"cancelled", 0, Stage::kStopped, ERROR_CANCELLED},
        {"disk full", ENOSPC, Stage::kPackageFile, ERROR_DISK_FULL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        marvostell::testing::TestServer server;
        server.file("/pkg/old-to-new.patch", DataFile("old-to-new.patch"));
        marvostell::testing::TempDir temp("delta");
        std::ofstream(temp.path() + "/old.bin", std::ios::binary) << DataFile("old.bin");
        const CManifestReader manifest =
            CManifestReader::Snapshot(reinterpret_cast<const BYTE *>(kManifest), sizeof kManifest - 1);
        g_cancel = 0;
        g_error = c.error;
        CCallGuard guard(&g_cancel, 0);
        HttpControl control;
        control.guard = &guard;
        const std::vector<PublicKey> keys;  // any keys: the manifest was verified
        CheckRules rules;
        rules.control = &control;
        rules.keys = &keys;
        BYTE buffer[kPackagePieceSize];
        const PackageStepRequest request{manifest,    "p",   "127.0.0.1:" + std::to_string(server.port()),
                                         temp.path(), rules, buffer};
        PackageStepReport report;
        sys::SystemCalls calls = sys::RealSystemCalls();
        calls.write = OutputWrite;
        sys::ReplaceSystemCalls(calls);
        const StepResult result = FetchPackage(request, report);
        sys::RestoreSystemCalls();
        EXPECT_EQ(result.stage, c.stage);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(marvostell::testing::FileNames(temp.path()), (std::set<std::string>{"new.bin.patch", "old.bin"}));
        EXPECT_TRUE(report.pathForHost.empty());
    }
}
