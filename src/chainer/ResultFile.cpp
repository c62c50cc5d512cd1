#include "chainer/ResultFile.h"

#include "platform/core/LinkFreePaths.h"
#include "platform/core/PathForms.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

// --- The file system: the temporary file is opened without a link on the
// way (its folders stay held until the rename), and renamed into place.
// These two functions are the only places where the result file reaches the
// file system.

// Opens `path` for writing without ever going through a link: its folder
// must exist, and neither it, a folder above it nor the file may be a link;
// the file must be a plain file with one name. An existing file is reused
// (Commit cuts it).
uint32_t OpenWithoutLinks(const std::wstring& path, LinkFreeFile& out, std::wstring& refusal) {
  const DWORD error =
      OpenFileLinkFree(path, GENERIC_WRITE, FILE_SHARE_READ, LinkFreeDisposition::OpenAlways, out);
  if (error == kErrorPathHasLink) refusal = out.refusal;
  return error;
}

// Renames `from` over `to` in the same folder, whose folders the open
// temporary file holds: none of them can become a link meanwhile. A file at
// `to` is replaced (so is a link there: the rename replaces the name, it
// writes nothing through it); a folder at `to` makes it fail. Allocates
// nothing.
uint32_t RenameOver(const wchar_t* from, const wchar_t* to) noexcept {
  if (::MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  return ::GetLastError();
}

// ---

// The crash handling of the process reaches the prepared file through this.
std::atomic<ResultFile*> processResultFile{nullptr};

constexpr std::string_view kEndMember = "\"end\": \"";
constexpr int kCrashLockAttempts = 100;  // at 20 ms each
constexpr DWORD kCrashLockPauseMs = 20;

}  // namespace

UtcTime CurrentUtcTime() {
  SYSTEMTIME st{};
  ::GetSystemTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

ResultFile::ResultFile() = default;

ResultFile::~ResultFile() {
  ResultFile* self = this;
  processResultFile.compare_exchange_strong(self, nullptr);
  State prepared = State::Prepared;
  if (state_.compare_exchange_strong(prepared, State::Done)) {
    file_.file.reset();
    ::DeleteFileW(longTempPath_.c_str());
    file_.folders.Release();
  }
}

uint32_t ResultFile::Prepare(const std::wstring& path, std::wstring& refusal) {
  refusal.clear();
  if (state_.load() != State::Idle) return ERROR_INVALID_FUNCTION;
  path_ = FullPathOf(path);
  // A folder's name is no file's.
  if (path_.empty() || path_.back() == L'\\' || path_.back() == L'/') return ERROR_INVALID_NAME;
  const std::wstring temp = path_ + Format(L".%x.tmp", {static_cast<uint32_t>(::GetCurrentProcessId())});
  if (ExceedsPathLimit(temp)) return ERROR_FILENAME_EXCED_RANGE;
  if (const uint32_t error = OpenWithoutLinks(temp, file_, refusal); error != 0) return error;
  longPath_ = ToLongPathForm(path_);
  longTempPath_ = ToLongPathForm(temp);
  state_ = State::Prepared;
  processResultFile = this;
  return 0;
}

void ResultFile::SetCrashText(std::string text) {
  const size_t at = text.find(kEndMember);
  CriticalSectionLock hold(crashLock_);
  // The text in force stays whole while the other one is replaced.
  const int slot = crashActive_.load() == 0 ? 1 : 0;
  crashText_[slot] = std::move(text);
  crashEndOffset_[slot] = at == std::string::npos ? 0 : at + kEndMember.size();
  crashActive_ = slot;
}

uint32_t ResultFile::WriteAndRename(const char* data, size_t size) noexcept {
  uint32_t error = 0;
  DWORD written = 0;
  const HANDLE file = file_.file.get();
  if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size ||
      !::SetEndOfFile(file) || !::FlushFileBuffers(file)) {
    error = ::GetLastError();
    if (error == 0) error = ERROR_WRITE_FAULT;  // a short write
  }
  file_.file.reset();
  if (error == 0) error = RenameOver(longTempPath_.c_str(), longPath_.c_str());
  if (error != 0) ::DeleteFileW(longTempPath_.c_str());
  file_.folders.Release();
  state_ = State::Done;
  return error;
}

uint32_t ResultFile::Commit(std::string_view text) {
  State prepared = State::Prepared;
  if (!state_.compare_exchange_strong(prepared, State::Committing)) return ERROR_INVALID_FUNCTION;
  if (text.size() > MAXDWORD) {
    file_.file.reset();
    ::DeleteFileW(longTempPath_.c_str());
    file_.folders.Release();
    state_ = State::Done;
    return ERROR_FILE_TOO_LARGE;
  }
  return WriteAndRename(text.data(), text.size());
}

void ResultFile::CommitCrashText() noexcept {
  State prepared = State::Prepared;
  if (!state_.compare_exchange_strong(prepared, State::Committing)) return;
  // A thread that is handing over a text holds the lock for a moment; the
  // lock is kept from here on, so that no text changes any more.
  for (int i = 0; i < kCrashLockAttempts && !crashLock_.TryEnter(); ++i) ::Sleep(kCrashLockPauseMs);
  const int slot = crashActive_.load();
  if (slot < 0) {
    file_.file.reset();
    ::DeleteFileW(longTempPath_.c_str());
    file_.folders.Release();
    state_ = State::Done;
    return;
  }
  std::string& text = crashText_[slot];
  const size_t at = crashEndOffset_[slot];
  if (at != 0 && at + kUtcTimeLength <= text.size()) {
    char end[kUtcTimeLength];
    WriteUtcTime(CurrentUtcTime(), end);
    for (size_t i = 0; i < kUtcTimeLength; ++i) text[at + i] = end[i];
  }
  WriteAndRename(text.data(), text.size());
}

void ResultFile::CommitCrashTextOfProcess() noexcept {
  if (ResultFile* file = processResultFile.load()) file->CommitCrashText();
}

}  // namespace prereq
