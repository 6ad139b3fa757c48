// The profile reader on any file: every section, key list and value, read
// into buffers of several sizes allocated to the byte, so that a write past
// nSize is a sanitizer error. Checks what every answer must satisfy: the
// return value fits the buffer and a terminator follows it.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "platform/win32.h"

namespace {

const DWORD kSizes[] = {1, 2, 3, 7, 255};

// Reads into a buffer of exactly size bytes and checks the answer's shape.
std::string Read(const char *section, const char *key, DWORD size, const std::string &file,
                 bool list) {
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memset(buffer.get(), 0x55, size);
    // A list read that finds nothing gives the default; a null one is empty.
    const DWORD n = GetPrivateProfileStringA(section, key, list ? nullptr : "default", buffer.get(),
                                             size, file.c_str());
    if (n > size - 1 || buffer[n] != '\0') std::abort();
    // A list leaves room for its final terminator; one that fits ends with
    // its last name's terminator, one that was cut (n is then size - 2) in
    // two terminators.
    if (list && n > 0) {
        if (n > size - 2) std::abort();
        const bool fits = buffer[n - 1] == '\0';
        if (!fits && !(n == size - 2 && buffer[n + 1] == '\0')) std::abort();
    }
    return std::string(buffer.get(), n);
}

// Splits a list of names, each ended by a terminator.
std::vector<std::string> Names(const std::string &list) {
    std::vector<std::string> names;
    for (size_t at = 0; at < list.size();) {
        const size_t end = list.find('\0', at);
        names.push_back(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string file = marvostell::fuzzing::ScratchDir() + "/update.ini";
    marvostell::fuzzing::WriteWhole(file, data, size);

    // nSize 0 writes nothing at all.
    char untouched = 'u';
    if (GetPrivateProfileStringA("General", "update", "d", &untouched, 0, file.c_str()) != 0 ||
        untouched != 'u')
        std::abort();

    const std::vector<std::string> sections = Names(Read(nullptr, nullptr, 4096, file, true));
    for (size_t s = 0; s < sections.size() && s < 8; ++s) {
        const char *section = sections[s].c_str();
        const std::vector<std::string> keys = Names(Read(section, nullptr, 4096, file, true));
        for (size_t k = 0; k < keys.size() && k < 16; ++k) {
            std::string whole;
            for (DWORD n : kSizes) {
                const std::string value = Read(section, keys[k].c_str(), n, file, false);
                // A shorter buffer holds the start of what a longer one holds.
                if (n == 255) whole = value;
            }
            const std::string again = Read(section, keys[k].c_str(), 7, file, false);
            if (whole.compare(0, again.size(), again) != 0) std::abort();
        }
        for (DWORD n : kSizes) Read(section, nullptr, n, file, true);
        Read(section, "no such key", 16, file, false);
    }
    return 0;
}
