// What the tool says after the call: the result in words and, from the files
// the call left and what its traces told, why it came out so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace_facts.h"

// What the tool saw during the call.
struct CallRecord {
    std::string url;
    std::string manifestPath;  // update.ini as the module names it
    uint32_t hostVersion = 0;
    bool downloadSeen = false;  // the module began the package step
    DownloadFacts download;
    uint64_t existingBytes = 0;  // the package file's size before the transfer
    bool digestSeen = false;
    std::string actualMd5;
    std::string expectedMd5;
    unsigned progressPosts = 0;
};

struct Diagnosis {
    int exitStatus;
    std::string headline;            // the result in one line
    std::vector<std::string> lines;  // the reasons, one fact a line
};

Diagnosis Diagnose(int result, const std::string &packagePath, const CallRecord &record);

// Why the stored manifest is no manifest the module can use; empty when it
// is one.
std::vector<std::string> ManifestProblems(const std::string &path);

// Which of the selected package's keys makes the module refuse its entry.
std::string PackageEntryFault(const std::string &manifestPath, const std::string &section);

// The section that the module's selection picks for the host's version, or "".
std::string SelectedSection(const std::string &manifestPath, uint32_t hostVersion);
