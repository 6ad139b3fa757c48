// patch and pack: a patch from an earlier package, and a packed package, each
// checked by the module's own applier or inflater before it is written.
#include <cstdio>
#include <utility>

#include "atomic_file.h"
#include "commands.h"
#include "delta_make.h"
#include "framework/files.h"
#include "options.h"
#include "package/digest.h"
#include "package/package_entry.h"
#include "package/packed_inflate.h"
#include "package/patch_apply.h"
#include "package_file.h"
#include "package_name.h"
#include "patch_maker.h"
#include "platform/crypto.h"
#include "text.h"
#include "usage.h"
#include "work_dir.h"

namespace marvostell::tools {
namespace {

using Bytes = std::vector<uint8_t>;

void Note(const char *command, const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest %s: %s\n", command, message.c_str());
}

int Fail(const char *command, int status, const std::string &message) {
    Note(command, message);
    return status;
}

int UsageError(const char *command, const std::string &message) {
    Fail(command, kExitUsage, message);
    std::fputs(UsageText(command), stderr);
    return kExitUsage;
}

std::string BaseName(const std::string &file) {
    const size_t slash = file.find_last_of("/\\");
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

std::string Sha256Hex(const std::string &data) {
    crypto::CSha256 sha;
    uint8_t digest[crypto::kSha256Bytes];
    if (!sha.Add(data.data(), data.size()) || !sha.Finish(digest)) return "";
    return Lower(DigestHex(digest, sizeof digest));
}

std::string Percent(uint64_t part, uint64_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * static_cast<double>(part) / whole : 0.0);
    return text;
}

// --path-prefix as new takes it: "/" unless given, ending in "/".
bool PathPrefix(const Options &options, std::string &prefix) {
    const std::string *given = options.Value("--path-prefix");
    prefix = given ? *given : "/";
    if (prefix.empty() || prefix[0] != '/') return false;
    if (prefix.back() != '/') prefix += '/';
    return true;
}

// Compares what the module writes with the bytes it must make.
struct Expected {
    const Bytes *bytes;
    size_t at = 0;
    bool same = true;

    static void Written(void *context, const BYTE *data, DWORD size) {
        Expected &self = *static_cast<Expected *>(context);
        self.same = self.same && self.at + size <= self.bytes->size() &&
                    std::equal(data, data + size, self.bytes->begin() + static_cast<ptrdiff_t>(self.at));
        self.at += size;
    }
    bool Matched() const { return same && at == bytes->size(); }
};

// Writes `input` to a private file and lets `run` (the applier or the
// inflater) turn it into a file there, whose bytes must be `wanted`; false
// with a message otherwise.
template <typename Run>
bool CheckWithModule(const std::string &input, const Bytes &wanted, Run run, std::string &error) {
    WorkDir dir;
    if (!dir.Create(error) || !WriteReplacing(dir.File("input"), input, error)) return false;
    CFileHandle in(CreateFileA(dir.File("input").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    CFileHandle out(CreateFileA(dir.File("output").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in.IsOpen() || !out.IsOpen()) {
        error = "cannot make files in " + dir.Path() + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    Expected expected{&wanted};
    DeltaControl control;
    control.written = Expected::Written;
    control.context = &expected;
    const DeltaResult result = run(in.Get(), out.Get(), control);
    if (result.Ok() && expected.Matched()) return true;
    error = std::string("the module did not make the same bytes from it (") +
            (result.Ok() ? "different bytes" : DeltaFaultText(result.fault)) + "): nothing written";
    return false;
}

}  // namespace

int MakePatchSection(const PatchWanted &wanted, PatchMade &made, std::string &error) {
    PackageFile oldFile, newFile;
    Bytes oldBytes, newBytes;
    int status = ReadPackageFile(wanted.oldFile, oldFile, error, &oldBytes);
    if (status == kExitOk) status = ReadPackageFile(wanted.newFile, newFile, error, &newBytes);
    if (status != kExitOk) return status;

    std::string patch, packed;
    if (!MakePatch(oldBytes, newBytes, patch, error)) return kExitFindings;
    oldBytes = {};
    if (!DeflateBytes(newBytes.data(), newBytes.size(), packed)) {
        error = "zlib could not pack " + wanted.newFile;
        return kExitFindings;
    }
    const std::string share = Percent(patch.size(), packed.size());
    if (patch.size() * 2 > packed.size()) {
        error = "the patch is " + std::to_string(patch.size()) + " bytes, " + share + " of the packed package (" +
                std::to_string(packed.size()) +
                " bytes): over half, it saves hosts too little to be worth a try; publish the packed "
                "package (pack) alone. Patches pay on uncompressed payloads, not on compressed installers.";
        return kExitFindings;
    }
    const bool same = CheckWithModule(patch, newBytes, [&](HANDLE in, HANDLE out, const DeltaControl &control) {
        CFileHandle base(CreateFileA(wanted.oldFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!base.IsOpen()) return DeltaResult::Failure(DeltaFault::kBaseRead, GetLastError());
        return ApplyPatch(base.Get(), in, out, newBytes.size(), control);
    }, error);
    if (!same) {
        error = "applying the patch to " + wanted.oldFile + ": " + error;
        return kExitFindings;
    }
    made.text = "[" + wanted.section + "]\nFrom=" + wanted.from + "\nFromSize=" + std::to_string(oldFile.size) +
                "\nFromSha256=" + oldFile.sha256 + "\nPatch=" + wanted.path +
                "\nPatchSize=" + std::to_string(patch.size()) + "\nPatchSha256=" + Sha256Hex(patch) + "\n";
    made.share = std::to_string(patch.size()) + " bytes, " + share + " of the packed package (" +
                 std::to_string(packed.size()) + " bytes)";
    made.bytes = std::move(patch);
    return kExitOk;
}

int RunPatch(const Arguments &args) {
    Options options;
    std::string error;
    if (!ParseOptions(args, {"-o", "--output", "--path-prefix", "--section", "--from"}, {}, options, error))
        return UsageError("patch", error);
    if (options.help) {
        std::fputs(UsageText("patch"), stdout);
        return kExitOk;
    }
    const std::string *output = options.Value("-o") ? options.Value("-o") : options.Value("--output");
    std::string prefix;
    if (options.positional.size() != 2 || !output) return UsageError("patch", "OLD NEW -o PATCH, please");
    if (!PathPrefix(options, prefix)) return UsageError("patch", "--path-prefix must start with \"/\"");
    const std::string &oldName = options.positional[0], &newName = options.positional[1];
    for (const std::string *input : {&oldName, &newName})
        if (*output == *input || SameFile(*output, *input))
            return Fail("patch", kExitFindings,
                        "-o " + *output + " names " + *input + ", an input: writing the patch there would "
                        "destroy it; nothing written");

    const std::string from = options.Value("--from") ? *options.Value("--from") : BaseName(oldName);
    const std::string path = prefix + BaseName(*output);
    const std::string section = options.Value("--section") ? *options.Value("--section") : BaseName(*output);
    std::string warning, refusal = from.find('/') == std::string::npos ? RefusedNameReason(from) : "it holds a \"/\"";
    if (!refusal.empty()) return Fail("patch", kExitFindings, "the base's name \"" + from + "\": " + refusal);
    if (!(refusal = PathRefusal(path, warning)).empty() || !(refusal = SectionRefusal(section)).empty())
        return Fail("patch", kExitFindings, refusal);
    if (!warning.empty()) std::fprintf(stderr, "marvostell-manifest patch: warning: %s\n", warning.c_str());

    const PatchWanted wanted{oldName, newName, from, path, section};
    PatchMade made;
    const int status = MakePatchSection(wanted, made, error);
    if (status != kExitOk) return Fail("patch", status, error);
    if (!WriteReplacing(*output, made.bytes, error)) return UsageError("patch", error);
    std::fputs(made.text.c_str(), stdout);
    Note("patch", made.share + "; name [" + section + "] in Patches= of the package's section");
    return std::fflush(stdout) == 0 ? kExitOk : Fail("patch", kExitUsage, "cannot write standard output");
}

int RunPack(const Arguments &args) {
    Options options;
    std::string error, prefix;
    if (!ParseOptions(args, {"--path-prefix"}, {}, options, error)) return UsageError("pack", error);
    if (options.help) {
        std::fputs(UsageText("pack"), stdout);
        return kExitOk;
    }
    if (options.positional.size() != 1) return UsageError("pack", "one FILE, please");
    if (!PathPrefix(options, prefix)) return UsageError("pack", "--path-prefix must start with \"/\"");
    const std::string &name = options.positional[0];
    const std::string output = name + ".z", path = prefix + BaseName(output);
    std::string warning, refusal = PathRefusal(path, warning);
    if (!refusal.empty()) return Fail("pack", kExitFindings, refusal);
    if (!warning.empty()) std::fprintf(stderr, "marvostell-manifest pack: warning: %s\n", warning.c_str());

    PackageFile file;
    Bytes bytes;
    const int status = ReadPackageFile(name, file, error, &bytes);
    if (status != kExitOk) return Fail("pack", status, error);
    std::string packed;
    if (!DeflateBytes(bytes.data(), bytes.size(), packed)) return Fail("pack", kExitFindings, "zlib could not pack it");
    if (packed.size() >= bytes.size())
        return Fail("pack", kExitFindings,
                    name + " does not get smaller packed (" + std::to_string(packed.size()) +
                        " bytes): it is compressed already; publish Package alone");
    const bool same = CheckWithModule(packed, bytes, [&](HANDLE in, HANDLE out, const DeltaControl &control) {
        return InflatePacked(in, out, bytes.size(), control);
    }, error);
    if (!same) return Fail("pack", kExitFindings, error);
    if (!WriteReplacing(output, packed, error)) return UsageError("pack", error);

    const std::string text = "Packed=" + path + "\nPackedSize=" + std::to_string(packed.size()) +
                             "\nPackedSha256=" + Sha256Hex(packed) + "\n";
    std::fputs(text.c_str(), stdout);
    Note("pack", "wrote " + output + ", " + Percent(packed.size(), bytes.size()) +
                     " of the package; add these lines to its section");
    return std::fflush(stdout) == 0 ? kExitOk : Fail("pack", kExitUsage, "cannot write standard output");
}

}  // namespace marvostell::tools
