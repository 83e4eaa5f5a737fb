// Special folders, the path join used throughout, and text resources of the
// installer's own file.
#pragma once

#include <windows.h>

#include <string>

// Each fills a buffer of MAX_PATH wide characters with the folder's path;
// non-zero on success, 0 when the shell does not know the folder or the path
// with its tail would not fit. The folder need not exist.
int GetDesktopPath(wchar_t* buffer);
int GetProgramsPath(wchar_t* buffer);
int GetCommonProgramsPath(wchar_t* buffer);
int GetAppDataPath(wchar_t* buffer);
// Application data + "\Microsoft\Internet Explorer\Quick Launch".
int GetQuickLaunchPath(wchar_t* buffer);
// Quick Launch + "\User Pinned\TaskBar".
int GetTaskBarPinPath(wchar_t* buffer);
int GetPersonalFolderPath(wchar_t* buffer);

// The "Downloads" sibling of the Documents folder + subPath (+ fileName);
// creates the folders (not the file) when create is non-zero. Returns out.
std::wstring& GetDownloadsPath(std::wstring& out, const std::wstring& subPath, const wchar_t* fileName, int create);
// The 32-bit system folder when x86 is set, else the native one. Returns out.
std::wstring& GetSystemFolderPath(std::wstring& out, bool x86);

// Program Files (the native one when preferNative64 and Windows is 64-bit
// and "ProgramW6432" is set, else this 32-bit program's) + subPath, into a
// buffer of MAX_PATH. Non-zero on success; 0 when the path does not fit,
// so the buffer never holds a cut or empty folder reported as success.
// With create the folder chain is created and its result returned.
int GetProgramPath(wchar_t* buffer, const std::wstring& subPath, int create, int preferNative64);

// a + "\" + b with one separator between them; empty when the result would
// not fit in MAX_PATH characters (never a silently cut path).
std::wstring PathJoin(std::wstring a, std::wstring b);
std::string PathJoin(std::string a, std::string b);

// The bytes of resource id of the given type in the installer's own file, as
// text up to its first NUL. false (out unchanged) when missing or empty.
bool LoadResourceText(int id, const wchar_t* type, std::string& out);
