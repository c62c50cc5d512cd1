#pragma once
// Opening the log file without ever writing through a link.
#include <windows.h>

#include <string>

#include "platform/core/Handles.h"

namespace prereq {

struct LogFileOpening {
  FileHandle file;          // open for reading and writing, or none
  DWORD disposition = 0;    // ERROR_SUCCESS: created; ERROR_ALREADY_EXISTS: reused
  std::wstring refusal;     // why an opened file was refused (debugger output)
};

// Opens (open-always, shared for reading and writing) the log file at
// `path`. Its folder must exist and must not be a reparse point; it is held
// open (and so cannot be renamed) while the file is opened without following
// a link in the file's own name. The file is kept only when it is a plain
// disk file with a single name that lies in that folder; otherwise it is
// closed again and `refusal` says why. A path longer than Windows accepts is
// not tried.
LogFileOpening OpenLogFileSafely(const std::wstring& path);

// The full path of `path` as GetFullPathNameW gives it (any length); empty
// when it has none.
std::wstring FullPathOf(const std::wstring& path);

}  // namespace prereq
