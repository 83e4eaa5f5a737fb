#include "ArchiveEntry.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "ArchiveHooks.h"
#include "Text.h"

ArchiveErrorCallback g_pfnArchiveError = nullptr;
ArchiveProgressCallback g_pfnArchiveProgress = nullptr;
void* g_pArchiveUser = nullptr;

namespace {

// The console keeps its streams, its callbacks and its break counter in
// process-wide variables: one run at a time. A run that waits longer than
// this for another one to end gives up.
std::timed_mutex g_runLock;
constexpr auto kRunLockWait = std::chrono::minutes(10);

bool IsPasswordSwitch(const char* argument) {
    return argument[0] == '-' && (argument[1] == 'p' || argument[1] == 'P');
}

// Prints every argument (a password as "-p***") and widens it from UTF-8,
// the narrow form in which the system hands paths to the archiver. Gives the
// reason when an argument cannot be passed on: it is no UTF-8 text, or it
// holds a quote.
const char* ArgvToCommandStrings(int argc, const char** argv, std::vector<std::wstring>& out) {
    const char* refusal = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i] ? argv[i] : "";
        printf("%s \n", IsPasswordSwitch(argument) ? "-p***" : argument);
        out.push_back(Utf8ToWide(argument));
        if (*argument && out.back().empty()) refusal = "an argument is not UTF-8 text";
        if (out.back().find(L'"') != std::wstring::npos) refusal = "an argument holds a '\"'";
    }
    fflush(stdout);
    return refusal;
}

// The console splits its command line at blanks outside quotes and knows no
// escape, so every argument travels in quotes and none may hold a quote.
std::wstring QuoteCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const auto& argument : arguments) {
        if (!line.empty()) line += L' ';
        line += L'"';
        line += argument;
        line += L'"';
    }
    return line;
}

}  // namespace

int __stdcall alonemain(int argc, const char** argv, void* user, ArchiveErrorCallback onError,
                        ArchiveProgressCallback onProgress) {
    std::unique_lock<std::timed_mutex> run(g_runLock, kRunLockWait);
    if (!run.owns_lock()) {
        fprintf(stderr, "\n\nERROR: another archiver run did not end in time\n");
        if (onError) onError(user, E_Arc_FatalError);
        return E_Arc_FatalError;
    }
    g_pfnArchiveError = onError;
    g_pfnArchiveProgress = onProgress;
    g_pArchiveUser = user;

    std::vector<std::wstring> arguments;
    if (argc < 0 || (argc > 0 && !argv)) argc = 0;
    if (const char* refusal = ArgvToCommandStrings(argc, argv, arguments)) {
        fprintf(stderr, "\n\nCommand Line Error:\n%s\n", refusal);
        archive_hooks::ReportArchiveEvent(E_Arc_Break);
        return 7;
    }
    if (arguments.empty()) arguments.emplace_back(L"");  // the console drops the first string

    const bool fileApisWereAnsi = AreFileApisANSI() != FALSE;
    const int exitCode = archive_hooks::RunConsoleCommand(QuoteCommandLine(arguments));
    if (fileApisWereAnsi)
        SetFileApisToANSI();
    else
        SetFileApisToOEM();
    return exitCode;
}
