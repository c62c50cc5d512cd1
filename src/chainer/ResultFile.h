#pragma once
// The result file: the JSON account of a run for deployment tools. When the
// run starts, a temporary file beside the configured path is opened the way
// the log is opened (never through a link) and kept open; at the end the
// text is written into it and the file is renamed over the configured path,
// so that a reader never sees half a file. Should the run end through the
// crash handling, the last account the run handed over is written instead,
// without allocating memory.
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "chainer/RunReportRules.h"
#include "platform/core/Handles.h"
#include "platform/core/LinkFreePaths.h"

namespace prereq {

// The current time in UTC.
UtcTime CurrentUtcTime();

class ResultFile {
 public:
  ResultFile();
  // A file prepared and never committed: its temporary file is deleted.
  ~ResultFile();
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // Opens the temporary file "<path>.<process id in hex>.tmp" in the folder
  // of `path` (a relative path is taken from the current folder). 0, or why
  // nothing will be written: a system error, or ERROR_CANT_ACCESS_FILE when
  // the folder or the temporary file is a link (`refusal` says which), or
  // ERROR_INVALID_NAME for a path that ends with a backslash. The folder is
  // not created. Call once.
  uint32_t Prepare(const std::wstring& path, std::wstring& refusal);
  bool Prepared() const { return state_.load() == State::Prepared; }
  // The full path of the result file.
  const std::wstring& Path() const { return path_; }

  // Keeps `text` as the account that the crash handling writes. It must hold
  // the member "end" with the time 0000-00-00T00:00:00Z, which is replaced
  // by the time of the crash then. Any thread.
  void SetCrashText(std::string text);

  // Writes `text` into the temporary file and renames it over the result
  // file, replacing a file there (a link there is replaced, not followed; a
  // folder there makes the rename fail). On failure the temporary file is
  // deleted. 0 or the system error. Once: later calls answer
  // ERROR_INVALID_FUNCTION.
  uint32_t Commit(std::string_view text);

  // For the crash handling of the process: commits the last crash text with
  // the current time as its end, when a file is prepared and nothing was
  // committed. Allocates nothing; waits at most about 2 s for a thread that
  // is handing over a text.
  static void CommitCrashTextOfProcess() noexcept;

 private:
  enum class State { Idle, Prepared, Committing, Done };
  uint32_t WriteAndRename(const char* data, size_t size) noexcept;
  void CommitCrashText() noexcept;

  std::atomic<State> state_{State::Idle};
  std::wstring path_;
  std::wstring longPath_;      // path_ in the long-path form, for the rename
  std::wstring longTempPath_;  // the temporary file, in the long-path form
  LinkFreeFile file_;  // the temporary file, with its folders held

  // The crash text, twice: the one being replaced and the one in force.
  CriticalSection crashLock_;
  std::string crashText_[2];
  size_t crashEndOffset_[2] = {0, 0};  // where the end time's digits begin; 0: none
  std::atomic<int> crashActive_{-1};
};

}  // namespace prereq
