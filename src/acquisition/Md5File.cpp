// The digest of a downloaded file for its acceptance.
#include <windows.h>

#include <memory>

#include "acquisition/Md5.h"
#include "platform/core/Handles.h"

namespace prereq {

bool Md5OfFileForAcceptance(const std::wstring& path, std::string& digest) {
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return false;

  constexpr DWORD kBlock = 65536;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
  Md5 md5;
  uint64_t left = static_cast<uint64_t>(size.QuadPart);
  while (left != 0) {
    const DWORD want = left < kBlock ? static_cast<DWORD>(left) : kBlock;
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.get(), want, &got, nullptr)) return false;
    if (got == 0) return false;  // the file became shorter while it was read
    md5.Update(buffer.get(), got);
    left -= got;
  }
  digest = Md5Hex(md5.Final());
  return true;
}

}  // namespace prereq
