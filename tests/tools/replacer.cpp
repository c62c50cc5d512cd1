// replacer: somebody who can write the download folder and swaps a file as
// soon as it was accepted.
//
//   replacer.exe <log file> <line> <target> <source> <report file>
//
// Waits (every 10 ms, at most 120 s) until the UTF-16 log file holds the
// text <line>, then tries at once every way to put the bytes of <source> in
// place of <target>: writing into it, copying over it, moving a file over
// it, renaming it away and deleting it (each followed by a copy under its
// name when it worked). Writes one line per way into
// the report file, "<way>=<system error>" (0 when it succeeded), and exits
// with 0; with 1 when the line never came, 2 on bad arguments.
#include <windows.h>

#include <string>
#include <vector>

namespace {

bool LogHolds(const wchar_t* path, const std::wstring& line) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<wchar_t> text(GetFileSize(file, nullptr) / sizeof(wchar_t) + 1, L'\0');
  DWORD read = 0;
  ReadFile(file, text.data(), static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t)), &read, nullptr);
  CloseHandle(file);
  return std::wstring(text.data(), read / sizeof(wchar_t)).find(line) != std::wstring::npos;
}

DWORD Result(BOOL ok) { return ok ? 0 : GetLastError(); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) return 2;
  const wchar_t* log = argv[1];
  const std::wstring line = argv[2];
  const std::wstring target = argv[3];
  const std::wstring source = argv[4];
  const DWORD start = GetTickCount();
  while (!LogHolds(log, line)) {
    if (GetTickCount() - start > 120000) return 1;
    Sleep(10);
  }

  std::string report;
  auto note = [&](const char* way, DWORD error) {
    report += std::string(way) + "=" + std::to_string(error) + "\r\n";
  };
  // Write the source's bytes into the file itself.
  HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<char> bytes(in != INVALID_HANDLE_VALUE ? GetFileSize(in, nullptr) : 0);
  DWORD got = 0;
  if (in != INVALID_HANDLE_VALUE) {
    ReadFile(in, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(in);
  }
  HANDLE out = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    note("write", GetLastError());
  } else {
    DWORD put = 0;
    note("write", Result(WriteFile(out, bytes.data(), got, &put, nullptr) && SetEndOfFile(out)));
    CloseHandle(out);
  }
  note("copy", Result(CopyFileW(source.c_str(), target.c_str(), FALSE)));
  const std::wstring spare = target + L".spare";
  CopyFileW(source.c_str(), spare.c_str(), FALSE);
  note("move", Result(MoveFileExW(spare.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)));
  DeleteFileW(spare.c_str());
  // Renamed away, or deleted, and another file put under its name.
  const std::wstring away = target + L".away";
  const DWORD renamed = Result(MoveFileExW(target.c_str(), away.c_str(), 0));
  note("rename", renamed);
  if (renamed == 0) CopyFileW(source.c_str(), target.c_str(), FALSE);
  const DWORD deleted = renamed == 0 ? Result(DeleteFileW(away.c_str())) : Result(DeleteFileW(target.c_str()));
  note("delete", deleted);
  if (deleted == 0 && renamed != 0) CopyFileW(source.c_str(), target.c_str(), FALSE);

  HANDLE file = CreateFileW(argv[5], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
  }
  return 0;
}
