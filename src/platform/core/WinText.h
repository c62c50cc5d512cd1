#pragma once
// Wide-text helpers that need the platform: code-page conversion and the
// string table.
#include <windows.h>

#include <string>
#include <string_view>

#include "resources/resource.h"

namespace prereq {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
// Narrow text in the ANSI code page, for the few calls that need it.
std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view text);
// Narrow text in the calling thread's ANSI code page.
std::string ToThreadAnsi(std::wstring_view text);

// A text of this executable's string table; empty when the table has none.
std::wstring LoadResourceString(UINT id);


// The full path of the running executable, of any length.
std::wstring GetModulePath(HMODULE module = nullptr);

// The System folder as GetSystemDirectoryW answers it, without a trailing
// backslash; empty when it cannot be read (GetLastError tells why). Programs
// of the system are started from here by their full path.
std::wstring SystemFolder();

}  // namespace prereq
