// The offer a scenario's host passes to CheckNewVersionEx, and the outcome's
// words for it: shared by the native runner and the Windows test host.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "marvostell.h"

namespace marvostell::testing {

// The structure of the first header, before it grew.
constexpr uint32_t kOldOfferSize = 268;

// An offer as a host built with a structure of `size` bytes (kOldOfferSize
// up to the whole one) passes it: those bytes zero but `size`, and the rest
// of the whole structure and 64 bytes after it filled with '#', which the
// call must leave alone.
class OfferArea {
public:
    explicit OfferArea(uint32_t size) : m_size(size) {
        std::memset(m_area.bytes, '#', sizeof m_area.bytes);
        std::memset(m_area.bytes, 0, size);
        m_area.offer.size = size;
    }
    MarvostellOffer *get() { return &m_area.offer; }

    bool Overrun() const {
        for (size_t i = m_size; i < sizeof m_area.bytes; ++i)
            if (m_area.bytes[i] != '#') return true;
        return false;
    }
    // "<version> <packageSize> <section>", or "none" while they are untouched.
    std::string Text() const {
        const MarvostellOffer &o = m_area.offer;
        if (o.version == 0 && o.packageSize == 0 && o.section[0] == '\0') return "none";
        return std::to_string(o.version) + " " + std::to_string(o.packageSize) + " " +
               std::string(o.section, strnlen(o.section, sizeof o.section));
    }
    // "flags=F display=TEXT notes=TEXT" of a whole structure, or "" while
    // they are zero and empty (or the structure is the old one).
    std::string More() const {
        const MarvostellOffer &o = m_area.offer;
        if (!Whole() || (o.flags == 0 && o.displayVersion[0] == '\0' && o.notesUrl[0] == '\0'))
            return "";
        return "flags=" + std::to_string(o.flags) + " display=" +
               std::string(o.displayVersion, strnlen(o.displayVersion, sizeof o.displayVersion)) +
               " notes=" + std::string(o.notesUrl, strnlen(o.notesUrl, sizeof o.notesUrl));
    }
    // downloadSize, or -1 when the structure has none.
    long Download() const { return Whole() ? static_cast<long>(m_area.offer.downloadSize) : -1; }

private:
    bool Whole() const { return m_size >= sizeof(MarvostellOffer); }

    uint32_t m_size;
    union {
        MarvostellOffer offer;
        unsigned char bytes[sizeof(MarvostellOffer) + 64];
    } m_area;
};

}  // namespace marvostell::testing
