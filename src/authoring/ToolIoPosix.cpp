// The tools' platform services on Linux and other POSIX systems.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "authoring/ToolIo.h"
#include "platform/core/TextCodec.h"

namespace prereq::toolio {

namespace {

std::filesystem::path PathOf(const std::wstring& path) {
  return std::filesystem::path(EncodeUtf8(path));
}

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

void Write(std::FILE* stream, std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

}  // namespace

bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>& bytes, std::wstring& error) {
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) {
    error = L"cannot open the file";
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = L"cannot read the file";
    return false;
  }
  return true;
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes,
                    std::wstring& error) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  if (!out) {
    error = L"cannot create the file";
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = L"cannot write the file";
    return false;
  }
  return true;
}

void CopyPermissions(const std::wstring& from, const std::wstring& to) {
  std::error_code ec;
  const auto status = std::filesystem::status(PathOf(from), ec);
  if (!ec) std::filesystem::permissions(PathOf(to), status.permissions(), ec);
}

void Out(std::wstring_view text) { Write(stdout, EncodeUtf8(text)); }
void Err(std::wstring_view text) { Write(stderr, EncodeUtf8(text)); }
void OutUtf8(std::string_view bytes) { Write(stdout, bytes); }

std::wstring FolderOfPath(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  if (slash == std::wstring::npos) return L".";
  return slash == 0 ? L"/" : path.substr(0, slash);
}

bool ShippedFileExists(const std::wstring& folder, const std::wstring& relative) {
  std::filesystem::path at = PathOf(folder);
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = relative.size();
    const std::wstring piece = relative.substr(start, end - start);
    start = end + 1;
    if (piece.empty() || piece == L".") continue;
    if (piece == L"..") {
      at = at / "..";
      continue;
    }
    std::error_code ec;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(at, ec)) {
      if (EqualsNoCase(DecodeUtf8(entry.path().filename().string()), piece)) {
        at = entry.path();
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  std::error_code ec;
  return std::filesystem::is_regular_file(at, ec);
}

bool SystemUpdateResources(const std::wstring&, const std::vector<ResourceChange>&,
                           std::wstring& error) {
  error = L"this system has no resource update functions";
  return false;
}

bool HaveSystemResourceUpdate() { return false; }

}  // namespace prereq::toolio
