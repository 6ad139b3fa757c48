// Staged releases: the host's identity, kept in host.id in the local
// directory, and the bucket that decides whether a host is in a rollout.
// The identity never leaves the host: only its bucket is compared.
#pragma once

#include <cstdint>
#include <string>

namespace marvostell {

constexpr char kHostIdName[] = "host.id";
constexpr size_t kHostIdDigits = 32;
constexpr uint32_t kRolloutBuckets = 10000;
constexpr uint32_t kNoBucket = 0xFFFFFFFFu;

// The identity in `text`: 32 hexadecimal digits (either case) followed by
// nothing but white space, returned in lower case. False for anything else.
bool ParseHostId(const std::string &text, std::string &id);

// The bucket of the identity `id` (32 lower-case digits) for the staged
// package `section`: the first four bytes, big-endian, of
// SHA-256("rollout" NUL id NUL section), modulo 10000. Every package draws
// its own first group. False when SHA-256 is not available.
bool RolloutBucket(const std::string &id, const std::string &section, uint32_t &bucket);

// Whether a host of `bucket` is among `percent` percent of hosts (above 100
// counts as 100): raising the percentage only ever adds hosts.
bool IsAdmitted(uint32_t bucket, uint32_t percent);

// The host's identity for one check, read from the local directory (and made
// there, from the system's random generator, when there is none yet) the
// first time a staged package asks for it.
class CHostIdentity {
public:
    explicit CHostIdentity(std::string localDir) : m_strDir(std::move(localDir)) {}
    // An identity given instead (the tools); empty stands for none.
    static CHostIdentity Given(const std::string &id);

    // The identity, or null when it can be neither read nor made: a host
    // without one is in no rollout.
    const std::string *Get();

private:
    bool Load();

    std::string m_strDir;
    bool m_bTried = false;
    bool m_bKnown = false;
    std::string m_strId;
};

// How the staged list is walked.
struct RolloutRules {
    CHostIdentity *identity = nullptr;  // null: no identity, in no rollout
    bool ignore = false;    // the host asked for any staged release (Rollout 0 still stops it)
    bool admitAll = false;  // every host is taken as in every rollout (the tools' map)
};

}  // namespace marvostell
