// Induced sorting (SA-IS): the suffixes starting at LMS positions (an S-type
// suffix after an L-type one) are sorted by their LMS substrings, recursively
// by whole suffix where those are not yet unique, and every other suffix's
// place is induced from them. The end of the text acts as a sentinel smaller
// than every symbol.
#include "suffix_sort.h"

#include <algorithm>
#include <vector>

#ifdef MARVOSTELL_HAVE_DIVSUFSORT
#include <divsufsort.h>
#endif

namespace marvostell::tools {
namespace {

class CInducer {
public:
    explicit CInducer(int32_t alphabet) : m_counts(alphabet, 0), m_bucket(alphabet) {}

    template <typename Symbol>
    void Count(const Symbol *text, int32_t n) {
        for (int32_t i = 0; i < n; ++i) ++m_counts[text[i]];
    }
    // Each symbol's bucket start (or end, one past it) in the suffix array.
    std::vector<int32_t> &Buckets(bool ends) {
        int32_t sum = 0;
        for (size_t c = 0; c < m_counts.size(); ++c) {
            sum += m_counts[c];
            m_bucket[c] = ends ? sum : sum - m_counts[c];
        }
        return m_bucket;
    }

private:
    std::vector<int32_t> m_counts;
    std::vector<int32_t> m_bucket;
};

// The L-type suffixes from the sorted seeds forward, then the S-type ones
// backward. The sentinel's suffix comes first: it induces the last suffix.
template <typename Symbol>
void Induce(const Symbol *text, int32_t *sa, int32_t n, const std::vector<bool> &sType, CInducer &inducer) {
    std::vector<int32_t> &heads = inducer.Buckets(false);
    sa[heads[text[n - 1]]++] = n - 1;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = sa[i] - 1;
        if (j >= 0 && !sType[j]) sa[heads[text[j]]++] = j;
    }
    std::vector<int32_t> &tails = inducer.Buckets(true);
    for (int32_t i = n - 1; i >= 0; --i) {
        const int32_t j = sa[i] - 1;
        if (j >= 0 && sType[j]) sa[--tails[text[j]]] = j;
    }
}

template <typename Symbol>
void Sais(const Symbol *text, int32_t *sa, int32_t n, int32_t alphabet) {
    if (n <= 1) {
        if (n == 1) sa[0] = 0;
        return;
    }
    // The last suffix is L-type: it is greater than the sentinel after it.
    std::vector<bool> sType(n, false);
    for (int32_t i = n - 2; i >= 0; --i)
        sType[i] = text[i] < text[i + 1] || (text[i] == text[i + 1] && sType[i + 1]);
    const auto isLms = [&](int32_t i) { return i > 0 && i < n && sType[i] && !sType[i - 1]; };

    CInducer inducer(alphabet);
    inducer.Count(text, n);
    // Seed the bucket ends with the LMS positions, in any order.
    std::fill(sa, sa + n, -1);
    {
        std::vector<int32_t> &tails = inducer.Buckets(true);
        for (int32_t i = 1; i < n; ++i)
            if (isLms(i)) sa[--tails[text[i]]] = i;
    }
    Induce(text, sa, n, sType, inducer);

    // The LMS positions, now sorted by LMS substring, to the front; each
    // named by its substring's rank, stored at m + position / 2 (LMS
    // positions are at least two apart).
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i)
        if (isLms(sa[i])) sa[m++] = sa[i];
    std::fill(sa + m, sa + n, -1);
    int32_t names = 0;
    for (int32_t i = 0, previous = -1; i < m; ++i) {
        const int32_t p = sa[i];
        bool differs = previous < 0;
        for (int32_t d = 0; !differs; ++d) {
            // The substring that reaches the sentinel is like no other.
            if (p + d == n || previous + d == n || text[p + d] != text[previous + d] ||
                sType[p + d] != sType[previous + d])
                differs = true;
            else if (d > 0 && isLms(p + d))
                break;
        }
        if (differs) {
            ++names;
            previous = p;
        }
        sa[m + p / 2] = names - 1;
    }
    for (int32_t i = n - 1, j = n - 1; i >= m; --i)
        if (sa[i] >= 0) sa[j--] = sa[i];

    // Sort the LMS suffixes: by their names where these are unique, else by
    // the suffix array of the string of names.
    int32_t *reduced = sa + n - m;
    if (names < m) {
        Sais(reduced, sa, m, names);
    } else {
        for (int32_t i = 0; i < m; ++i) sa[reduced[i]] = i;
    }
    for (int32_t i = 1, j = 0; i < n; ++i)
        if (isLms(i)) reduced[j++] = i;
    for (int32_t i = 0; i < m; ++i) sa[i] = reduced[sa[i]];
    std::fill(sa + m, sa + n, -1);
    std::vector<int32_t> &tails = inducer.Buckets(true);
    for (int32_t i = m - 1; i >= 0; --i) {
        const int32_t j = sa[i];
        sa[i] = -1;
        sa[--tails[text[j]]] = j;
    }
    Induce(text, sa, n, sType, inducer);
}

}  // namespace

void SortSuffixes(const uint8_t *text, int32_t *suffixes, int32_t n) { Sais(text, suffixes, n, 256); }

bool BuildSuffixArray(const uint8_t *text, int32_t *suffixes, int32_t n) {
#ifdef MARVOSTELL_HAVE_DIVSUFSORT
    return n == 0 || divsufsort(text, suffixes, n) == 0;
#else
    SortSuffixes(text, suffixes, n);
    return true;
#endif
}

}  // namespace marvostell::tools
