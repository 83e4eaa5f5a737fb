// Narrow/wide conversion and the small string functions shared by the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Paths stay wide wherever a file is opened or created. Where a narrow form
// cannot be avoided (the A registry functions, JSON, the log, command lines)
// both directions use the ANSI code page (CP_ACP), so a round trip keeps every
// character that code page can hold. Characters it cannot hold become the
// system's replacement character.
std::wstring& NarrowToWide(const std::string& text, std::wstring& out);
std::string& WideToNarrow(const std::wstring& text, std::string& out);
std::string& WideToNarrow(const wchar_t* text, std::string& out);
std::wstring NarrowToWide(const std::string& text);
std::string WideToNarrow(const std::wstring& text);

// UTF-8 for the narrow hops of a path inside the process (between our code,
// the archiver and the download engine): unlike the ANSI code page it spells
// every path, so a path survives the round trip whatever the system locale.
// Invalid input gives an empty result.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Replaces every occurrence of from by to in text, resuming after each
// inserted text (so a replacement containing from is not replaced again).
// An empty from changes nothing. Returns a copy of the changed text.
std::string ReplaceAll(std::string& text, const std::string& from, const std::string& to);
std::wstring ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);
// The same on a copy; text is left alone.
std::string ReplaceAll(const char* text, const char* from, const char* to);

// Cuts text at every character that occurs in delimiters, drops empty pieces
// and appends the rest to out. Returns the number appended.
int SplitString(std::vector<std::string>& out, const std::string& text, const std::string& delimiters);
int SplitString(std::vector<std::wstring>& out, const std::wstring& text, const std::wstring& delimiters);

// True when the whole text (white space around it allowed) reads as a number.
bool IsNumber(const std::string& text);

// "%.2fMB" above 1,048,576 bytes, "%.2fKB" above 1024, else "%dByte",
// bounded by the buffer size. Returns buffer.
char* FormatByteSize(uint32_t bytes, char* buffer, size_t size);
wchar_t* FormatByteSize(uint32_t bytes, wchar_t* buffer, size_t size);

// A new GUID as 32 upper-case hex digits, without dashes or braces.
std::string MakeGuidString();
// 32 lower-case hex digits from the MD5 of 256 random integers.
std::string MakeRandomId();

// The option and source tags of the installer's own file name
// ("setup_<option...>_<number>_<source...>.exe"). The outputs change only
// when the name has a numeric piece.
void ParseSetupFileName(std::string& option, std::string& source);
// The same for a given module path.
void ParseSetupFileName(const std::wstring& modulePath, std::string& option, std::string& source);

// Draws a number below 100 and returns whether it is below max; logged.
bool RandomChance(int max);
