// The rules one check follows, built once from the export's arguments and
// handed to each unit.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "framework/check_observer.h"
#include "http/http_get.h"
#include "platform/crypto.h"
#include "platform/win32.h"

namespace marvostell {

using PublicKey = std::array<uint8_t, crypto::kP256KeyBytes>;

struct CheckRules {
    // The controllable export's requests (guard, stall limit, agent); null:
    // CheckNewVersion's plain ones. With a control the check is strict: an
    // answer the step cannot use, a transfer that ends early, a stall or a
    // stop fails as such, and what arrived stays for the next call.
    const HttpControl *control = nullptr;
    bool checkOnly = false;  // request no package: a complete, verified one, or on offer
    // Trusted keys: the manifest must be signed by one of them and not have
    // expired, and the package must match its Sha256 too. Null: neither.
    const std::vector<PublicKey> *keys = nullptr;
    CCheckObserver *observer = nullptr;  // told what the check does, or null
    HWND notifyWnd = nullptr;            // the progress target, or null
    uint32_t notifyMsg = 0;

    bool Strict() const { return control != nullptr; }
};

}  // namespace marvostell
