// The bridge to 7-Zip's console command processor, the only source compiled
// against 7-Zip's own headers. It supplies what the console library leaves
// to its host: the command line, the output streams, the entry with its
// exception table, the percent printer and the two prompts. The prompts read
// nothing, so a run never waits for input.
#include "Common/Common.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Common/IntToString.h"
#include "Common/MyException.h"
#include "Common/NewHandler.h"
#include "Common/StdOutStream.h"
#include "Windows/ErrorMsg.h"
#include "7zip/UI/Common/ArchiveCommandLine.h"
#include "7zip/UI/Common/ExitCode.h"
#include "7zip/UI/Console/ConsoleClose.h"
#include "7zip/UI/Console/PercentPrinter.h"
#include "7zip/UI/Console/UserInputUtils.h"

#include "ArchiveEntry.h"
#include "ArchiveHooks.h"

// The console's main routine (Main.cpp, built to take its command line from
// the host).
int Main2();

CStdOutStream* g_StdStream = NULL;
CStdOutStream* g_ErrStream = NULL;

namespace {

const wchar_t* g_commandLine = L"";
// The thread of the run in progress, 0 between runs. Only that thread's
// console output is watched for the reports below.
std::atomic<DWORD> g_runThread(0);

const char kDataErrorLine[] = "ERROR: Data Error";
const char kArchivesWithErrors[] = "Archives with Errors: ";

bool InRunThread() {
    const DWORD thread = g_runThread.load();
    return thread != 0 && thread == GetCurrentThreadId();
}

void FlushStreams() {
    if (g_StdStream) g_StdStream->Flush();
}

void PrintError(const char* message) {
    FlushStreams();
    if (g_ErrStream) *g_ErrStream << "\n\n" << message << endl;
}

// A text thrown by the console: printed as an error, and a fatal end.
template <typename Text>
int FatalErrorText(const Text& text) {
    if (g_ErrStream) {
        PrintError("ERROR:");
        *g_ErrStream << text << endl;
    }
    archive_hooks::ReportArchiveEvent(E_Arc_FatalError);
    return NExitCode::kFatalError;
}

int MapExceptions() {
    try {
        return Main2();
    } catch (const CNewException&) {
        PrintError("ERROR: Can't allocate required memory!");
        archive_hooks::ReportArchiveEvent(E_Arc_OutOfMemory);
        return NExitCode::kMemoryError;
    } catch (const CMessagePathException& e) {
        PrintError("Command Line Error:");
        if (g_ErrStream) *g_ErrStream << e << endl;
        archive_hooks::ReportArchiveEvent(E_Arc_Break);
        return NExitCode::kUserError;
    } catch (const CSystemException& systemError) {
        if (systemError.ErrorCode == E_OUTOFMEMORY) {
            PrintError("ERROR: Can't allocate required memory!");
            archive_hooks::ReportArchiveEvent(E_Arc_OutOfMemory);
            return NExitCode::kMemoryError;
        }
        if (systemError.ErrorCode == E_ABORT) {
            PrintError("Break signaled");
            archive_hooks::ReportArchiveEvent(E_Arc_Break);
            return NExitCode::kUserBreak;
        }
        if (g_ErrStream) {
            PrintError("System ERROR:");
            *g_ErrStream << NWindows::NError::MyFormatMessage(systemError.ErrorCode) << endl;
        }
        archive_hooks::ReportArchiveEvent(E_Arc_FatalError);
        return NExitCode::kFatalError;
    } catch (NExitCode::EEnum exitCode) {
        FlushStreams();
        if (g_ErrStream) *g_ErrStream << "\n\nInternal Error #" << (int)exitCode << endl;
        return exitCode;
    } catch (const UString& s) {
        return FatalErrorText(s);
    } catch (const AString& s) {
        return FatalErrorText(s);
    } catch (const char* s) {
        return FatalErrorText(s);
    } catch (const wchar_t* s) {
        return FatalErrorText(s);
    } catch (int t) {
        // An integer is a fatal error whether or not there is a stream to
        // say so: a run that threw never counts as a success.
        FlushStreams();
        if (g_ErrStream) *g_ErrStream << "\n\nInternal Error #" << t << endl;
        archive_hooks::ReportArchiveEvent(E_Arc_FatalError);
        return NExitCode::kFatalError;
    } catch (...) {
        PrintError("Unknown Error");
        archive_hooks::ReportArchiveEvent(E_Arc_FatalError);
        return NExitCode::kFatalError;
    }
}

}  // namespace

extern "C" LPWSTR WINAPI sevenzip_host_GetCommandLineW() { return const_cast<LPWSTR>(g_commandLine); }

namespace archive_hooks {

void ReportArchiveEvent(int code) {
    if (g_pfnArchiveError) g_pfnArchiveError(g_pArchiveUser, code);
}

int RunConsoleCommand(const std::wstring& commandLine) {
    g_StdOut = CStdOutStream(stdout);
    g_StdErr = CStdOutStream(stderr);
    g_StdStream = &g_StdOut;
    g_ErrStream = &g_StdErr;
    // The console's own start-up (its DLL search restriction and its console
    // control handler) would change the whole process and stays out; nothing
    // but a break from the host can set the counter, so it starts at 0.
    NConsoleClose::g_BreakCounter = 0;
    g_commandLine = commandLine.c_str();
    g_runThread.store(GetCurrentThreadId());
    const int exitCode = MapExceptions();
    g_runThread.store(0);
    FlushStreams();
    if (g_ErrStream) g_ErrStream->Flush();
    g_commandLine = L"";
    return exitCode;
}

}  // namespace archive_hooks

// The console writes an item's data error and the count of archives in error
// to its streams and keeps both to itself. The link wraps fputs and fwrite
// (-Wl,--wrap=...; the compiler turns an fputs of a constant text into an
// fwrite) so that the run's thread can report them as they are written;
// every other call passes straight through.
extern "C" int __cdecl __real_fputs(const char* text, FILE* stream);
extern "C" size_t __cdecl __real_fwrite(const void* data, size_t size, size_t count, FILE* stream);

namespace {

void WatchConsoleText(const char* text, size_t length, FILE* stream) {
    if (!text || !InRunThread()) return;
    const size_t dataError = sizeof(kDataErrorLine) - 1;
    const size_t archivesWithErrors = sizeof(kArchivesWithErrors) - 1;
    if (stream == stderr && length >= dataError && memcmp(text, kDataErrorLine, dataError) == 0)
        archive_hooks::ReportArchiveEvent(E_Arc_DataError);
    else if (stream == stdout && length == archivesWithErrors && memcmp(text, kArchivesWithErrors, length) == 0)
        archive_hooks::ReportArchiveEvent(E_Arc_ArchivesWithErrors);
}

}  // namespace

extern "C" int __cdecl __wrap_fputs(const char* text, FILE* stream) {
    if (text) WatchConsoleText(text, strlen(text), stream);
    return __real_fputs(text, stream);
}

extern "C" size_t __cdecl __wrap_fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    if (size == 1) WatchConsoleText(static_cast<const char*>(data), count, stream);
    return __real_fwrite(data, size, count, stream);
}

// The percent printer: every update of a known total gives percent 1 to 100,
// of an unknown total whole MiB; a value that changed is reported, 0 never.
void CPercentPrinterState::ClearCurState() {
    Completed = 0;
    Total = ((UInt64)(Int64)-1);
    Files = 0;
    Command.Empty();
    FileName.Empty();
}

CPercentPrinter::~CPercentPrinter() { ClosePrint(false); }

void CPercentPrinter::ClosePrint(bool needFlush) {
    if (!_so) return;
    const unsigned num = _printedString.Len();
    if (num != 0) {
        _temp.Empty();
        _temp.Add_Char('\r');
        for (unsigned i = 0; i < num; i++) _temp.Add_Space();
        _temp.Add_Char('\r');
        *_so << _temp;
    }
    if (needFlush) _so->Flush();
    _printedString.Empty();
}

void CPercentPrinter::GetPercents() {
    char c = '%';
    UInt64 value = 0;
    if (Total == (UInt64)(Int64)-1) {
        value = Completed >> 20;
        c = 'M';
    } else if (Total != 0) {
        value = Completed * 100 / Total;
    }
    if (value != 0 && g_pArchiveUser && g_pfnArchiveProgress && InRunThread()) {
        // _printedPercents holds the last value reported, so a value is
        // reported once however often the console asks to print it.
        char key[32];
        ConvertUInt64ToString(value, key);
        const size_t len = strlen(key);
        key[len] = c;
        key[len + 1] = 0;
        if (_printedPercents != key) {
            _printedPercents = key;
            g_pfnArchiveProgress(g_pArchiveUser, (UInt32)value, (UInt32)(value >> 32));
        }
    }
    char s[32];
    ConvertUInt64ToString(value, s);
    unsigned size = (unsigned)strlen(s);
    s[size++] = c;
    s[size] = 0;
    for (; size < 4; size++) _s.Add_Space();
    _s += s;
}

void CPercentPrinter::Print() {
    if (DisablePrint || !_so) return;
    _s.Empty();
    GetPercents();
    if (!Command.IsEmpty()) {
        _s.Add_Space();
        _s += Command;
    }
    if (_printedString != _s) {
        ClosePrint(false);
        *_so << _s;
        if (NeedFlush) _so->Flush();
        _printedString = _s;
    }
}

// Overwrite questions get no answer: with no input the run stops.
NUserAnswerMode::EEnum ScanUserYesNoAllQuit(CStdOutStream* outStream) {
    if (outStream) {
        *outStream << "? (Y)es / (N)o / (A)lways / (S)kip all / A(u)to rename all / (Q)uit? ";
        *outStream << endl;
        outStream->Flush();
    }
    return NUserAnswerMode::kEof;
}

// The password prompt reads nothing: the password stays empty and the host
// hears that one was asked for.
HRESULT GetPassword_HRESULT(CStdOutStream* outStream, UString& psw) {
    psw.Empty();
    if (outStream) {
        *outStream << "\nEnter password (will not be echoed):";
        outStream->Flush();
    }
    const HANDLE console = GetStdHandle(STD_INPUT_HANDLE);
    bool wasChanged = false;
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && console != NULL && GetConsoleMode(console, &mode))
        wasChanged = (SetConsoleMode(console, mode & ~(DWORD)ENABLE_ECHO_INPUT) != 0);
    if (g_pArchiveUser && g_pfnArchiveError) g_pfnArchiveError(g_pArchiveUser, E_Arc_PasswordRequested);
    if (wasChanged) SetConsoleMode(console, mode);
    if (outStream) {
        *outStream << endl;
        outStream->Flush();
    }
    return S_OK;
}
