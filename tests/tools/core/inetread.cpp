// The floor of a WinINet download under this Wine, for the transfer
// benchmark: reads one URL with InternetReadFile in 51200-byte blocks (nothing
// written, no observer; synchronous mode, whose reads cost what asynchronous
// reads that find data cost) and prints the bytes and the seconds the reads
// took. With a file, every block is also written to it (the floor of a
// download into a file).
//   inetread.exe <url> [file]
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "acquisition/WinInet.h"
#include "platform/core/Handles.h"

using prereq::InternetHandle;  // closes through the loaded table

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) return 2;
  prereq::FileHandle file;
  if (argc == 3) {
    file.reset(::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
    if (!file) return 1;
  }
  InternetHandle session(::InternetOpenW(L"Corvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return 1;
  InternetHandle request(::InternetOpenUrlW(session.get(), argv[1], nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!request) {
    std::printf("cannot open the URL (%lu)\n", ::GetLastError());
    return 1;
  }
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  std::vector<char> buffer(51200);
  unsigned long long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!::InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
      std::printf("read failed (%lu)\n", ::GetLastError());
      return 1;
    }
    if (got == 0) break;
    total += got;
    DWORD written = 0;
    if (file && (!::WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got)) {
      std::printf("write failed (%lu)\n", ::GetLastError());
      return 1;
    }
  }
  ::QueryPerformanceCounter(&end);
  std::printf("%llu bytes in %.3f s\n", total, double(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}
