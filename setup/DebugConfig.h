// The optional debug configuration "ZovDebugConfig.ini" in the user's
// Documents folder, section "root". A missing file turns every switch off;
// the file is never written.
#pragma once

#include <string>

// Full path of the file; creates the Documents folder when it is missing.
std::wstring GetDebugConfigPath();
// The integer value of key, 0 when the file or the key is missing or not a number.
int ReadDebugConfigInt(const wchar_t* key);

// setup_test_mode is 1. A true answer is kept for the rest of the process.
bool IsTestMode();
// setup_test_restart is 1; read anew on every call.
bool IsTestRestart();
