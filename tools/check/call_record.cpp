#include "call_record.h"

using marvostell::PackageEvent;
using marvostell::SelectionEvent;

CallRecorder::CallRecorder(CallRecord &record)
    : m_record(record), m_selection(record.selection) {
    m_record.selection.hostVersion = m_record.hostVersion;
}

void CallRecorder::OnSelectionEvent(const SelectionEvent &e) { m_selection.OnSelectionEvent(e); }

void CallRecorder::OnManifestEvent(const marvostell::ManifestEvent &e) {
    m_record.manifestStatus = e.status;
}

void CallRecorder::OnPackageEvent(const PackageEvent &e) {
    CallRecord &r = m_record;
    switch (e.kind) {
    case PackageEvent::kEntry:
        r.entrySeen = true;
        r.section = e.section;
        r.packagePath = e.path;
        r.localPath = e.localPath;
        r.size = e.size;
        break;
    case PackageEvent::kRequest:
        ++r.requests;
        r.requestFrom = e.from;
        r.received = 0;
        r.answerStatus = 0;
        break;
    case PackageEvent::kAnswer:
        r.answerStatus = e.status;
        break;
    case PackageEvent::kTransferEnd:
        r.received = e.received;
        break;
    case PackageEvent::kDigest:
        r.digestSeen = true;
        r.computedMd5 = e.computed;
        r.expectedMd5 = e.expected;
        r.computedSha256 = e.computedSha256;
        r.expectedSha256 = e.expectedSha256;
        break;
    case PackageEvent::kMovedAside:
        r.movedTo = e.movedTo;
        break;
    case PackageEvent::kDelta:
        r.deltaSize = e.size;
        r.deltaPath = e.localPath;
        r.deltaBase = e.movedTo;
        break;
    case PackageEvent::kDeltaFellBack:
        r.deltaFellBack = e.expected;
        break;
    default:
        break;
    }
}

bool EndsSelection(const SelectionEvent &e) {
    // The staged list, walked first, ends no selection.
    return e.kind == SelectionEvent::kSelected || (e.kind == SelectionEvent::kListEnd && !e.staged) ||
           e.kind == SelectionEvent::kListMissing;
}

std::string DescribePackageEvent(const PackageEvent &e) {
    const auto n = [](uint32_t value) { return std::to_string(value); };
    switch (e.kind) {
    case PackageEvent::kEntry:
        return "package [" + std::string(e.section) + "]: " + e.path + " to " + e.localPath +
               ", " + n(e.size) + " bytes";
    case PackageEvent::kRequest:
        return "package request: the bytes from " + n(e.from) + " on";
    case PackageEvent::kAnswer:
        return e.status ? "package answer: status " + n(e.status)
                        : std::string("package answer: no status could be read");
    case PackageEvent::kTransferEnd:
        return "package transfer: " + n(e.received) + " bytes appended after " + n(e.from);
    case PackageEvent::kDigest:
        return "digest: MD5 " + std::string(e.computed) + ", Md5 " + e.expected +
               (e.passed ? ": they match" : ": they differ");
    case PackageEvent::kMovedAside:
        return "moved aside: " + std::string(e.localPath) + " to " + e.movedTo;
    case PackageEvent::kDelta:
        return (*e.movedTo ? "patch from " + std::string(e.movedTo) : std::string("packed package")) + ": " +
               e.path + " to " + e.localPath + ", " + n(e.size) + " bytes";
    case PackageEvent::kDeltaFellBack:
        return "the smaller download " + std::string(e.path) + " did not work out (" + e.expected +
               "): the whole package instead";
    }
    return "";
}
