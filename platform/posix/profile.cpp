// GetPrivateProfileStringA for POSIX. The file is read and parsed afresh on
// every call (the module reads a small file key by key), and the answer
// follows the Windows profile reader: trimming, quotes, comments, duplicate
// sections and keys, the truncation rules and the last-error codes.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "errno_map.h"
#include "win32_posix.h"

namespace {

// The reader trims the blanks that Windows' reader trims: spaces and tabs,
// and also vertical tab, form feed and the old end-of-file mark ^Z.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string Trim(const char *begin, const char *end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    return std::string(begin, end);
}

std::string Trim(const char *text) { return Trim(text, text + std::strlen(text)); }

// A value wrapped in a matching pair of quotes loses them.
std::string StripQuotes(const std::string &v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

struct Entry {
    std::string name;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

// Reads the whole file; on failure returns false with errno set.
bool ReadWholeFile(const char *path, std::string &out) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            close(fd);
            errno = err;
            return false;
        }
        if (n == 0) break;
        out.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

// Splits the text into sections. Lines end at LF, CRLF or a lone CR; a NUL
// ends a line's content. Keys before the first header belong to a section
// with an empty name. Lines without '=' and comment lines hold no key.
std::vector<Section> Parse(const std::string &text) {
    std::vector<Section> sections(1);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        size_t next = end;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        const char *begin = text.data() + pos;
        const char *stop = static_cast<const char *>(std::memchr(begin, '\0', end - pos));
        if (!stop) stop = text.data() + end;
        pos = next;

        while (begin < stop && IsBlank(*begin)) ++begin;
        if (begin == stop || *begin == ';') continue;
        if (*begin == '[') {
            // The name runs to the last ']'; what follows it is ignored. A line
            // without one is read as a key line.
            const char *close = stop;
            while (close > begin && close[-1] != ']') --close;
            if (close > begin) {
                sections.push_back(Section{Trim(begin + 1, close - 1), {}});
                continue;
            }
        }
        const char *eq = static_cast<const char *>(std::memchr(begin, '=', stop - begin));
        if (!eq) continue;
        sections.back().entries.push_back(
            Entry{Trim(begin, eq), StripQuotes(Trim(eq + 1, stop))});
    }
    return sections;
}

// Copies a value or default: at most size-1 characters and a terminator.
DWORD CopyText(const std::string &text, LPSTR out, DWORD size) {
    if (size == 0) return 0;
    size_t n = text.size();
    if (n > size - 1) {
        n = size - 1;
        SetLastError(ERROR_MORE_DATA);
    }
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies a list of names, each with its terminator, and the final extra
// terminator. When that does not fit with a byte to spare, Windows fills
// the buffer with the first size-2 characters of the list and two
// terminators (the last name is cut where the buffer ends) and returns
// size-2.
DWORD CopyList(const std::vector<std::string> &names, LPSTR out, DWORD size) {
    std::string list;
    for (const std::string &n : names) {
        list += n;
        list += '\0';
    }
    if (size == 0) return 0;
    if (list.empty() || size >= list.size() + 2) {
        std::memcpy(out, list.data(), list.size());
        out[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    SetLastError(ERROR_MORE_DATA);
    if (size == 1) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, list.data(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

// The default as Windows hands it back: trailing spaces removed, then a
// pair of quotes around it removed as from a value.
std::string DefaultText(LPCSTR defaultValue) {
    if (!defaultValue) return std::string();
    std::string d(defaultValue);
    while (!d.empty() && d.back() == ' ') d.pop_back();
    return StripQuotes(d);
}

const Section *FindSection(const std::vector<Section> &sections, const std::string &name) {
    for (const Section &s : sections)
        if (SameName(s.name, name)) return &s;
    return nullptr;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR returned,
                               DWORD size, LPCSTR fileName) {
    std::string text;
    DWORD fileError = ERROR_SUCCESS;
    if (!fileName || !*fileName) {
        fileError = ERROR_FILE_NOT_FOUND;
    } else if (!ReadWholeFile(fileName, text)) {
        fileError = marvostell::posix::ErrorFromErrno(errno, fileName);
        text.clear();
    }
    SetLastError(ERROR_SUCCESS);

    std::vector<Section> sections = Parse(text);
    DWORD result;
    if (!section) {
        std::vector<std::string> names;
        for (const Section &s : sections)
            if (!s.name.empty()) names.push_back(s.name);
        result = CopyList(names, returned, size);
    } else {
        const Section *found = fileError == ERROR_SUCCESS ? FindSection(sections, Trim(section))
                                                          : nullptr;
        if (found && !key && !found->entries.empty()) {
            std::vector<std::string> names;
            for (const Entry &e : found->entries) names.push_back(e.name);
            result = CopyList(names, returned, size);
        } else {
            // A missing key, section or file, and a section without keys
            // when its key list is asked for, give the default.
            const Entry *entry = nullptr;
            if (found && key) {
                std::string wanted = Trim(key);
                for (const Entry &e : found->entries) {
                    if (SameName(e.name, wanted)) {
                        entry = &e;
                        break;
                    }
                }
            }
            result = CopyText(entry ? entry->value : DefaultText(defaultValue), returned, size);
        }
    }
    if (fileError != ERROR_SUCCESS) SetLastError(fileError);
    return result;
}
