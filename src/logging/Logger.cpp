#include "logging/Logger.h"

#include <cpuid.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>

#include "chainer/ModulePaths.h"
#include "evaluation/OsInfo.h"
#include "logging/LogFormat.h"
#include "platform/core/FailurePoints.h"
#include "platform/core/LinkFreePaths.h"
#include "platform/core/Security.h"
#include "platform/core/WinText.h"

namespace prereq {

bool loggingEnabled = false;

namespace {

std::wstring ProcessorName() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0x80000000u, a, b, c, d);
  uint32_t highest = a;
  char brand[48] = {};
  if (highest >= 0x80000004u) {
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
      unsigned regs[4];
      __cpuid(0x80000002u + leaf, regs[0], regs[1], regs[2], regs[3]);
      memcpy(brand + leaf * 16, regs, 16);
    }
  }
  return ProcessorNameFromBrand(highest, brand);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  if (FAILED(::SHGetKnownFolderPath(id, 0, nullptr, &raw))) {
    ::CoTaskMemFree(raw);
    return {};
  }
  std::wstring path(raw);
  ::CoTaskMemFree(raw);
  return path;
}

// Write errors are ignored.
void Write(HANDLE file, std::wstring_view text) {
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
              nullptr);
}

}  // namespace

Logger::Environment Logger::DefaultEnvironment() {
  Environment env;
  env.programDataFolder = [] { return KnownFolder(FOLDERID_ProgramData); };
  env.modulePath = [] {
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, n < MAX_PATH ? n : 0);
  };
  env.userTempFolder = [] {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH, buffer);
    return n > 0 && n <= MAX_PATH ? std::wstring(buffer, n) : std::wstring();
  };
  env.debugOutput = [](const std::wstring& text) { ::OutputDebugStringW(text.c_str()); };
  env.flushFile = [](HANDLE file) { ::FlushFileBuffers(file); };
  return env;
}

Logger::Logger() : Logger(DefaultEnvironment()) {}

Logger::Logger(Environment env) : env_(std::move(env)) {}

Logger::~Logger() { Finish(false); }

void Logger::SetLogFile(const std::wstring& path) {
  RecoverableLockHold hold(lock_);
  env_.debugOutput(L"Logger::SetLogFile( " + path + L" ) while OLD path is:" + path_);
  if (!file_) path_ = path;
}

void Logger::WriteLine(std::wstring_view text) {
  RecoverableLockHold hold(lock_);
  ReachFailurePoint(FailurePoint::LogLine);
  WriteLocked(text);
}

namespace {
std::wstring StampNow() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return FormatLogTimestamp({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond});
}
}  // namespace

void Logger::WriteLines(const std::vector<StampedLine>& lines) {
  RecoverableLockHold hold(lock_);
  if (finished_ || lines.empty()) return;
  if (!file_ && !OpenLocked()) return;
  std::wstring block;
  bool flush = false;
  for (const StampedLine& line : lines) {
    block += line.stamp;
    block += L'-';
    block += line.text;
    block += L"\r\n";
    flush = flush || IsLogFlushPoint(line.text);
  }
  Write(file_.get(), block);
  if (flush) FlushLocked();
}

void Logger::WriteLocked(std::wstring_view text) { WriteStampedLocked(StampNow(), text); }

void Logger::WriteStampedLocked(const std::wstring& stamp, std::wstring_view text) {
  if (finished_) return;
  if (!file_ && !OpenLocked()) return;
  std::wstring line = stamp;
  line += L'-';
  line += text;
  line += L"\r\n";
  // One write per line: what was written survives the process being ended
  // abruptly. Flushing to disk, which costs more than the write itself, waits
  // for the lines that matter.
  Write(file_.get(), line);
  if (IsLogFlushPoint(text)) FlushLocked();
}

void Logger::Flush() {
  RecoverableLockHold hold(lock_);
  FlushLocked();
}

void Logger::FlushLocked() {
  if (!file_) return;
  if (env_.flushFile) {
    env_.flushFile(file_.get());
  } else {
    ::FlushFileBuffers(file_.get());
  }
}

void Logger::Finish(bool writeClosingLine) {
  RecoverableLockHold hold(lock_);
  if (finished_) return;
  if (writeClosingLine) WriteLocked(kLogClosingLine);
  file_.reset();
  finished_ = true;
}

std::wstring Logger::CurrentPath() {
  RecoverableLockHold hold(lock_);
  return path_;
}

bool Logger::IsOpen() {
  RecoverableLockHold hold(lock_);
  return file_.valid();
}

std::wstring Logger::NextFallbackLocked(int index) {
  std::wstring modulePath = env_.modulePath();
  std::wstring defaultName = ReplaceExtension(FileNameOf(modulePath), L"LOG");
  switch (index) {
    case 0: {
      std::wstring base = env_.programDataFolder();
      if (base.empty()) return {};
      std::wstring folder = base + L"\\" + std::wstring(kLogFolderName);
      if (!IsFolder(folder) && !CreateFolderWithSddl(folder, L"D:(A;OICI;GA;;;WD)")) return {};
      return folder + L"\\" + defaultName;
    }
    case 1:
      if (modulePath.empty()) return {};
      return FolderOf(modulePath).empty()
                 ? ReplaceExtension(modulePath, L"LOG")
                 : FolderOf(modulePath) + L"\\" + ReplaceExtension(FileNameOf(modulePath), L"LOG");
    case 2: {
      std::wstring temp = env_.userTempFolder();
      if (temp.empty()) return {};
      std::wstring folder = temp + std::wstring(kLogFolderName);
      // A folder left by an earlier run serves as well as a new one.
      if (!::CreateDirectoryW(folder.c_str(), nullptr) &&
          !(::GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(folder)))
        return {};
      return folder + L"\\" + defaultName;
    }
    default:
      return {};
  }
}

bool Logger::OpenLocked() {
  int nextFallback = 0;
  for (;;) {
    if (path_.empty()) {
      path_ = NextFallbackLocked(nextFallback++);
      if (path_.empty()) return false;
    }
    // Never through a link: log folders can be made by any user (the
    // fallback under ProgramData grants everyone full access, the system
    // account's temporary folder lets users make folders), and a chainer
    // running as LocalSystem must not append to whatever file a junction, a
    // symbolic link or a hard link there leads to.
    LinkFreeFile opened;
    const DWORD rc = OpenFileLinkFree(path_, GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      LinkFreeDisposition::OpenAlways, opened);
    if (rc != 0) {
      if (!opened.refusal.empty())
        env_.debugOutput(L"LOGGER->refused LOG at:" + path_ + L" (" + opened.refusal + L")");
      env_.debugOutput(L"LOGGER->failed to create LOG at:" + path_);
      path_.clear();
      continue;
    }
    // Written through its handle from now on: the folders need not stay held.
    FileHandle file = std::move(opened.file);
    if (!opened.created) {
      env_.debugOutput(L"LOGGER->Reusing LOG file at:" + path_ + L"\r\n");
      LARGE_INTEGER zero{};
      ::SetFilePointerEx(file.get(), zero, nullptr, FILE_END);
    } else {
      env_.debugOutput(L"LOGGER->Creating LOG file at:" + path_ + L"\r\n");
      Write(file.get(), L"\uFEFF");
    }
    file_ = std::move(file);
    Write(file_.get(), FormatLogHeader(GetOsInfo(), ProcessorName()));
    return true;
  }
}

namespace {
// Finishes the log at process exit: the closing line when logging is on.
struct LoggerHolder {
  Logger logger;
  ~LoggerHolder() { logger.Finish(loggingEnabled); }
};
std::atomic<Logger*> theLogger{nullptr};
}  // namespace

Logger& TheLogger() {
  static LoggerHolder holder;
  theLogger = &holder.logger;
  return holder.logger;
}

int LogLockDepthOnThisThread() {
  Logger* logger = theLogger;
  return logger != nullptr ? logger->lock_.DepthOnThisThread() : 0;
}

void ReleaseLogLockOnThisThreadTo(int depth) {
  if (Logger* logger = theLogger) logger->lock_.ReleaseOnThisThreadTo(depth);
}

namespace {
// The block that collects this thread's lines, when one does.
thread_local LogBlock* t_block = nullptr;
}  // namespace

void WriteLine(std::wstring_view text) {
  if (!loggingEnabled) return;
  if (t_block != nullptr)
    t_block->Add(text);
  else
    TheLogger().WriteLine(text);
}

LogBlock::LogBlock() : outer_(t_block) { t_block = this; }

LogBlock::~LogBlock() {
  Write();
  t_block = outer_;
}

void LogBlock::Add(std::wstring_view text) { lines_.push_back({StampNow(), std::wstring(text)}); }

void LogBlock::Write() {
  if (lines_.empty()) return;
  if (outer_ != nullptr) {
    for (Logger::StampedLine& line : lines_) outer_->lines_.push_back(std::move(line));
  } else {
    TheLogger().WriteLines(lines_);
  }
  lines_.clear();
}

}  // namespace prereq
