// What the tool says after the call: the result in words and, from the
// check's events and the files it left, why it came out so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "call_record.h"
#include "entry/update_check.h"

struct Diagnosis {
    int exitStatus;
    std::string headline;            // the result in one line
    std::vector<std::string> lines;  // the reasons, one fact a line
};

// `result` is the export's integer for `outcome`.
Diagnosis Diagnose(int result, const marvostell::CheckOutcome &outcome, const CallRecord &record);

// The bytes of the selected package in the directory: a partial one after a
// stop or a broken transfer; 0 when none.
uint64_t KeptBytes(const CallRecord &record);

// Why the stored manifest is no manifest the module can use; empty when it
// is one.
std::vector<std::string> ManifestProblems(const std::string &path);

// Which of the package's keys makes the module refuse its entry.
std::string PackageEntryFault(const std::string &manifestPath, const std::string &section);
