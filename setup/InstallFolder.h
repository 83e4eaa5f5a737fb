// What the install and the uninstall know of an installation folder: whether
// it exists, and whether emptying it can only remove what an install of this
// product put there.
#pragma once

#include <string>

#include "PackageHeader.h"

// The uninstaller's header file an install writes into its folder.
extern const wchar_t kUninstallerHeaderName[];

bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
// Two paths name the same folder, ignoring case and trailing separators.
bool SamePath(std::wstring a, std::wstring b);

// The folder the header names below Program Files, or empty.
std::wstring DefaultInstallFolder(const PackageHeader& header);

// True when emptying the folder can only remove what an earlier install of
// this product put there: it is missing or empty, it is the default folder,
// or it holds the product's executable or an uninstaller header naming this
// product. A plain "uninstall.exe" proves nothing: many programs have one.
bool IsProductsOwnFolder(const std::wstring& folder, const PackageHeader& header);

// True for the two forms of a full folder path: a drive with its root
// (X:\...) and a share (\\server\share...). A drive-relative (C:foo) or
// rooted (\foo) path depends on the process's current folders; device forms
// (\\?\, \\.\) are refused too.
bool IsFullFolderPath(const std::wstring& path);

// True when an install may use the folder: it is the product's own, or the
// product's sub-folder inside it is (the road takes that one then).
bool ProductCanUseFolder(const std::wstring& folder, const PackageHeader& header);
