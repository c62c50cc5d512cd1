#pragma once
// The process-wide diagnostic log: a UTF-16 LE file of time-stamped lines,
// opened at the first line, with a machine header each time it is opened.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Handles.h"

namespace prereq {

// Set by the start-up flow when the configuration names a log file; every
// caller tests it before building a log line.
extern bool loggingEnabled;

class Logger {
 public:
  // Where the fallback candidates come from; tests substitute their own.
  struct Environment {
    std::function<std::wstring()> programDataFolder;  // empty when unavailable
    std::function<std::wstring()> modulePath;
    std::function<std::wstring()> userTempFolder;     // as GetTempPathW answers it
    std::function<void(const std::wstring&)> debugOutput;
    std::function<void(HANDLE)> flushFile;  // FlushFileBuffers when empty
  };
  static Environment DefaultEnvironment();

  Logger();
  explicit Logger(Environment env);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Remembers the log path; a file that is already open stays in use.
  void SetLogFile(const std::wstring& path);
  // Writes "<stamp>-<text>\r\n" with one write, opening the file first when
  // none is open. The line is flushed to disk when IsLogFlushPoint says so.
  void WriteLine(std::wstring_view text);
  // A line stamped when it was composed, for WriteLines.
  struct StampedLine {
    std::wstring stamp;  // as FormatLogTimestamp gives it
    std::wstring text;
  };
  // Writes the lines together, with one write and no other line between
  // them, each with its own stamp; flushed when one of them is a flush point.
  void WriteLines(const std::vector<StampedLine>& lines);
  // Flushes what was written to disk.
  void Flush();
  // Writes the closing line when `writeClosingLine` (flushed) and closes the
  // file; no line is written afterwards.
  void Finish(bool writeClosingLine);

  std::wstring CurrentPath();
  bool IsOpen();

 private:
  bool OpenLocked();
  std::wstring NextFallbackLocked(int index);
  void WriteLocked(std::wstring_view text);
  void WriteStampedLocked(const std::wstring& stamp, std::wstring_view text);
  void FlushLocked();

  friend int LogLockDepthOnThisThread();
  friend void ReleaseLogLockOnThisThreadTo(int depth);

  Environment env_;
  RecoverableLock lock_;
  std::wstring path_;
  FileHandle file_;
  bool finished_ = false;
};

// The process-wide logger (created on first use, finished at process exit).
Logger& TheLogger();

// Shorthand for TheLogger().WriteLine(text) when logging is enabled; while
// the calling thread holds a LogBlock, the line goes into the block.
void WriteLine(std::wstring_view text);

// How often the calling thread holds the process-wide log's lock (0 also
// before the log exists), and giving it back down to `depth`: for a guarded
// thread whose frames were abandoned inside a log line (ExceptionHandling).
// Neither creates the log nor allocates.
int LogLockDepthOnThisThread();
void ReleaseLogLockOnThisThreadTo(int depth);

// Collects the lines that the creating thread writes through WriteLine, each
// stamped when written, and puts them into the log as one block (Write, or
// at destruction), so that the lines of one download stay together while
// other threads write theirs. Blocks of one thread nest: the inner one
// collects until it ends.
class LogBlock {
 public:
  LogBlock();
  ~LogBlock();  // writes what was not written yet
  LogBlock(const LogBlock&) = delete;
  LogBlock& operator=(const LogBlock&) = delete;

  void Add(std::wstring_view text);
  void Write();

 private:
  std::vector<Logger::StampedLine> lines_;
  LogBlock* outer_;
};

}  // namespace prereq
