// What the tool knows of a check: what it asked for, and what the core's
// events told of it (the selection's tests, the package's entry, each
// transfer, the digest check, the file moved aside).
#pragma once

#include <cstdint>
#include <string>

#include "framework/check_observer.h"
#include "selection_explain.h"

struct CallRecord {
    std::string url;
    std::string server;        // the manifest's server, "" for a URL without a path
    std::string object;        // the manifest's path on it
    std::string manifestPath;  // update.ini as the module names it
    uint32_t hostVersion = 0;
    uint32_t manifestStatus = 0;  // the manifest answer's HTTP status (0: none came)
    marvostell::tools::SelectionExplanation selection;  // the check's own selection

    bool entrySeen = false;    // the selected package's entry was usable
    std::string section;
    std::string packagePath;   // Package: the path requested from the server
    std::string localPath;
    uint32_t size = 0;         // PackageSize
    unsigned requests = 0;     // transfers asked of the server
    uint32_t requestFrom = 0;  // the last transfer: the first byte asked for,
    uint32_t received = 0;     // the bytes it appended,
    uint32_t answerStatus = 0; // and the server's status (0: none read)

    bool digestSeen = false;   // the last digest check's values
    std::string computedMd5;
    std::string expectedMd5;
    std::string computedSha256;  // "" unless keys were given
    std::string expectedSha256;
    std::string movedTo;       // where a rejected file went, or ""

    uint32_t deltaSize = 0;     // the patch or packed file fetched instead, when one was
    std::string deltaPath;      // where it is downloaded to
    std::string deltaBase;      // a patch's earlier package
    std::string deltaFellBack;  // why the smaller file gave way to the whole package, or ""
};

// Fills a record from the events, in the order they come. The record's
// hostVersion must be set before.
class CallRecorder : public marvostell::CCheckObserver {
public:
    explicit CallRecorder(CallRecord &record);
    void OnSelectionEvent(const marvostell::SelectionEvent &e) override;
    void OnPackageEvent(const marvostell::PackageEvent &e) override;
    void OnManifestEvent(const marvostell::ManifestEvent &e) override;

private:
    CallRecord &m_record;
    marvostell::tools::SelectionRecorder m_selection;
};

// Whether the event ends the selection.
bool EndsSelection(const marvostell::SelectionEvent &e);

// A package event in one line, for people.
std::string DescribePackageEvent(const marvostell::PackageEvent &e);
