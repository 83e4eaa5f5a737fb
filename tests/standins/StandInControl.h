// The tests' side of the stand-in product programs (orvane.exe, orvane32.dll,
// unins000.exe, the URL recorder): where they are, their settings and their
// log. The settings live in one registry key and the URL recorder replaces
// the machine's http and https handlers, so tests that use the stand-ins or
// open web pages share the CTest lock "standins".
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "StandInConfig.h"

namespace standins {

// The built programs, in the build tree's "standins" folder.
std::wstring ProductExePath();      // orvane.exe
std::wstring ProductDllPath();      // orvane32.dll
std::wstring UninstallerExePath();  // unins000.exe
std::wstring UrlRecorderExePath();  // urlrecorder.exe

// One line of the log.
struct Record {
    std::vector<std::pair<std::string, std::wstring>> fields;
    // The field's value; empty when the record has no such field.
    std::wstring Get(const std::string& key) const;
    bool Is(const char* role, const char* event) const;
    // The record's place in the log (1 for the first); 0 when missing.
    unsigned long Seq() const;
};

// The stand-ins' settings for one test: a fresh log file at logPath and the
// defaults (exit code 0, no delay, not resident). The destructor removes the
// settings and the log.
class StandInSession {
public:
    explicit StandInSession(const std::wstring& logPath);
    ~StandInSession();
    StandInSession(const StandInSession&) = delete;
    StandInSession& operator=(const StandInSession&) = delete;

    void SetExitCode(DWORD code);
    void SetExitDelayMs(DWORD ms);  // kNeverExit: until ended, at most kLifeBoundMs
    void SetResident(bool resident);
    void SetResidentBoundMs(DWORD ms);
    // mode: kInstallMode, kUninstallMode or kQuitMode.
    void SetModeExitCode(const wchar_t* mode, DWORD code);
    void SetIgnoreQuit(bool ignore);
    void SetCloseHangMs(DWORD ms);
    void SetUninstallerDelayMs(DWORD ms);  // kNeverExit: until ended, at most kLifeBoundMs

    const std::wstring& logPath() const { return logPath_; }
    std::vector<Record> ReadRecords() const;
    // Polls the log every 50 ms until a record satisfies match or timeoutMs
    // has passed; returns it, or an empty record.
    Record WaitForRecord(const std::function<bool(const Record&)>& match, DWORD timeoutMs) const;

private:
    std::wstring logPath_;
};

// Makes the URL recorder the shell's handler for http and https for its
// lifetime; the previous handlers come back afterwards.
class UrlRecorderRegistration {
public:
    UrlRecorderRegistration();
    ~UrlRecorderRegistration();
    UrlRecorderRegistration(const UrlRecorderRegistration&) = delete;
    UrlRecorderRegistration& operator=(const UrlRecorderRegistration&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    std::wstring previous_[2];
    bool hadPrevious_[2] = {false, false};
};

// Copies orvane.exe and orvane32.dll into folder (which must exist).
bool CopyProductStandIns(const std::wstring& folder);

}  // namespace standins
