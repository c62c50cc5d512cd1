#include "platform/core/LinkFreePaths.h"

#include <memory>
#include <optional>
#include <vector>

#include "platform/core/PathForms.h"

namespace prereq {

namespace {

constexpr DWORD kOpenFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// Folders are held shared for reading and writing, not for deletion: on
// Windows nobody can rename or delete them while they are held.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAnyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kWritingAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA |
                                 DELETE | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kCopyBlock = 1 << 20;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

// The final path of an open file or folder; empty when it cannot be read.
// Wine answers only up to MAX_PATH characters: beyond, the path below the
// volume root that the handle names is put after the volume root's own final
// path, when the handle lies on that volume (same serial number).
std::wstring FinalPathOfHandle(HANDLE handle, const HeldVolume& volume) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int round = 0; round < 2; ++round) {
    const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer.data(),
                                                static_cast<DWORD>(buffer.size()), 0);
    if (n == 0) break;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n + 1, L'\0');
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (volume.finalPath.empty() || !::GetFileInformationByHandle(handle, &info) ||
      info.dwVolumeSerialNumber != volume.serial)
    return {};
  std::vector<unsigned char> name(sizeof(FILE_NAME_INFO) + 65536);
  auto* nameInfo = reinterpret_cast<FILE_NAME_INFO*>(name.data());
  if (!::GetFileInformationByHandleEx(handle, FileNameInfo, nameInfo, static_cast<DWORD>(name.size())))
    return {};
  std::wstring out = volume.finalPath;
  if (!out.empty() && out.back() == L'\\') out.pop_back();
  out.append(nameInfo->FileName, nameInfo->FileNameLength / sizeof(wchar_t));
  return out;
}

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring_view LastName(std::wstring_view path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

// The name of the entry at `path` as its folder spells it, taken from the
// final path `finalPath` when the given name is the same in another case,
// without its trailing dots and blanks (Wine drops them from the names it
// reports, also of literal long-form paths), or is its short (8.3) name; the
// given name otherwise.
std::wstring EntryNameOf(const std::wstring& path, const std::wstring& finalPath) {
  const std::wstring_view given = LastName(path);
  const std::wstring_view final = LastName(finalPath);
  if (SameIgnoringCase(given, final)) return std::wstring(final);
  std::wstring_view trimmed = given;
  while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.remove_suffix(1);
  if (!trimmed.empty() && trimmed.size() != given.size() && SameIgnoringCase(trimmed, final))
    return std::wstring(final);
  if (given.find(L'~') != std::wstring_view::npos) {
    WIN32_FIND_DATAW data{};
    FindHandle find(::FindFirstFileW(ToLongPathForm(path).c_str(), &data));
    if (find && SameIgnoringCase(given, data.cAlternateFileName)) return data.cFileName;
  }
  return std::wstring(given);
}

// Judges what `handle` opened at `path`, below the folder whose final path is
// `parentFinal`. `finalPath` receives the handle's final path.
ComponentVerdict Judge(HANDLE handle, const std::wstring& path, const HeldVolume& volume,
                       const std::wstring& parentFinal, bool wantFolder, bool singleName,
                       std::wstring& finalPath) {
  ComponentFacts facts;
  facts.wantFolder = wantFolder;
  facts.singleNameRequired = singleName;
  // By name: Wine shows its Unix links to folders only there.
  const DWORD entryAttributes = ::GetFileAttributesW(ToLongPathForm(path).c_str());
  if (entryAttributes == INVALID_FILE_ATTRIBUTES) return ComponentVerdict::ElsewhereOnDisk;  // gone
  facts.entryAttributes = entryAttributes;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return ComponentVerdict::ElsewhereOnDisk;
  facts.handleAttributes = info.dwFileAttributes;
  facts.linkCount = info.nNumberOfLinks;
  // Opened without following it, a reparse point tells its kind (cloud
  // placeholders and deduplicated files are no links); the entry is that
  // same reparse point. Known only where the handle shows it (not on Wine).
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
    facts.handleTag = tag.ReparseTag;
    facts.entryTag = tag.ReparseTag;
  }
  facts.diskFile = wantFolder || ::GetFileType(handle) == FILE_TYPE_DISK;
  finalPath = FinalPathOfHandle(handle, volume);
  facts.finalPath = finalPath;
  facts.parentFinalPath = parentFinal;
  const std::wstring entryName = EntryNameOf(path, finalPath);
  facts.entryName = entryName;
  return JudgeComponent(facts);
}

std::wstring RefusalText(const std::wstring& path, ComponentVerdict verdict) {
  return path + L": " + ComponentVerdictText(verdict);
}

// Opens one folder on the way down without following a link in its name.
FileHandle OpenFolder(const std::wstring& path) {
  return FileHandle(::CreateFileW(ToLongPathForm(path).c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  kFolderShare, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
}

bool Writes(DWORD access) { return (access & kWritingAccess) != 0; }

DWORD DeleteByHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
    return LastErrorOr(ERROR_ACCESS_DENIED);
  return 0;
}

// Opens `path` with DELETE access for removal: a file, or with `folder` a
// folder. The handle is judged like every other component.
DWORD OpenForRemoval(const std::wstring& path, bool folder, LinkFreeFile& out) {
  out.Release();
  const std::wstring full = FullPathOf(path);
  const std::optional<ParentAndName> parts = SplitParentAndName(full);
  if (!parts) return ERROR_INVALID_NAME;
  if (const DWORD rc = HoldFolders(parts->folder, out.folders, nullptr, &out.refusal)) return rc;
  out.path = full;
  out.file.reset(::CreateFileW(ToLongPathForm(full).c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               kAnyShare, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
  if (!out.file) return LastErrorOr(ERROR_FILE_NOT_FOUND);
  std::wstring finalPath;
  const ComponentVerdict verdict = Judge(out.file.get(), full, out.folders.Volume(),
                                         out.folders.FinalPath(), folder, false, finalPath);
  if (verdict != ComponentVerdict::Usable) {
    out.refusal = ComponentVerdictText(verdict);
    out.Release();
    return folder && verdict == ComponentVerdict::NotAFolder ? ERROR_DIRECTORY
           : !folder && verdict == ComponentVerdict::NotAFile ? ERROR_ACCESS_DENIED
                                                              : kErrorPathHasLink;
  }
  return 0;
}

// Copies every byte of `from` into `to` (both open) from their starts.
DWORD CopyContent(HANDLE from, HANDLE to) {
  std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(from, buffer.get(), kCopyBlock, &got, nullptr)) return LastErrorOr(ERROR_READ_FAULT);
    if (got == 0) return 0;
    DWORD put = 0;
    if (!::WriteFile(to, buffer.get(), got, &put, nullptr) || put != got)
      return LastErrorOr(ERROR_WRITE_FAULT);
  }
}

}  // namespace

void HeldFolders::Release() {
  while (!handles_.empty()) handles_.pop_back();  // innermost first
  volume_ = {};
  folder_.clear();
  finalPath_.clear();
}

void LinkFreeFile::Release() {
  file.reset();
  folders.Release();
}

std::wstring FullPathOf(const std::wstring& path) {
  if (path.empty()) return {};
  // A path in its long form (given so, or longer than 247 characters) is
  // taken by the platform as written, trailing dots included.
  std::wstring longForm = ToLongPathForm(path);
  if (longForm.compare(0, 4, L"\\\\?\\") == 0) return longForm;
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

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ToLongPathForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(ToLongPathForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

DWORD HoldFolders(const std::wstring& folder, HeldFolders& out, std::vector<std::wstring>* created,
                  std::wstring* refusal) {
  out.Release();
  if (ExceedsPathLimit(folder)) return ERROR_FILENAME_EXCED_RANGE;
  const std::wstring full = FullPathOf(folder);
  const std::optional<VolumePath> split = SplitAtVolumeRoot(full);
  if (!split) return full.empty() ? LastErrorOr(ERROR_INVALID_NAME) : ERROR_INVALID_NAME;

  // The volume root is where the walk starts; it is never judged (under
  // Wine a drive is itself a link into the Unix file system).
  FileHandle root(::CreateFileW(split->root.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, kFolderShare,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!root) return LastErrorOr(ERROR_PATH_NOT_FOUND);
  HeldVolume volume;
  BY_HANDLE_FILE_INFORMATION rootInfo{};
  if (::GetFileInformationByHandle(root.get(), &rootInfo)) volume.serial = rootInfo.dwVolumeSerialNumber;
  volume.finalPath = FinalPathOfHandle(root.get(), HeldVolume{});
  std::wstring parentFinal = volume.finalPath;
  std::vector<FileHandle> handles;
  handles.push_back(std::move(root));

  for (size_t i = 0; i < split->names.size(); ++i) {
    const std::wstring path = split->Prefix(i + 1);
    FileHandle handle = OpenFolder(path);
    if (!handle) {
      const DWORD error = LastErrorOr(ERROR_PATH_NOT_FOUND);
      const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      if (!missing || created == nullptr) return missing ? ERROR_PATH_NOT_FOUND : error;
      // Made inside the folder held above; a name somebody made meanwhile
      // is judged below like any other.
      if (::CreateDirectoryW(ToLongPathForm(path).c_str(), nullptr)) {
        created->push_back(path);
      } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return LastErrorOr(ERROR_PATH_NOT_FOUND);
      }
      handle = OpenFolder(path);
      if (!handle) return LastErrorOr(ERROR_PATH_NOT_FOUND);
    }
    std::wstring finalPath;
    const ComponentVerdict verdict = Judge(handle.get(), path, volume, parentFinal, true, false, finalPath);
    if (verdict != ComponentVerdict::Usable) {
      if (refusal != nullptr) *refusal = RefusalText(path, verdict);
      return verdict == ComponentVerdict::NotAFolder ? ERROR_DIRECTORY : kErrorPathHasLink;
    }
    parentFinal = std::move(finalPath);
    handles.push_back(std::move(handle));
  }
  out.handles_ = std::move(handles);
  out.volume_ = std::move(volume);
  out.folder_ = full;
  out.finalPath_ = std::move(parentFinal);
  return 0;
}

DWORD OpenFileLinkFree(const std::wstring& path, DWORD access, DWORD share,
                       LinkFreeDisposition disposition, LinkFreeFile& out) {
  out.Release();
  out.created = false;
  out.refusal.clear();
  if (ExceedsPathLimit(path)) return ERROR_FILENAME_EXCED_RANGE;
  const std::wstring full = FullPathOf(path);
  const std::optional<ParentAndName> parts = SplitParentAndName(full);
  if (!parts) return full.empty() ? LastErrorOr(ERROR_INVALID_NAME) : ERROR_INVALID_NAME;
  if (const DWORD rc = HoldFolders(parts->folder, out.folders, nullptr, &out.refusal)) return rc;
  out.path = full;

  const std::wstring longPath = ToLongPathForm(full);
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  // Opened when it exists, created when it does not; a file that appears or
  // goes between the two tries once more.
  for (int attempt = 0; attempt < 4 && !out.file; ++attempt) {
    if (disposition != LinkFreeDisposition::CreateNew) {
      out.file.reset(::CreateFileW(longPath.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
      if (out.file) break;
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND || disposition == LinkFreeDisposition::OpenExisting) {
        out.Release();
        return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
      }
    }
    out.file.reset(::CreateFileW(longPath.c_str(), access, share, nullptr, CREATE_NEW, flags, nullptr));
    if (out.file) {
      out.created = true;
      break;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS || disposition == LinkFreeDisposition::CreateNew) {
      out.Release();
      return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
    }
  }
  if (!out.file) {
    out.Release();
    return ERROR_OPEN_FAILED;
  }

  std::wstring finalPath;
  const ComponentVerdict verdict = Judge(out.file.get(), full, out.folders.Volume(),
                                         out.folders.FinalPath(), false, Writes(access), finalPath);
  if (verdict != ComponentVerdict::Usable) {
    out.refusal = ComponentVerdictText(verdict);
    const bool created = out.created;
    out.Release();
    if (created) DeleteFileLinkFree(full);
    return verdict == ComponentVerdict::NotAFile ? ERROR_ACCESS_DENIED : kErrorPathHasLink;
  }
  if (disposition == LinkFreeDisposition::CreateAlways && !out.created) {
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(out.file.get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(out.file.get())) {
      const DWORD error = LastErrorOr(ERROR_WRITE_FAULT);
      out.Release();
      return error;
    }
  }
  return 0;
}

DWORD DeleteFileLinkFree(const std::wstring& path) {
  LinkFreeFile file;
  if (const DWORD rc = OpenForRemoval(path, false, file)) return rc;
  return DeleteByHandle(file.file.get());
}

DWORD RemoveFolderLinkFree(const std::wstring& path) {
  LinkFreeFile folder;
  if (const DWORD rc = OpenForRemoval(path, true, folder)) return rc;
  // Only an empty folder goes (Windows refuses the others itself; Wine would
  // only find out when the handle is closed).
  WIN32_FIND_DATAW data{};
  FindHandle find(::FindFirstFileW(ToLongPathForm(folder.path + L"\\*").c_str(), &data));
  if (find) {
    do {
      const std::wstring_view name = data.cFileName;
      if (name != L"." && name != L"..") return ERROR_DIR_NOT_EMPTY;
    } while (::FindNextFileW(find.get(), &data));
  }
  return DeleteByHandle(folder.file.get());
}

DWORD RenameLinkFree(LinkFreeFile& file, const std::wstring& target) {
  if (!file.file) return ERROR_INVALID_HANDLE;
  if (ExceedsPathLimit(target)) return ERROR_FILENAME_EXCED_RANGE;
  const std::wstring full = FullPathOf(target);
  const std::optional<ParentAndName> parts = SplitParentAndName(full);
  if (!parts) return full.empty() ? LastErrorOr(ERROR_INVALID_NAME) : ERROR_INVALID_NAME;
  HeldFolders targetFolders;
  if (const DWORD rc = HoldFolders(parts->folder, targetFolders, nullptr, &file.refusal)) return rc;
  // The native call takes the target as a native path; Wine does not take
  // it relative to a folder handle.
  const std::wstring native = NativePathOf(full);
  if (native.empty()) return ERROR_INVALID_NAME;
  const size_t bytes = native.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  memcpy(info->FileName, native.data(), bytes);
  if (!::SetFileInformationByHandle(file.file.get(), FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size())))
    return LastErrorOr(ERROR_ACCESS_DENIED);
  file.folders = std::move(targetFolders);
  file.path = full;
  return 0;
}

DWORD MoveIntoPlaceLinkFree(const std::wstring& from, const std::wstring& target) {
  {
    LinkFreeFile source;
    DWORD rc = OpenFileLinkFree(from, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kAnyShare,
                                LinkFreeDisposition::OpenExisting, source);
    if (rc != 0) return rc;
    rc = RenameLinkFree(source, target);
    if (rc == 0 || rc == kErrorPathHasLink) return rc;
  }
  // Renaming was not possible: the bytes go over, through judged handles.
  LinkFreeFile source, copy;
  DWORD rc = OpenFileLinkFree(from, GENERIC_READ, FILE_SHARE_READ, LinkFreeDisposition::OpenExisting, source);
  if (rc != 0) return rc;
  rc = OpenFileLinkFree(target, GENERIC_WRITE, FILE_SHARE_READ, LinkFreeDisposition::CreateAlways, copy);
  if (rc != 0) return rc;
  rc = CopyContent(source.file.get(), copy.file.get());
  const std::wstring copyPath = copy.path;
  copy.Release();
  source.Release();
  if (rc != 0) {
    DeleteFileLinkFree(copyPath);  // no partial copy under the target's name
    return rc;
  }
  DeleteFileLinkFree(from);
  return 0;
}

DWORD CreateParentFolders(const std::wstring& filePath, std::vector<std::wstring>* created) {
  const std::wstring full = FullPathOf(filePath);
  const std::optional<ParentAndName> parts = SplitParentAndName(full);
  if (!parts) return full.empty() ? LastErrorOr(ERROR_INVALID_NAME) : ERROR_INVALID_NAME;
  std::vector<std::wstring> made;
  HeldFolders held;
  const DWORD rc = HoldFolders(parts->folder, held, &made);
  // Listed in the form the caller gave: a long path stays long only when
  // it was given so.
  const bool givenLong = filePath.compare(0, 4, L"\\\\?\\") == 0;
  if (created != nullptr)
    for (const std::wstring& folder : made) created->push_back(givenLong ? folder : FromLongPathForm(folder));
  return rc;
}

}  // namespace prereq
