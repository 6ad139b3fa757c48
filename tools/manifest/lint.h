// The manifest checked as a host reads it: every finding with its line and a
// short reason. Errors make a host get no package, another package than the
// one written, or an error; warnings are style and risk.
#pragma once

#include "findings.h"
#include "line_index.h"
#include "manifest_source.h"

namespace marvostell::tools {

Findings LintManifest(const ManifestSource &source);

// The two halves: the text's shape (encoding, line ends, the 4096-byte cut,
// duplicates, comments, lengths), and the values through the profile reader,
// the number rule and the selection.
void LintText(const ManifestSource &source, const LineIndex &index, Findings &findings);
void LintValues(const ManifestSource &source, const LineIndex &index, Findings &findings);

}  // namespace marvostell::tools
