// The archiver's in-process entry: 7-Zip's console command processor run on
// the caller's thread with an argument vector instead of a process command
// line. Besides its exit code a run reports progress and a few kinds of
// failure through two callbacks.
#pragma once

#include <cstdint>

// What a run reports through its error callback. 263 is never sent by the
// entry itself: the archive runner uses it for its own failures.
enum ArchiveEventCode {
    E_Arc_FatalError = 2,            // system error, error text, integer or unknown exception
    E_Arc_OutOfMemory = 8,           // an allocation failed
    E_Arc_Break = 255,               // break, abort or command-line error
    E_Arc_PasswordRequested = 260,   // the archive needs a password the command did not give
    E_Arc_DataError = 261,           // an item failed with a data error
    E_Arc_ArchivesWithErrors = 262,  // an extraction ended with archives in error
    E_Arc_RunnerFailed = 263,        // the runner could not write, find or extract its archive
};

typedef void(__stdcall* ArchiveErrorCallback)(void* user, int code);
// The 64-bit progress value in two halves: percent of the job, or MiB done
// when the archiver does not know the total. Never 0, and each report rises
// over the one before in the same unit. For multi-threaded decoding it comes from 7-Zip's
// decoder threads as well as from the caller's; 7-Zip hands it over one
// report at a time. A data error (261) may come from those threads too.
typedef void(__stdcall* ArchiveProgressCallback)(void* user, uint32_t low, uint32_t high);

// Runs one console command to its end and returns the console's exit code
// (0 success, 1 warning, 2 fatal error, 7 command-line error, 8 out of memory,
// 255 stopped). argv[0] is the program path and is ignored; the others are
// UTF-8, so a path outside the system's code page reaches the archiver as it
// is. A command with no argument after the program path prints the help text
// and returns 0.
//
// Runs are serialised within the process. The console switches the process's
// narrow file functions to the OEM code page; the entry restores the setting
// it found before returning. An argument that holds a '"' cannot be passed to
// the console, nor one that is no UTF-8 text: either ends the run with exit
// code 7 and a report of 255.
int __stdcall alonemain(int argc, const char** argv, void* user, ArchiveErrorCallback onError,
                        ArchiveProgressCallback onProgress);

// The last run's user pointer and callbacks: set by every call, never cleared.
extern ArchiveErrorCallback g_pfnArchiveError;
extern ArchiveProgressCallback g_pfnArchiveProgress;
extern void* g_pArchiveUser;
