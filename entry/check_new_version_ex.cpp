// The controllable export.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "entry/update_check.h"
#include "framework/strings.h"
#include "marvostell.h"

static_assert(std::is_same_v<decltype(&CheckNewVersionEx), MarvostellCheckNewVersionExFn>,
              "the export and its function-pointer type must agree");

namespace {

using marvostell::CheckOptions;
using marvostell::CheckOutcome;

// The offer's layout is fixed: hosts built with every version of the header
// rely on it.
static_assert(offsetof(MarvostellOffer, section) == 12 && offsetof(MarvostellOffer, flags) == 268 &&
                  offsetof(MarvostellOffer, downloadSize) == 272 &&
                  offsetof(MarvostellOffer, displayVersion) == 276 &&
                  offsetof(MarvostellOffer, notesUrl) == 340 && sizeof(MarvostellOffer) == 1364,
              "MarvostellOffer's layout");

// Whether a structure of `size` bytes, as its caller declared it, holds the
// field that ends `end` bytes in: older hosts pass shorter structures.
bool Holds(uint32_t size, size_t end) { return size >= end; }
#define MARVOSTELL_FIELD_END(type, field) (offsetof(type, field) + sizeof(type::field))

CheckOptions ReadOptions(const MarvostellOptions *given) {
    CheckOptions options;
    options.strict = true;
    options.releaseKeys = true;
    if (!given) return options;
    const uint32_t size = given->size;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOptions, flags))) {
        options.checkOnly = (given->flags & MARVOSTELL_CHECK_ONLY) != 0;
        options.https = (given->flags & MARVOSTELL_USE_HTTPS) != 0;
        options.ignoreRollout = (given->flags & MARVOSTELL_IGNORE_ROLLOUT) != 0;
    }
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOptions, trustedKeys)))
        options.trustedKeys = given->trustedKeys;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOptions, cancel)))
        options.cancel = given->cancel;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOptions, deadlineSeconds)))
        options.deadlineSeconds = given->deadlineSeconds;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOptions, stallSeconds)))
        options.stallSeconds = given->stallSeconds;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOptions, userAgent)))
        options.userAgent = given->userAgent;
    return options;
}

// `text` into a field of `fieldSize` bytes, cut at a character boundary and
// NUL-terminated.
void CopyText(const std::string &text, char *field, size_t fieldSize) {
    std::string cut = text;
    marvostell::CutAtCharacter(cut, fieldSize - 1);
    std::memcpy(field, cut.c_str(), cut.size() + 1);
}

// The selected package, in the fields the host's structure holds.
void FillOffer(const CheckOutcome &outcome, MarvostellOffer *offer) {
    if (!offer || !outcome.selected) return;
    const uint32_t size = offer->size;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, version))) offer->version = outcome.version;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, packageSize)))
        offer->packageSize = outcome.packageSize;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, section)))
        CopyText(outcome.section, offer->section, sizeof offer->section);
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, flags)))
        offer->flags = (outcome.details.critical ? MARVOSTELL_OFFER_CRITICAL : 0u) |
                       (outcome.staged ? MARVOSTELL_OFFER_STAGED : 0u) |
                       (outcome.delta == marvostell::DeltaKind::kPatch ? MARVOSTELL_OFFER_PATCH : 0u);
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, downloadSize)))
        offer->downloadSize = outcome.downloadSize;
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, displayVersion)))
        CopyText(outcome.details.displayVersion, offer->displayVersion, sizeof offer->displayVersion);
    if (Holds(size, MARVOSTELL_FIELD_END(MarvostellOffer, notesUrl)))
        CopyText(outcome.details.notesUrl, offer->notesUrl, sizeof offer->notesUrl);
}

}  // namespace

extern "C" int MARVOSTELL_CALL CheckNewVersionEx(void *hNotifyWnd, uint32_t nNotifyMsg,
                                                 uint32_t dwCurrentVersion,
                                                 const char *lpszManifestUrl,
                                                 const char *lpszLocalDir, char *lpszPackagePath,
                                                 uint32_t nPackagePathSize,
                                                 const MarvostellOptions *options,
                                                 MarvostellOffer *offer) {
    // No exception may cross into the host: it could not catch it.
    try {
        const CheckOptions checkOptions = ReadOptions(options);
        marvostell::CheckRequest request{static_cast<HWND>(hNotifyWnd), nNotifyMsg,
                                         dwCurrentVersion, lpszManifestUrl ? lpszManifestUrl : "",
                                         lpszLocalDir ? lpszLocalDir : ""};
        request.options = &checkOptions;
        const CheckOutcome outcome = marvostell::RunUpdateCheck(request, nullptr);
        FillOffer(outcome, offer);
        // A host that passes no buffer does not want the path: no size bounds it.
        const size_t pathSize = lpszPackagePath ? nPackagePathSize : SIZE_MAX;
        return marvostell::FinishCheck(outcome, lpszPackagePath, pathSize);
    } catch (...) {
        return MARVOSTELL_ERR_UNEXPECTED;
    }
}
