// One record per line in the stand-ins' log: tab-separated key=value fields,
// UTF-8, "cmdline" (when present) last. Control characters in values become
// blanks, so a record is always one line.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace standins {

using Fields = std::vector<std::pair<std::string, std::wstring>>;

// Appends event, role and pid, then the given fields, as one line to the
// configured log; does nothing when no log is configured.
void AppendRecord(const char* role, const char* event, const Fields& fields);

// A DWORD value of the configuration key, fallback when missing.
DWORD ReadConfigDword(const wchar_t* name, DWORD fallback);

// The fields every start records: the raw command line, the current folder,
// the show state (-1 when the starter set none), the parent's id and file name
// and the program's own path.
Fields StartFields();

}  // namespace standins
