#pragma once
// What the command-line tools need of the platform: files, output streams,
// and the shipped-file probe. One implementation for Windows (ToolIoWin.cpp)
// and one for POSIX systems (ToolIoPosix.cpp).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "authoring/Stamp.h"

namespace prereq::toolio {

// The whole file; false when it cannot be read (`error` says why).
bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>& bytes, std::wstring& error);
// Writes (replacing) the file; false with the reason when it fails.
bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes,
                    std::wstring& error);

// Gives `to` the permissions of `from` where files have them (POSIX: a
// stamped copy of a program stays executable); nothing elsewhere.
void CopyPermissions(const std::wstring& from, const std::wstring& to);

// Text to standard output and standard error: UTF-8, or the console's own
// wide output where the stream is a Windows console.
void Out(std::wstring_view text);
void Err(std::wstring_view text);
// UTF-8 bytes as they are (JSON).
void OutUtf8(std::string_view bytes);

// The folder of a path as the platform writes it (no trailing separator;
// "." for a bare file name).
std::wstring FolderOfPath(const std::wstring& path);

// Whether a file exists at `relative` (backslash-separated) below `folder`,
// with names compared without regard to case as Windows compares them.
bool ShippedFileExists(const std::wstring& folder, const std::wstring& relative);

// Applies resource changes to an executable file in place with the system's
// resource update functions (BeginUpdateResource and its family). False with
// the reason on failure, and on platforms that have no such functions.
bool SystemUpdateResources(const std::wstring& path, const std::vector<ResourceChange>& changes,
                           std::wstring& error);
// Whether SystemUpdateResources exists here.
bool HaveSystemResourceUpdate();

}  // namespace prereq::toolio
