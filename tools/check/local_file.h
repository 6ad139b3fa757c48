// Small reads of the files a check leaves in its directory.
#pragma once

#include <cstdint>
#include <string>

// The file's size; false when it cannot be opened.
bool LocalFileSize(const std::string &path, uint64_t &size);

// Up to `limit` bytes from the file's start; false when it cannot be opened.
bool ReadLocalFile(const std::string &path, std::string &bytes, uint64_t limit);

// The file's MD5 digest in upper-case hexadecimal, computed with the module's
// own MD5; false when it cannot be read.
bool LocalFileMd5(const std::string &path, std::string &digest);

// Whether a file can be created in the directory ("." when empty).
bool DirectoryIsWritable(const std::string &dir);
