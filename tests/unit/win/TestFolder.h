#pragma once
// A fresh folder under the temporary folder, removed with its files at the end.
#include <windows.h>

#include <string>
#include <vector>

class TestFolder {
 public:
  TestFolder() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    // Always a new folder: Wine gives its processes the same few ids again,
    // and a folder an earlier run could not remove (a child's working folder)
    // may still be there.
    for (int attempt = 0; attempt < 1000; ++attempt) {
      path_ = std::wstring(temp) + L"prereq-ut-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
      if (CreateDirectoryW(path_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
  }
  ~TestFolder() { RemoveTree(path_); }
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring full = folder + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
        else DeleteFileW(full.c_str());
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
  }

 private:
  std::wstring path_;
};

inline std::vector<unsigned char> ReadBytes(const std::wstring& path) {
  std::vector<unsigned char> out;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return out;
  DWORD size = GetFileSize(h, nullptr), read = 0;
  out.resize(size);
  if (size) ReadFile(h, out.data(), size, &read, nullptr);
  CloseHandle(h);
  out.resize(read);
  return out;
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
