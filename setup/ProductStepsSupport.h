// What the product steps share: starting another program through the shell
// and waiting on it with a bound, and reading registry texts wide (paths may
// hold characters the ANSI code page lacks).
#pragma once

#include <windows.h>

#include <string>

#include "Handles.h"

// A program started through the shell.
struct ShellStartResult {
    bool started = false;   // the shell's instance value was above 32
    UniqueHandle process;   // may be null even when started
};

// ShellExecuteExW with the given verb, no owner and no working folder, the
// process handle requested and no error box of the shell's own (a box nobody
// answers would stop the install).
ShellStartResult StartShellProgram(const wchar_t* verb, const std::wstring& file, const std::wstring& parameters,
                                   int show);

// Waits at most timeoutMs for the process to end. True with its exit code
// when it ended. Otherwise the process is terminated (and waited on a little
// longer so its files are free), "<name> did not end within <ms> ms; ended."
// is logged and false returned; exitCode is then left alone. A null process
// gives false at once.
bool WaitForProgramEnd(HANDLE process, DWORD timeoutMs, const char* name, DWORD& exitCode);

// The text of a string value read through the wide registry function, of any
// length; empty when the value is missing or not a text.
std::wstring ReadWideRegString(HKEY key, const wchar_t* name);
