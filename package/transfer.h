// The resumable package transfer: asks for the bytes past the local file's
// end, appends the body to the file and posts progress in percent.
#pragma once

#include <cstdint>
#include <string>

#include "framework/step_result.h"
#include "http/check_rules.h"
#include "platform/win32.h"

namespace marvostell {

struct TransferRequest {
    std::string server;     // "host" or "host:port"
    std::string path;       // the package's path on the server
    std::string localPath;  // the file the body continues
    uint32_t size;          // the declared size: the transfer ends there
    // Strict: only a 200 or 206 answer is written (a 200 one from the file's
    // start), and a transfer that ends early, a stall or a stop fails,
    // keeping what arrived for the next call. Progress goes to the notify
    // target.
    const CheckRules &rules;
    BYTE *buffer;           // at least kPackagePieceSize bytes
};

// The bytes of the package each read moves, in the transfer and in the
// digest check.
constexpr DWORD kPackagePieceSize = 8192;

// Nothing is asked for a file that already holds `size` bytes. Otherwise the
// body, whatever comes (the range, the whole file or an error page), is
// appended; the digest check judges it afterwards. `complete` tells whether
// the file has reached its declared size. A failure is a package request or a
// package file one.
StepResult TransferPackage(const TransferRequest &request, bool &complete);

}  // namespace marvostell
