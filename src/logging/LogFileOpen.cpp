#include "logging/LogFileOpen.h"

#include "logging/LogFileRules.h"
#include "platform/core/PathForms.h"

namespace prereq {

std::wstring FullPathOf(const std::wstring& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                                       buffer.data(), nullptr);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, L'\0');
  }
}

namespace {

// The final path of an open file or folder; empty when it cannot be read.
std::wstring FinalPathOf(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer.data(),
                                                static_cast<DWORD>(buffer.size()), 0);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n + 1, L'\0');
  }
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

LogFileOpening OpenLogFileSafely(const std::wstring& path) {
  LogFileOpening result;
  if (path.empty() || ExceedsPathLimit(path)) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return result;
  }
  const std::wstring full = FullPathOf(path);
  const size_t slash = full.rfind(L'\\');
  if (full.empty() || slash == std::wstring::npos || slash + 1 == full.size()) return result;
  const std::wstring folder = full.substr(0, slash);
  const std::wstring folderLong = ToLongPathForm(folder.size() == 2 ? folder + L"\\" : folder);

  OpenedLogFacts facts;
  // The folder's own attributes: a junction or linked folder is refused
  // before anything is created through it.
  const DWORD folderAttributes = ::GetFileAttributesW(folderLong.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) return result;
  facts.folderAttributes = folderAttributes;
  if (JudgeOpenedLogFile(facts) != LogFileVerdict::Usable) {
    result.refusal = LogFileVerdictText(JudgeOpenedLogFile(facts));
    return result;
  }
  // Held open without delete sharing: it cannot be renamed or replaced
  // while the file is opened and checked.
  FileHandle held(::CreateFileW(folderLong.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!held) return result;

  FileHandle file(::CreateFileW(ToLongPathForm(full).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const DWORD disposition = ::GetLastError();
  if (!file) return result;

  BY_HANDLE_FILE_INFORMATION folderInfo{}, fileInfo{};
  if (!::GetFileInformationByHandle(held.get(), &folderInfo) ||
      !::GetFileInformationByHandle(file.get(), &fileInfo)) {
    result.refusal = L"it cannot be examined";
    return result;
  }
  facts.folderAttributes = folderAttributes | folderInfo.dwFileAttributes;
  facts.fileAttributes = fileInfo.dwFileAttributes;
  facts.diskFile = ::GetFileType(file.get()) == FILE_TYPE_DISK;
  facts.linkCount = fileInfo.nNumberOfLinks;
  // Where the file really is: in the folder held open, not wherever a link
  // led (a link that was followed shows here).
  const std::wstring fileFinal = FinalPathOf(file.get());
  const std::wstring folderFinal = FinalPathOf(held.get());
  if (!fileFinal.empty() || !folderFinal.empty()) {
    const size_t fileSlash = fileFinal.rfind(L'\\');
    facts.inCheckedFolder = !fileFinal.empty() && !folderFinal.empty() &&
                            fileSlash != std::wstring::npos &&
                            SameText(fileFinal.substr(0, fileSlash), folderFinal);
  }
  const LogFileVerdict verdict = JudgeOpenedLogFile(facts);
  if (verdict != LogFileVerdict::Usable) {
    result.refusal = LogFileVerdictText(verdict);
    return result;
  }
  result.file = std::move(file);
  result.disposition = disposition;
  return result;
}

}  // namespace prereq
