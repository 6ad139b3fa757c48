// Runs the profile-reader corpus (corpus.txt) through GetPrivateProfileStringA:
// natively against the POSIX reader, under Wine or Windows against the system
// one. Both compare with the same expected answers.
//
//   profile_conformance <corpus> [--actual]
//
// --actual prints what the call did for each case, in corpus syntax, instead
// of checking it. The exit status is non-zero when a case fails.
//
// Corpus syntax: a case starts with "case <name> [windows-only]" and holds
// fields, one a line: ini, section, key, default, size, return, buffer,
// wine-buffer (what Wine writes where it differs from Windows), error
// ("error <n> [windows-only]"). A field's text is a sequence of C-style quoted
// strings (\n \r \t \0 \\ \" \xHH), each optionally repeated as N*"...", or
// NULL. "missing-file" as a flag passes the name of a file that does not
// exist. "held <n>" keeps the file open during the call through a handle
// with share mode n (CreateFileA for reading). "buffer" lists every byte the call writes; the rest of the buffer and
// a guard zone after it must keep the 0xCC fill. Windows-only cases and
// errors follow Windows where Wine differs; a Wine run skips them.
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const unsigned char kFill = 0xCC;
const size_t kGuard = 32;

struct Text {
    bool null = true;
    std::string bytes;
};

struct Case {
    std::string name;
    int line = 0;
    bool windowsOnly = false;
    bool missingFile = false;
    bool held = false;
    DWORD heldShare = 0;
    std::string ini;
    Text section, key, def;
    DWORD size = 0;
    bool hasReturn = false;
    DWORD expectReturn = 0;
    bool hasBuffer = false;
    std::string expectBuffer;
    bool hasWineBuffer = false;
    std::string wineBuffer;
    bool hasError = false;
    bool errorWindowsOnly = false;
    DWORD expectError = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses the quoted string at s[pos] (pos on the opening quote).
bool ParseQuoted(const std::string &s, size_t &pos, std::string &out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    while (pos < s.size() && s[pos] != '"') {
        char c = s[pos++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= s.size()) return false;
        char e = s[pos++];
        switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            if (pos + 2 > s.size()) return false;
            int hi = HexDigit(s[pos]), lo = HexDigit(s[pos + 1]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
            break;
        }
        default: return false;
        }
    }
    if (pos >= s.size()) return false;
    ++pos;
    return true;
}

// Parses a field's text: NULL, or a sequence of [N*]"..." pieces.
bool ParseText(const std::string &s, Text &out) {
    size_t pos = 0;
    auto skipBlanks = [&] {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    };
    skipBlanks();
    if (s.compare(pos, 4, "NULL") == 0) {
        pos += 4;
        skipBlanks();
        out.null = true;
        return pos == s.size();
    }
    out.null = false;
    out.bytes.clear();
    while (skipBlanks(), pos < s.size()) {
        unsigned long repeat = 1;
        if (s[pos] >= '0' && s[pos] <= '9') {
            char *end = nullptr;
            repeat = std::strtoul(s.c_str() + pos, &end, 10);
            pos = static_cast<size_t>(end - s.c_str());
            if (pos >= s.size() || s[pos] != '*') return false;
            ++pos;
        }
        std::string piece;
        if (!ParseQuoted(s, pos, piece)) return false;
        for (unsigned long i = 0; i < repeat; ++i) out.bytes += piece;
    }
    return true;
}

bool ParseNumber(const std::string &s, DWORD &out) {
    char *end = nullptr;
    unsigned long v = std::strtoul(s.c_str(), &end, 10);
    while (*end == ' ' || *end == '\t') ++end;
    if (end == s.c_str() || *end != '\0') return false;
    out = static_cast<DWORD>(v);
    return true;
}

bool LoadCorpus(const char *path, bool actual, std::vector<Case> &cases) {
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "cannot open corpus %s\n", path);
        return false;
    }
    std::string line;
    int lineNo = 0;
    bool ok = true;
    auto fail = [&](const char *what) {
        std::fprintf(stderr, "%s:%d: %s\n", path, lineNo, what);
        ok = false;
    };
    for (;;) {
        line.clear();
        int c;
        while ((c = std::fgetc(f)) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF && line.empty()) break;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        size_t wordEnd = line.find_first_of(" \t", start);
        std::string word = line.substr(start, wordEnd == std::string::npos ? std::string::npos
                                                                           : wordEnd - start);
        std::string rest = wordEnd == std::string::npos ? std::string() : line.substr(wordEnd + 1);
        if (word == "case") {
            Case c2;
            c2.line = lineNo;
            size_t p = 0;
            std::vector<std::string> words;
            while ((p = rest.find_first_not_of(" \t", p)) != std::string::npos) {
                size_t e = rest.find_first_of(" \t", p);
                words.push_back(rest.substr(p, e == std::string::npos ? e : e - p));
                p = e;
            }
            if (words.empty()) {
                fail("case without a name");
                continue;
            }
            c2.name = words[0];
            for (size_t i = 1; i < words.size(); ++i) {
                if (words[i] == "windows-only") c2.windowsOnly = true;
                else if (words[i] == "missing-file") c2.missingFile = true;
                else fail("unknown case flag");
            }
            cases.push_back(c2);
            continue;
        }
        if (cases.empty()) {
            fail("field before the first case");
            continue;
        }
        Case &k = cases.back();
        Text t;
        if (word == "ini") {
            if (!ParseText(rest, t) || t.null) fail("bad ini text");
            k.ini += t.bytes;
        } else if (word == "section") {
            if (!ParseText(rest, k.section)) fail("bad section text");
        } else if (word == "key") {
            if (!ParseText(rest, k.key)) fail("bad key text");
        } else if (word == "default") {
            if (!ParseText(rest, k.def)) fail("bad default text");
        } else if (word == "held") {
            k.held = ParseNumber(rest, k.heldShare);
            if (!k.held) fail("bad held share mode");
        } else if (word == "size") {
            if (!ParseNumber(rest, k.size)) fail("bad size");
        } else if (word == "return") {
            k.hasReturn = ParseNumber(rest, k.expectReturn);
            if (!k.hasReturn) fail("bad return");
        } else if (word == "buffer") {
            if (!ParseText(rest, t) || t.null) fail("bad buffer text");
            k.hasBuffer = true;
            k.expectBuffer = t.bytes;
        } else if (word == "wine-buffer") {
            if (!ParseText(rest, t) || t.null) fail("bad wine-buffer text");
            k.hasWineBuffer = true;
            k.wineBuffer = t.bytes;
        } else if (word == "error") {
            std::string number = rest;
            size_t flag = rest.find("windows-only");
            if (flag != std::string::npos) {
                k.errorWindowsOnly = true;
                number = rest.substr(0, flag);
            }
            k.hasError = ParseNumber(number, k.expectError);
            if (!k.hasError) fail("bad error");
        } else {
            fail("unknown field");
        }
    }
    std::fclose(f);
    for (const Case &k : cases) {
        if (!actual && (!k.hasReturn || !k.hasBuffer)) {
            std::fprintf(stderr, "%s:%d: case %s needs return and buffer\n", path, k.line,
                         k.name.c_str());
            ok = false;
        }
        if (k.expectBuffer.size() > k.size || k.wineBuffer.size() > k.size) {
            std::fprintf(stderr, "%s:%d: case %s expects more bytes than nSize\n", path, k.line,
                         k.name.c_str());
            ok = false;
        }
    }
    return ok;
}

std::string Quote(const std::string &bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        char tmp[8];
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                std::snprintf(tmp, sizeof tmp, "\\x%02X", c);
                out += tmp;
            }
        }
    }
    return out + "\"";
}

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// A fresh directory for the INI files, ending in the separator.
std::string MakeTempDir() {
#ifdef _WIN32
    char base[MAX_PATH];
    DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n >= sizeof base) return std::string();
    std::string dir = std::string(base) + "mvprof" + std::to_string(GetCurrentProcessId());
    if (!CreateDirectoryA(dir.c_str(), nullptr)) return std::string();
    return dir + "\\";
#else
    char tmpl[] = "/tmp/mvprof.XXXXXX";
    if (!mkdtemp(tmpl)) return std::string();
    return std::string(tmpl) + "/";
#endif
}

void RemoveFile(const std::string &path) { std::remove(path.c_str()); }

void RemoveDir(const std::string &dir) {
    std::string d = dir.substr(0, dir.size() - 1);
#ifdef _WIN32
    RemoveDirectoryA(d.c_str());
#else
    rmdir(d.c_str());
#endif
}

struct Outcome {
    DWORD ret = 0;
    DWORD error = 0;
    std::string buffer;   // the whole buffer and the guard zone after it
    std::string written;  // up to the last byte that lost the fill
};

bool RunCase(const Case &k, const std::string &dir, size_t index, Outcome &out) {
    std::string path = dir + "case" + std::to_string(index) + ".ini";
    if (!k.missingFile) {
        FILE *f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        bool ok = std::fwrite(k.ini.data(), 1, k.ini.size(), f) == k.ini.size();
        ok = std::fclose(f) == 0 && ok;
        if (!ok) return false;
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (k.held) {
        held = CreateFileA(path.c_str(), GENERIC_READ, k.heldShare, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        if (held == INVALID_HANDLE_VALUE) return false;
    }
    std::vector<unsigned char> buf(k.size + kGuard, kFill);
    SetLastError(0xDEAD);
    out.ret = GetPrivateProfileStringA(k.section.null ? nullptr : k.section.bytes.c_str(),
                                       k.key.null ? nullptr : k.key.bytes.c_str(),
                                       k.def.null ? nullptr : k.def.bytes.c_str(),
                                       reinterpret_cast<LPSTR>(buf.data()), k.size, path.c_str());
    out.error = GetLastError();
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    size_t last = buf.size();
    while (last > 0 && buf[last - 1] == kFill) --last;
    out.buffer.assign(reinterpret_cast<const char *>(buf.data()), buf.size());
    out.written = out.buffer.substr(0, last);
    if (!k.missingFile) RemoveFile(path);
    return true;
}

// Compares with the expectation: the expected bytes at the start of the
// buffer, the fill everywhere after them, guard zone included.
std::string Check(const Case &k, const Outcome &o, bool wine) {
    std::string why;
    if (o.ret != k.expectReturn)
        why += " return " + std::to_string(o.ret) + ", expected " + std::to_string(k.expectReturn) +
               ";";
    const std::string &want = wine && k.hasWineBuffer ? k.wineBuffer : k.expectBuffer;
    bool same = o.buffer.compare(0, want.size(), want) == 0 &&
                o.buffer.find_first_not_of(static_cast<char>(kFill), want.size()) ==
                    std::string::npos;
    if (!same) why += " buffer " + Quote(o.written) + ", expected " + Quote(want) + ";";
    if (k.hasError && !(wine && k.errorWindowsOnly) && o.error != k.expectError)
        why += " last error " + std::to_string(o.error) + ", expected " +
               std::to_string(k.expectError) + ";";
    return why;
}

bool WriteFile(const std::string &path, const char *text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

// The reader must see a file that changed between two calls.
bool RereadsChangedFile(const std::string &dir) {
    std::string path = dir + "reread.ini";
    char buf[16];
    bool ok = WriteFile(path, "[s]\nk=1\n") &&
              GetPrivateProfileStringA("s", "k", "", buf, sizeof buf, path.c_str()) == 1 &&
              WriteFile(path, "[s]\nk=22\n") &&
              GetPrivateProfileStringA("s", "k", "", buf, sizeof buf, path.c_str()) == 2 &&
              std::strcmp(buf, "22") == 0;
    RemoveFile(path);
    return ok;
}

void PrintActual(const Case &k, const Outcome &o) {
    std::printf("case %s%s%s\n", k.name.c_str(), k.windowsOnly ? " windows-only" : "",
                k.missingFile ? " missing-file" : "");
    std::printf("  return %lu\n  buffer %s\n  error %lu\n", static_cast<unsigned long>(o.ret),
                Quote(o.written).c_str(), static_cast<unsigned long>(o.error));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus> [--actual]\n", argv[0]);
        return 2;
    }
    bool actual = argc > 2 && std::strcmp(argv[2], "--actual") == 0;
    std::vector<Case> cases;
    if (!LoadCorpus(argv[1], actual, cases)) return 2;
    bool wine = RunningUnderWine();
    std::string dir = MakeTempDir();
    if (dir.empty()) {
        std::fprintf(stderr, "cannot make a temporary directory\n");
        return 2;
    }
    int failed = 0, skipped = 0, passed = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &k = cases[i];
        Outcome o;
        if (!RunCase(k, dir, i, o)) {
            std::printf("FAIL %s (line %d): cannot write or hold the INI file\n", k.name.c_str(),
                        k.line);
            ++failed;
            continue;
        }
        if (actual) {
            PrintActual(k, o);
            continue;
        }
        if (wine && k.windowsOnly) {
            ++skipped;
            continue;
        }
        std::string why = Check(k, o, wine);
        if (why.empty()) {
            ++passed;
        } else {
            std::printf("FAIL %s (line %d):%s\n", k.name.c_str(), k.line, why.c_str());
            ++failed;
        }
    }
    if (!actual) {
        if (RereadsChangedFile(dir)) {
            ++passed;
        } else {
            std::printf("FAIL rereads-changed-file: the second call did not see the new value\n");
            ++failed;
        }
    }
    RemoveDir(dir);
    if (!actual)
        std::printf("%s: %d passed, %d failed, %d skipped (windows-only under Wine)\n",
                    wine ? "wine" : "native", passed, failed, skipped);
    return failed ? 1 : 0;
}
