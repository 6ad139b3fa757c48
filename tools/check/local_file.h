// Small reads of the files a check leaves in its directory.
#pragma once

#include <cstdint>
#include <string>

// The file's size; false when there is no such file.
bool LocalFileSize(const std::string &path, uint64_t &size);

// Up to `limit` bytes from the file's start; false when it cannot be opened.
bool ReadLocalFile(const std::string &path, std::string &bytes, uint64_t limit);

// Whether a file can be created in the directory ("." when empty).
bool DirectoryIsWritable(const std::string &dir);
