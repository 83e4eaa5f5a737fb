// The bridge to 7-Zip's console command processor, the only source compiled
// against 7-Zip's own headers. It supplies what the console library leaves
// to its host: the command line, the output streams, the entry with its
// exception table, the percent printer and the two prompts. The prompts read
// nothing, so a run never waits for input. It also stands between the
// console's main routine and its extraction, to take each item's outcome
// and the count of archives in error as the values 7-Zip gives them.
#include "Common/Common.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Common/IntToString.h"
#include "Common/MyException.h"
#include "Common/NewHandler.h"
#include "Common/StdOutStream.h"
#include "Windows/ErrorMsg.h"
#include "7zip/Archive/IArchive.h"
#include "7zip/UI/Common/ArchiveCommandLine.h"
#include "7zip/UI/Common/ExitCode.h"
#include "7zip/UI/Common/Extract.h"
#include "7zip/UI/Console/ConsoleClose.h"
#include "7zip/UI/Console/ExtractCallbackConsole.h"
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
// True while a run is in progress. The console's percent printer is used by
// the run's own thread and, for multi-threaded decoding, by 7-Zip's decoder
// threads; between runs nothing is reported.
std::atomic<bool> g_runInProgress(false);
// The last progress value reported in this run, with its unit in the top bit
// (set for percent, clear for MiB): a value is reported only when it rises,
// whichever thread prints it.
std::atomic<UInt64> g_lastProgress(0);
const UInt64 kPercentUnit = (UInt64)1 << 63;

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
    g_lastProgress.store(0);
    g_runInProgress.store(true);
    const int exitCode = MapExceptions();
    g_runInProgress.store(false);
    FlushStreams();
    if (g_ErrStream) g_ErrStream->Flush();
    g_commandLine = L"";
    return exitCode;
}

}  // namespace archive_hooks

namespace {

// Stands for the console's extraction callback before 7-Zip's extraction:
// every call goes on to the console, and an item that failed with a data
// error is reported first, from the outcome value itself. Interfaces that it
// does not implement are asked of the console's callback.
class CReportingExtractCallback Z7_final:
    public IFolderArchiveExtractCallback,
    public IFolderArchiveExtractCallback2,
    public CMyUnknownImp
{
    Z7_COM_ADDREF_RELEASE
    Z7_IFACE_COM7_IMP(IProgress)
    Z7_IFACE_COM7_IMP(IFolderArchiveExtractCallback)
    Z7_IFACE_COM7_IMP(IFolderArchiveExtractCallback2)

    CMyComPtr<IFolderArchiveExtractCallback> _console;
    CMyComPtr<IFolderArchiveExtractCallback2> _console2;

    static void ReportOutcome(Int32 opRes) {
        if (opRes == NArchive::NExtract::NOperationResult::kDataError)
            archive_hooks::ReportArchiveEvent(E_Arc_DataError);
    }

public:
    explicit CReportingExtractCallback(IFolderArchiveExtractCallback* console): _console(console) {
        _console.QueryInterface(IID_IFolderArchiveExtractCallback2, &_console2);
    }

    STDMETHOD(QueryInterface)(REFGUID iid, void** outObject) throw() Z7_override Z7_final {
        *outObject = NULL;
        if (iid == IID_IUnknown || iid == IID_IProgress || iid == IID_IFolderArchiveExtractCallback)
            *outObject = static_cast<IFolderArchiveExtractCallback*>(this);
        else if (iid == IID_IFolderArchiveExtractCallback2 && _console2)
            *outObject = static_cast<IFolderArchiveExtractCallback2*>(this);
        else
            return _console->QueryInterface(iid, outObject);
        AddRef();
        return S_OK;
    }
};

Z7_COM7F_IMF(CReportingExtractCallback::SetTotal(UInt64 total)) { return _console->SetTotal(total); }

Z7_COM7F_IMF(CReportingExtractCallback::SetCompleted(const UInt64* completeValue)) {
    return _console->SetCompleted(completeValue);
}

Z7_COM7F_IMF(CReportingExtractCallback::AskOverwrite(const wchar_t* existName, const FILETIME* existTime,
                                                     const UInt64* existSize, const wchar_t* newName,
                                                     const FILETIME* newTime, const UInt64* newSize, Int32* answer)) {
    return _console->AskOverwrite(existName, existTime, existSize, newName, newTime, newSize, answer);
}

Z7_COM7F_IMF(CReportingExtractCallback::PrepareOperation(const wchar_t* name, Int32 isFolder, Int32 askExtractMode,
                                                         const UInt64* position)) {
    return _console->PrepareOperation(name, isFolder, askExtractMode, position);
}

Z7_COM7F_IMF(CReportingExtractCallback::MessageError(const wchar_t* message)) {
    return _console->MessageError(message);
}

Z7_COM7F_IMF(CReportingExtractCallback::SetOperationResult(Int32 opRes, Int32 encrypted)) {
    ReportOutcome(opRes);
    return _console->SetOperationResult(opRes, encrypted);
}

Z7_COM7F_IMF(CReportingExtractCallback::ReportExtractResult(Int32 opRes, Int32 encrypted, const wchar_t* name)) {
    ReportOutcome(opRes);
    return _console2->ReportExtractResult(opRes, encrypted, name);
}

}  // namespace

// The console's main routine calls 7-Zip's extraction once per extraction
// command, with its own callback object in the three callback roles. The
// link sends that call here (-Wl,--wrap, with the routine's mangled name:
// a 7-Zip whose extraction takes other arguments fails to link rather than
// run unwatched); the extraction runs with the reporting callback in front
// of the console's, and the console's count of archives in error, which it
// prints but keeps, is reported once the extraction is over.
extern "C" HRESULT
__real__Z7ExtractP7CCodecsRK13CObjectVectorI9COpenTypeERK13CRecordVectorIiERS1_I7UStringESC_RKN9NWildcard11CCensorNodeERK15CExtractOptionsP15IOpenCallbackUIP18IExtractCallbackUIP29IFolderArchiveExtractCallbackP9IHashCalcRSA_R15CDecompressStat(
    CCodecs* codecs, const CObjectVector<COpenType>& types, const CIntVector& excludedFormats,
    UStringVector& arcPaths, UStringVector& arcPathsFull, const NWildcard::CCensorNode& wildcardCensor,
    const CExtractOptions& options, IOpenCallbackUI* openCallback, IExtractCallbackUI* extractCallback,
    IFolderArchiveExtractCallback* faeCallback, IHashCalc* hash, UString& errorMessage, CDecompressStat& st);

extern "C" HRESULT
__wrap__Z7ExtractP7CCodecsRK13CObjectVectorI9COpenTypeERK13CRecordVectorIiERS1_I7UStringESC_RKN9NWildcard11CCensorNodeERK15CExtractOptionsP15IOpenCallbackUIP18IExtractCallbackUIP29IFolderArchiveExtractCallbackP9IHashCalcRSA_R15CDecompressStat(
    CCodecs* codecs, const CObjectVector<COpenType>& types, const CIntVector& excludedFormats,
    UStringVector& arcPaths, UStringVector& arcPathsFull, const NWildcard::CCensorNode& wildcardCensor,
    const CExtractOptions& options, IOpenCallbackUI* openCallback, IExtractCallbackUI* extractCallback,
    IFolderArchiveExtractCallback* faeCallback, IHashCalc* hash, UString& errorMessage, CDecompressStat& st) {
    CMyComPtr<IFolderArchiveExtractCallback> reporting = new CReportingExtractCallback(faeCallback);
    const HRESULT result =
        __real__Z7ExtractP7CCodecsRK13CObjectVectorI9COpenTypeERK13CRecordVectorIiERS1_I7UStringESC_RKN9NWildcard11CCensorNodeERK15CExtractOptionsP15IOpenCallbackUIP18IExtractCallbackUIP29IFolderArchiveExtractCallbackP9IHashCalcRSA_R15CDecompressStat(
            codecs, types, excludedFormats, arcPaths, arcPathsFull, wildcardCensor, options, openCallback,
            extractCallback, reporting, hash, errorMessage, st);
    // The main routine's one caller passes its console callback object here.
    const CExtractCallbackConsole* console = static_cast<CExtractCallbackConsole*>(extractCallback);
    if (console->NumArcsWithError != 0) archive_hooks::ReportArchiveEvent(E_Arc_ArchivesWithErrors);
    return result;
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
    if (value != 0 && g_pArchiveUser && g_pfnArchiveProgress && g_runInProgress.load()) {
        // Claim the value: only a rise over the last one reported (in the
        // same unit) is reported, once, by whichever thread got it first.
        const UInt64 unit = c == '%' ? kPercentUnit : 0;
        UInt64 last = g_lastProgress.load();
        bool rises = true;
        do {
            rises = (last & kPercentUnit) != unit || value > (last & ~kPercentUnit);
        } while (rises && !g_lastProgress.compare_exchange_weak(last, unit | value));
        if (rises) g_pfnArchiveProgress(g_pArchiveUser, (UInt32)value, (UInt32)(value >> 32));
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
