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
