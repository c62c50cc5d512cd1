#include "acquisition/WinInet.h"

#include <type_traits>

namespace prereq {

namespace {

struct LoadedWinInet {
  Library module;
  WinInetFunctions functions{};
  uint32_t error = 0;
  bool complete = false;

  LoadedWinInet() : module(LoadSystemLibrary(L"wininet.dll")) {
    if (!module) {
      error = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_MOD_NOT_FOUND;
      return;
    }
    bool all = true;
    auto find = [&](auto& slot, const char* name) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
          reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
      if (slot == nullptr) all = false;
    };
    WinInetFunctions& f = functions;
    find(f.InternetOpenW, "InternetOpenW");
    find(f.InternetSetStatusCallbackW, "InternetSetStatusCallbackW");
    find(f.InternetCloseHandle, "InternetCloseHandle");
    find(f.InternetConnectW, "InternetConnectW");
    find(f.InternetCrackUrlW, "InternetCrackUrlW");
    find(f.InternetGetLastResponseInfoW, "InternetGetLastResponseInfoW");
    find(f.InternetQueryDataAvailable, "InternetQueryDataAvailable");
    find(f.InternetReadFile, "InternetReadFile");
    find(f.InternetQueryOptionW, "InternetQueryOptionW");
    find(f.InternetSetOptionW, "InternetSetOptionW");
    find(f.HttpOpenRequestW, "HttpOpenRequestW");
    find(f.HttpSendRequestW, "HttpSendRequestW");
    find(f.HttpQueryInfoW, "HttpQueryInfoW");
    find(f.FtpCommandW, "FtpCommandW");
    find(f.FtpOpenFileW, "FtpOpenFileW");
    find(f.FtpGetFileSize, "FtpGetFileSize");
    if (!all) {
      error = ERROR_PROC_NOT_FOUND;
      return;
    }
    complete = true;
  }
};

// Built once, by the first caller (thread-safe initialisation of a local
// static), and never freed: see the header.
const LoadedWinInet& Loaded() {
  static const LoadedWinInet* const loaded = new LoadedWinInet;
  return *loaded;
}

}  // namespace

const WinInetFunctions* WinInet() {
  const LoadedWinInet& loaded = Loaded();
  return loaded.complete ? &loaded.functions : nullptr;
}

uint32_t WinInetLoadError() { return Loaded().error; }

}  // namespace prereq
