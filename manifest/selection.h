// The choice of the package to fetch from the manifest's package list.
#pragma once

#include <cstdint>
#include <string>

#include "framework/check_observer.h"
#include "manifest/manifest_reader.h"
#include "manifest/rollout.h"

namespace marvostell {

// Walks the update list of [General] and picks the first package that is
// newer than `currentVersion` and that its language and range rules admit.
// True with its section name in `section` (and its version in `*version`,
// when given); false when none is. An observer, when given, is told of every
// test of the host's version.
bool SelectPackage(const CManifestReader &manifest, uint32_t currentVersion,
                   uint32_t wantedLanguage, CCheckObserver *observer, std::string &section,
                   uint32_t *version = nullptr);

// CheckNewVersionEx's choice: the staged list of [General] first, walked
// by the same rules and, last, the package's Rollout (see RolloutRules);
// then the update list as SelectPackage walks it. `staged` tells which list
// the selected package came from.
bool SelectStagedOrUpdate(const CManifestReader &manifest, uint32_t currentVersion,
                          uint32_t wantedLanguage, const RolloutRules &rules,
                          CCheckObserver *observer, std::string &section, uint32_t &version,
                          bool &staged);

}  // namespace marvostell
