#include "patch_maker.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "package/patch_format.h"
#include "suffix_sort.h"

namespace marvostell::tools {
namespace {

using Bytes = std::vector<uint8_t>;

struct Match {
    int64_t position = 0;  // in the old file
    int64_t length = 0;
};

int64_t CommonLength(const uint8_t *a, int64_t aSize, const uint8_t *b, int64_t bSize) {
    const int64_t limit = std::min(aSize, bSize);
    int64_t i = 0;
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

// The longest match of `target` among the old file's suffixes, by binary
// search of the suffix array.
Match LongestMatch(const std::vector<int32_t> &suffixes, const Bytes &old, const uint8_t *target,
                   int64_t targetSize) {
    Match best;
    if (suffixes.empty()) return best;
    const int64_t oldSize = static_cast<int64_t>(old.size());
    size_t low = 0, high = suffixes.size() - 1;
    while (high - low >= 2) {
        const size_t middle = low + (high - low) / 2;
        const int64_t at = suffixes[middle];
        const int64_t count = std::min(oldSize - at, targetSize);
        if (std::memcmp(old.data() + at, target, static_cast<size_t>(count)) < 0)
            low = middle;
        else
            high = middle;
    }
    for (const size_t i : {low, high}) {
        const int64_t at = suffixes[i];
        const int64_t length = CommonLength(old.data() + at, oldSize - at, target, targetSize);
        if (length > best.length) best = {at, length};
    }
    return best;
}

class CPatchStreams {
public:
    // The diff stream is nearly the new file's size: reserved once rather
    // than grown by doubling, which a 32-bit tool may not have room for.
    CPatchStreams(const Bytes &old, const Bytes &next) : m_old(old), m_new(next) { m_diff.reserve(next.size()); }

    // New bytes [from, from + add) against old ones from `oldFrom`, then
    // `extra` new bytes as they are; then the old position moves by `seek`.
    void Add(int64_t from, int64_t oldFrom, int64_t add, int64_t extra, int64_t seek) {
        for (int64_t i = 0; i < add; ++i) m_diff.push_back(static_cast<uint8_t>(m_new[from + i] - m_old[oldFrom + i]));
        m_extra.insert(m_extra.end(), m_new.begin() + from + add, m_new.begin() + from + add + extra);
        // A triple that writes nothing only moves: its seek joins the one before.
        if (add == 0 && extra == 0 && !m_control.empty()) {
            ControlTriple last = DecodeControlTriple(&m_control[m_control.size() - kControlTripleSize]);
            last.seek += seek;
            EncodeControlTriple(last, &m_control[m_control.size() - kControlTripleSize]);
            return;
        }
        uint8_t raw[kControlTripleSize];
        EncodeControlTriple({static_cast<uint64_t>(add), static_cast<uint64_t>(extra), seek}, raw);
        m_control.insert(m_control.end(), raw, raw + sizeof raw);
    }

    const Bytes &Stream(int s) const { return s == kControlStream ? m_control : s == kDiffStream ? m_diff : m_extra; }

private:
    const Bytes &m_old;
    const Bytes &m_new;
    Bytes m_control, m_diff, m_extra;
};

// The scan: at each position of the new file the longest old match is looked
// up; one that is not much better than simply going on from the last match's
// offset is passed over. Between two matches taken, the stretch after the
// last one is extended forward, the one before the next backward (each as
// far as more bytes match than not), and what is left between is extra.
void Scan(const std::vector<int32_t> &suffixes, const Bytes &old, const Bytes &next, CPatchStreams &streams) {
    const int64_t oldSize = static_cast<int64_t>(old.size());
    const int64_t newSize = static_cast<int64_t>(next.size());
    const auto same = [&](int64_t oldAt, int64_t newAt) {
        return oldAt >= 0 && oldAt < oldSize && old[oldAt] == next[newAt];
    };
    int64_t scan = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    Match match;
    while (scan < newSize) {
        int64_t oldScore = 0;
        int64_t scored = scan += match.length;
        for (; scan < newSize; ++scan) {
            match = LongestMatch(suffixes, old, next.data() + scan, newSize - scan);
            for (; scored < scan + match.length; ++scored)
                if (same(scored + lastOffset, scored)) ++oldScore;
            if ((match.length == oldScore && match.length != 0) || match.length > oldScore + 8) break;
            if (same(scan + lastOffset, scan)) --oldScore;
        }
        if (match.length == oldScore && scan != newSize) continue;

        int64_t forward = 0;
        for (int64_t i = 0, hits = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize;) {
            if (old[lastPos + i] == next[lastScan + i]) ++hits;
            ++i;
            if (hits * 2 - i > best * 2 - forward) {
                best = hits;
                forward = i;
            }
        }
        int64_t backward = 0;
        if (scan < newSize) {
            for (int64_t i = 1, hits = 0, best = 0; scan >= lastScan + i && match.position >= i; ++i) {
                if (old[match.position - i] == next[scan - i]) ++hits;
                if (hits * 2 - i > best * 2 - backward) {
                    best = hits;
                    backward = i;
                }
            }
        }
        // Where the two overlap, the split goes where the most bytes match.
        if (lastScan + forward > scan - backward) {
            const int64_t overlap = lastScan + forward - (scan - backward);
            int64_t score = 0, bestScore = 0, keep = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (next[lastScan + forward - overlap + i] == old[lastPos + forward - overlap + i]) ++score;
                if (next[scan - backward + i] == old[match.position - backward + i]) --score;
                if (score > bestScore) {
                    bestScore = score;
                    keep = i + 1;
                }
            }
            forward += keep - overlap;
            backward -= keep;
        }
        const int64_t extra = (scan - backward) - (lastScan + forward);
        streams.Add(lastScan, lastPos, forward, extra, (match.position - backward) - (lastPos + forward));
        lastScan = scan - backward;
        lastPos = match.position - backward;
        lastOffset = match.position - scan;
    }
}

}  // namespace

bool DeflateBytes(const uint8_t *data, size_t size, std::string &out) {
    z_stream z{};
    if (deflateInit(&z, 9) != Z_OK) return false;
    out.clear();
    z.next_in = const_cast<uint8_t *>(data);
    int status = Z_OK;
    uint8_t piece[65536];
    while (status == Z_OK) {
        const size_t input = std::min<size_t>(size, 1u << 30);
        z.avail_in = static_cast<uInt>(input);
        z.next_out = piece;
        z.avail_out = sizeof piece;
        status = deflate(&z, input == size ? Z_FINISH : Z_NO_FLUSH);
        size -= input - z.avail_in;
        out.append(reinterpret_cast<char *>(piece), sizeof piece - z.avail_out);
        if (status == Z_BUF_ERROR) status = Z_OK;  // no progress this round: more room next
    }
    deflateEnd(&z);
    return status == Z_STREAM_END;
}

bool MakePatch(const Bytes &oldFile, const Bytes &newFile, std::string &patch, std::string &error) {
    if (oldFile.size() > kMaxPatchFileSize - 1 || newFile.size() > kMaxPatchFileSize - 1) {
        error = "a file over 2 GiB";
        return false;
    }
    std::vector<int32_t> suffixes(oldFile.size());
    if (!BuildSuffixArray(oldFile.data(), suffixes.data(), static_cast<int32_t>(oldFile.size()))) {
        error = "the suffix sort failed";
        return false;
    }
    CPatchStreams streams(oldFile, newFile);
    Scan(suffixes, oldFile, newFile, streams);
    suffixes = {};

    PatchHeader header;
    header.newSize = newFile.size();
    header.oldSize = oldFile.size();
    std::string packed[kPatchStreams];
    for (int s = 0; s < kPatchStreams; ++s) {
        const Bytes &stream = streams.Stream(s);
        if (!DeflateBytes(stream.data(), stream.size(), packed[s])) {
            error = "zlib could not compress the patch";
            return false;
        }
        header.packedSize[s] = packed[s].size();
        header.unpackedSize[s] = stream.size();
    }
    uint8_t raw[kPatchHeaderSize];
    EncodePatchHeader(header, raw);
    patch.assign(reinterpret_cast<char *>(raw), sizeof raw);
    for (const std::string &stream : packed) patch += stream;
    return true;
}

}  // namespace marvostell::tools
