// Between the archiver entry and the bridge compiled against 7-Zip's own
// headers. Nothing here names a 7-Zip type, so 7-Zip's macros stay inside the
// bridge.
#pragma once

#include <string>

namespace archive_hooks {

// Runs the console's main routine on commandLine (each argument quoted, the
// first being the program path) with the console's streams on standard
// output and standard error, and maps every exception to an exit code and a
// report. The caller holds the run lock.
int RunConsoleCommand(const std::wstring& commandLine);

// Calls g_pfnArchiveError with g_pArchiveUser when a callback is set.
void ReportArchiveEvent(int code);

}  // namespace archive_hooks
