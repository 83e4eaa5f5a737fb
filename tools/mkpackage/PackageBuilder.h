// Builds a setup package from a folder of files, an uninstaller image and the
// header's texts: the folder becomes a 7z payload made by the in-process
// archiver, and the file is laid out as
//   [0, 4096)            a preamble holding the header offset at 32
//   [4096, 8192)         the header
//   [8192, ...)          the payload, then the uninstaller image
#pragma once

#include <string>

#include "PackageHeader.h"

struct PackageBuildOptions {
    std::wstring sourceFolder;   // its files and folders become the payload
    std::wstring uninstaller;    // the uninstaller image; empty: a zero-length one
    std::wstring output;         // the package file (replaced)
    std::string level = "5";     // the archiver's compression level, 0 (store) to 9
    PackageHeader header;        // texts and isX64; offsets, sizes and digest are filled in
};

// True when the package was written; otherwise error says why and no
// package file is left.
bool BuildPackage(const PackageBuildOptions& options, std::string& error);
