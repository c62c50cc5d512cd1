#pragma once
// WinINet, loaded from the system folder when the first download needs it:
// a run that downloads nothing never maps the library and the libraries it
// pulls in. Every function the program calls is looked up once, by name, into
// one table; nothing in the program imports WinINet.
#include <windows.h>
#include <wininet.h>

#include <cstdint>

#include "platform/core/Handles.h"

namespace prereq {

// decltype of a declaration is not a use: the declarations of <wininet.h>
// only give the types here.
struct WinInetFunctions {
  decltype(&::InternetOpenW) InternetOpenW;
  decltype(&::InternetSetStatusCallbackW) InternetSetStatusCallbackW;
  decltype(&::InternetCloseHandle) InternetCloseHandle;
  decltype(&::InternetConnectW) InternetConnectW;
  decltype(&::InternetCrackUrlW) InternetCrackUrlW;
  decltype(&::InternetGetLastResponseInfoW) InternetGetLastResponseInfoW;
  decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
  decltype(&::InternetReadFile) InternetReadFile;
  decltype(&::InternetQueryOptionW) InternetQueryOptionW;
  decltype(&::InternetSetOptionW) InternetSetOptionW;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW;
  decltype(&::HttpSendRequestW) HttpSendRequestW;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW;
  decltype(&::FtpCommandW) FtpCommandW;
  decltype(&::FtpOpenFileW) FtpOpenFileW;
  decltype(&::FtpGetFileSize) FtpGetFileSize;
};

// The table, loaded by the first call (from any thread; later calls return
// the same table). Null when wininet.dll or one of the functions cannot be
// found; WinInetLoadError() then tells why. The library stays loaded until
// the process ends: its threads may still report on handles that a transfer
// gave up.
const WinInetFunctions* WinInet();
// The system error of a failed load (ERROR_MOD_NOT_FOUND,
// ERROR_PROC_NOT_FOUND, ...); 0 when the table is loaded. Loads it first.
uint32_t WinInetLoadError();

// Owns an internet handle; closes it through the table. A handle exists only
// once the table is loaded.
struct InternetHandleTraits {
  using pointer = HINTERNET;
  static pointer empty() noexcept { return nullptr; }
  static void close(pointer h) noexcept { WinInet()->InternetCloseHandle(h); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

}  // namespace prereq
