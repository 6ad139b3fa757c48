// The applier and the inflater on files made here byte by byte: what each
// makes of a good input, and which fault each bad one gets. Whatever the
// input, nothing past the expected size is written.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>

#include "framework/files.h"
#include "package/packed_inflate.h"
#include "package/patch_apply.h"
#include "patch_maker.h"
#include "temp_dir.h"

using namespace marvostell;
using marvostell::testing::ReadAll;
using marvostell::testing::TempDir;

namespace {

using Edit = std::function<void(std::string &file, std::string &base)>;

std::string Random(size_t size) {
    std::mt19937 random(7);
    std::string text(size, '\0');
    for (char &c : text) c = static_cast<char>(random());
    return text;
}

std::string Deflated(const std::string &data) {
    std::string out;
    EXPECT_TRUE(tools::DeflateBytes(reinterpret_cast<const uint8_t *>(data.data()), data.size(), out));
    return out;
}

// A patch of these triples and streams against `base`.
std::string Patch(const std::string &base, const std::vector<ControlTriple> &triples, const std::string &diff,
                  const std::string &extra) {
    std::string control(triples.size() * kControlTripleSize, '\0');
    PatchHeader header;
    header.oldSize = base.size();
    for (size_t i = 0; i < triples.size(); ++i) {
        EncodeControlTriple(triples[i], reinterpret_cast<uint8_t *>(&control[i * kControlTripleSize]));
        header.newSize += triples[i].add + triples[i].extra;
    }
    const std::string streams[] = {control, diff, extra};
    std::string body;
    for (int s = 0; s < kPatchStreams; ++s) {
        const std::string packed = Deflated(streams[s]);
        header.packedSize[s] = packed.size();
        header.unpackedSize[s] = streams[s].size();
        body += packed;
    }
    std::string file(kPatchHeaderSize, '\0');
    EncodePatchHeader(header, reinterpret_cast<uint8_t *>(&file[0]));
    return file + body;
}

Edit SetLe64(size_t at, uint64_t value) {
    return [=](std::string &file, std::string &) { StoreLe64(reinterpret_cast<uint8_t *>(&file[at]), value); };
}
Edit SetLe32(size_t at, uint32_t value) {
    return [=](std::string &file, std::string &) { StoreLe32(reinterpret_cast<uint8_t *>(&file[at]), value); };
}
Edit Flip(size_t fromEnd) {
    return [=](std::string &file, std::string &) { file[file.size() - fromEnd] ^= 0x55; };
}
Edit Cut(size_t size) {
    return [=](std::string &file, std::string &) { file.resize(size < file.size() ? file.size() - size : 0); };
}
Edit Append(const std::string &more) {
    return [=](std::string &file, std::string &) { file += more; };
}
Edit Both(Edit first, Edit second) {
    return [=](std::string &file, std::string &base) {
        first(file, base);
        second(file, base);
    };
}
Edit BaseAppend(const std::string &more) {
    return [=](std::string &, std::string &base) { base += more; };
}

struct Outcome {
    DeltaResult result;
    std::string output;
};

Outcome RunOn(const std::string &input, const std::string *base, uint64_t expected, bool stop) {
    TempDir dir("delta");
    std::ofstream(dir / "input", std::ios::binary) << input;
    CFileHandle in(CreateFileA((dir / "input").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    CFileHandle out(CreateFileA((dir / "output").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DeltaControl control;
    if (stop) control.stop = [](void *) { return true; };
    Outcome outcome;
    if (base) {
        std::ofstream(dir / "base", std::ios::binary) << *base;
        CFileHandle baseFile(CreateFileA((dir / "base").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        outcome.result = ApplyPatch(baseFile.Get(), in.Get(), out.Get(), expected, control);
    } else {
        outcome.result = InflatePacked(in.Get(), out.Get(), expected, control);
    }
    out.Close();
    outcome.output = ReadAll(dir / "output");
    return outcome;
}

const std::string kBase = "abcdefgh";
// abc+001 -> abd, XY, seek 2 to f; fg, seek back to the start.
const std::vector<ControlTriple> kTriples = {{3, 2, 2}, {2, 0, -7}};
const std::string kDiff("\0\0\1\0\0", 5);
const std::string kBig = Random(300000);

}  // namespace

TEST(ApplyPatch, MakesTheResultOrNamesTheFault) {
    const std::string good = Patch(kBase, kTriples, kDiff, "XY");
    struct Case {
        const char *name;
        std::string base, patch;
        Edit edit;
        DeltaFault fault;
        std::string result;  // when it succeeds
        int64_t expected = -1;  // the size asked for, if not the patch's
        bool stop = false;
    } cases[] = {
        {"valid", kBase, good, nullptr, DeltaFault::kNone, "abdXYfg"},
        {"first triple only seeks", kBase, Patch(kBase, {{0, 0, 3}, {2, 1, 0}}, std::string(2, '\0'), "!"), nullptr,
         DeltaFault::kNone, "de!"},
        {"pieces over 64 KiB, seeking back", kBig,
         Patch(kBig, {{200000, 0, -150000}, {100000, 3, 0}}, std::string(300000, '\0'), "end"), nullptr,
         DeltaFault::kNone, kBig.substr(0, 200000) + kBig.substr(50000, 100000) + "end"},
        {"stopped", kBase, good, nullptr, DeltaFault::kStopped, "", -1, true},
        {"bad magic", kBase, good, [](std::string &f, std::string &) { f[0] = 'X'; }, DeltaFault::kHeader, ""},
        {"version 2", kBase, good, SetLe32(8, 2), DeltaFault::kHeader, ""},
        {"flags set", kBase, good, SetLe32(12, 1), DeltaFault::kHeader, ""},
        {"shorter than a header", kBase, good, Cut(good.size() - 40), DeltaFault::kHeader, ""},
        {"truncated", kBase, good, Cut(1), DeltaFault::kLengths, ""},
        {"a byte after the streams", kBase, good, Append("!"), DeltaFault::kLengths, ""},
        {"result over 2 GiB", kBase, good, Both(SetLe64(16, 0x80000001ull), SetLe64(56, 0x80000001ull - 2)),
         DeltaFault::kLengths, "", 0x80000001ll},
        {"another result size", kBase, good, nullptr, DeltaFault::kLengths, "", 8},
        {"control not whole triples", kBase, good, SetLe64(40, 47), DeltaFault::kLengths, ""},
        {"more triples than result bytes", kBase, good, SetLe64(40, 24 * 9), DeltaFault::kLengths, ""},
        {"diff and extra not the result", kBase, good, SetLe64(56, 6), DeltaFault::kLengths, ""},
        {"stream length past the file", kBase, good, SetLe64(32, ~0ull), DeltaFault::kLengths, ""},
        {"base of another size", kBase, good, BaseAppend("i"), DeltaFault::kBaseSize, ""},
        {"seek past the base", kBase, Patch(kBase, {{3, 2, 6}, {2, 0, 0}}, kDiff, "XY"), nullptr,
         DeltaFault::kControl, ""},
        {"seek before the base", kBase, Patch(kBase, {{3, 2, 2}, {2, 0, -8}}, kDiff, "XY"), nullptr,
         DeltaFault::kControl, ""},
        {"add past the base", kBase, Patch(kBase, {{3, 2, 4}, {2, 0, -9}}, kDiff, "XY"), nullptr,
         DeltaFault::kControl, ""},
        {"add of 2^64 - 1", kBase, Patch(kBase, {{~0ull, 0, 0}}, kDiff, "XY"), SetLe64(16, 7), DeltaFault::kControl,
         ""},
        {"later triple writes nothing", kBase, Patch(kBase, {{3, 2, 2}, {0, 0, 0}, {2, 0, 0}}, kDiff, "XY"),
         nullptr, DeltaFault::kControl, ""},
        {"triples short of the result", kBase, Patch(kBase, {{3, 2, 2}}, kDiff, "XY"), SetLe64(16, 7),
         DeltaFault::kControl, ""},
        {"extra longer than it says", kBase, Patch(kBase, kTriples, kDiff, "XYZ"), SetLe64(72, 2), DeltaFault::kStream,
         ""},
        {"check value wrong", kBase, good, Flip(1), DeltaFault::kStream, ""},
    };
    for (Case &c : cases) {
        if (c.edit) c.edit(c.patch, c.base);
        const uint64_t expected = c.expected >= 0 ? static_cast<uint64_t>(c.expected) : LoadLe64(
            reinterpret_cast<const uint8_t *>(c.patch.data()) + 16);
        const Outcome outcome = RunOn(c.patch, &c.base, expected, c.stop);
        EXPECT_EQ(outcome.result.fault, c.fault) << c.name << ": " << DeltaFaultText(outcome.result.fault);
        EXPECT_TRUE(c.fault != DeltaFault::kNone || outcome.output == c.result) << c.name;
        EXPECT_LE(outcome.output.size(), expected) << c.name;
    }
}

TEST(InflatePacked, MakesTheFileOrNamesTheFault) {
    const std::string file = kBig.substr(0, 100000) + std::string(100000, 'a');
    const std::string packed = Deflated(file);
    std::string raw = packed.substr(2, packed.size() - 6), none;  // deflate data without zlib's frame
    struct Case {
        const char *name;
        std::string input;
        Edit edit;
        uint64_t expected;
        DeltaFault fault;
    } cases[] = {
        {"valid", packed, nullptr, file.size(), DeltaFault::kNone},
        {"truncated", packed, Cut(1), file.size(), DeltaFault::kStream},
        {"a byte after the stream", packed, Append("!"), file.size(), DeltaFault::kStream},
        {"longer than expected", packed, nullptr, file.size() - 1, DeltaFault::kStream},
        {"shorter than expected", packed, nullptr, file.size() + 1, DeltaFault::kStream},
        {"check value wrong", packed, Flip(1), file.size(), DeltaFault::kStream},
        {"deflate without its frame", raw, nullptr, file.size(), DeltaFault::kStream},
        {"over 2 GiB", packed, nullptr, 0x80000001ull, DeltaFault::kLengths},
    };
    for (Case &c : cases) {
        if (c.edit) c.edit(c.input, none);
        const Outcome outcome = RunOn(c.input, nullptr, c.expected, false);
        EXPECT_EQ(outcome.result.fault, c.fault) << c.name << ": " << DeltaFaultText(outcome.result.fault);
        EXPECT_TRUE(c.fault != DeltaFault::kNone || outcome.output == file) << c.name;
        EXPECT_LE(outcome.output.size(), c.expected) << c.name;
    }
}
