// What the tool learns from the module's trace lines during a call: which
// server it asks, which package it fetches into which file, and the digests
// it compares.
#pragma once

#include <cstdint>
#include <string>

struct DownloadFacts {
    std::string serverPath;  // Package, as the module requests it
    std::string localPath;   // where the module writes it
    uint32_t size = 0;       // PackageSize as the module read it
};

// "Marvostell!Server HOST[:PORT], File PATH": the server part, or false.
bool ParseServerTrace(const std::string &text, std::string &server);

// "Marvostell!Download(PATH->LOCAL, size N)...". `localDir` is the directory
// the local file lies in; it tells the arrow that separates the two paths
// from one that is part of the server's path.
bool ParseDownloadTrace(const std::string &text, const std::string &localDir,
                        DownloadFacts &facts);

// "Marvostell!Md5:ACTUAL, Server:EXPECTED".
bool ParseDigestTrace(const std::string &text, std::string &actual, std::string &expected);
