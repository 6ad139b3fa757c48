// GetPrivateProfileStringA for POSIX. The file is read and parsed afresh on
// every call (the module reads a small file key by key), and the answer
// follows the Windows profile reader: trimming, quotes, comments, duplicate
// sections and keys, the truncation rules, the last-error codes and the
// encodings it recognises.
#include <cstring>
#include <string>
#include <vector>

#include "platform/ini_lines.h"
#include "win32_posix.h"

using marvostell::ini::SameName;
using marvostell::ini::Trim;

namespace {

// A value wrapped in a matching pair of quotes loses them.
std::string StripQuotes(const std::string &v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

struct Entry {
    std::string name;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

// Reads the whole file as the Windows reader opens it: for reading, sharing
// reading and writing, so a file that another handle holds without sharing
// cannot be read (ERROR_SHARING_VIOLATION). On failure returns the error.
DWORD ReadWholeFile(const char *path, std::string &out) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    char chunk[4096];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got > 0) out.append(chunk, got);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error;
}

// Splits the text into sections (ini_lines.h). Keys before the first header
// belong to a section with an empty name.
std::vector<Section> Parse(const std::string &text) {
    std::vector<Section> sections(1);
    for (const marvostell::ini::Line &line : marvostell::ini::SplitLines(text)) {
        if (line.kind == marvostell::ini::Line::kSection)
            sections.push_back(Section{line.name, {}});
        else if (line.kind == marvostell::ini::Line::kKey)
            sections.back().entries.push_back(Entry{line.name, StripQuotes(line.value)});
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
    std::string raw;
    DWORD fileError = ERROR_SUCCESS;
    if (!fileName || !*fileName) {
        fileError = ERROR_FILE_NOT_FOUND;
    } else if ((fileError = ReadWholeFile(fileName, raw)) != ERROR_SUCCESS) {
        raw.clear();
    }
    SetLastError(ERROR_SUCCESS);

    std::vector<Section> sections = Parse(marvostell::ini::FileText(raw));
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
