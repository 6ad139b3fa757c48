// A fresh directory per test with the helpers the POSIX file tests share.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/posix/win32_posix.h"
#include "temp_dir.h"

class PosixFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void Write(const std::string &name, const std::string &content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
    }
    std::string Read(const std::string &name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    HANDLE Open(const std::string &name, DWORD access, DWORD share, DWORD disposition,
                DWORD flags = 0) const {
        return CreateFileA(Path(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
    }

    marvostell::testing::TempDir temp_{"files"};
    const std::string dir_ = temp_.path();
};
