// The tools' platform services on Windows.
#include <windows.h>

#include "authoring/ToolIo.h"
#include "platform/core/Handles.h"
#include "platform/core/TextCodec.h"

namespace prereq::toolio {

namespace {

std::wstring SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n ? std::wstring(buffer, n) : L"error " + std::to_wstring(code);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return text;
}

void Write(DWORD which, std::wstring_view text) {
  const HANDLE stream = ::GetStdHandle(which);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (::GetConsoleMode(stream, &mode)) {
    DWORD written = 0;
    ::WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = EncodeUtf8(text);
  DWORD written = 0;
  ::WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>& bytes, std::wstring& error) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = SystemText(::GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x40000000) {
    error = L"the file is too large";
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() &&
      (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size())) {
    error = SystemText(::GetLastError());
    return false;
  }
  return true;
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes,
                    std::wstring& error) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = SystemText(::GetLastError());
    return false;
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    error = SystemText(::GetLastError());
    return false;
  }
  return true;
}

void CopyPermissions(const std::wstring&, const std::wstring&) {}

void Out(std::wstring_view text) { Write(STD_OUTPUT_HANDLE, text); }
void Err(std::wstring_view text) { Write(STD_ERROR_HANDLE, text); }

void OutUtf8(std::string_view bytes) {
  const HANDLE stream = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (::GetConsoleMode(stream, &mode)) {
    Out(DecodeUtf8(bytes));
    return;
  }
  DWORD written = 0;
  ::WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring FolderOfPath(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2) + L".";
    return L".";
  }
  if (slash == 2 && path[1] == L':') return path.substr(0, 3);
  return path.substr(0, slash);
}

bool ShippedFileExists(const std::wstring& folder, const std::wstring& relative) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path.push_back(L'\\');
  path += relative;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool SystemUpdateResources(const std::wstring& path, const std::vector<ResourceChange>& changes,
                           std::wstring& error) {
  HANDLE update = ::BeginUpdateResourceW(path.c_str(), FALSE);
  if (update == nullptr) {
    error = L"BeginUpdateResource: " + SystemText(::GetLastError());
    return false;
  }
  // Discards the changes unless they were all made and written.
  bool committed = false;
  ScopeGuard discard([&] {
    if (!committed) ::EndUpdateResourceW(update, TRUE);
  });
  auto idText = [](const ResourceId& id) {
    return id.isName ? id.name.c_str() : MAKEINTRESOURCEW(id.id);
  };
  for (const ResourceChange& change : changes) {
    const Resource& r = change.resource;
    void* data = change.remove ? nullptr : const_cast<uint8_t*>(r.data.data());
    const DWORD size = change.remove ? 0 : static_cast<DWORD>(r.data.size());
    if (!::UpdateResourceW(update, idText(r.type), idText(r.name), r.language, data, size)) {
      error = L"UpdateResource: " + SystemText(::GetLastError());
      return false;
    }
  }
  committed = true;
  if (!::EndUpdateResourceW(update, FALSE)) {
    error = L"EndUpdateResource: " + SystemText(::GetLastError());
    return false;
  }
  return true;
}

bool HaveSystemResourceUpdate() { return true; }

}  // namespace prereq::toolio
