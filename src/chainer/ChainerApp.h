#pragma once
// The application object: one execution of the chainer from the
// configuration file beside the executable to the exit code.
#include <cstdint>
#include <memory>
#include <string>

#include "acquisition/PackagedFiles.h"
#include "chainer/Configuration.h"
#include "ui/StatusWindow.h"

namespace prereq {

class ChainerApp {
 public:
  // `modulePath` overrides the executable's own path (tests); empty = own path.
  explicit ChainerApp(std::wstring modulePath = {});
  ~ChainerApp();
  ChainerApp(const ChainerApp&) = delete;
  ChainerApp& operator=(const ChainerApp&) = delete;

  // The main flow; the outcome is left in exitCode.
  void Run();
  // The final clean-up; runs once per process (later calls do nothing). The
  // destructor calls it too; the top-level catch calls it after a failure.
  void RunCleanup();

  int32_t exitCode = 0;  // 0, 1 or -1
  bool quiet = false;
  PackagedFiles packagedFiles;
  StatusWindow statusWindow;
  ChainerSettings cleanupSettings;  // [PREREQ_CHAINER] as read at start-up
  std::wstring modulePath;
  std::wstring iniPath;
  std::wstring appFolder;  // without a trailing backslash

  // The run's title: string 161 with the product name (or the full path).
  const std::wstring& Title() const { return title_; }

 private:
  std::wstring title_;
};

// Reads the configuration file: the two byte-order-mark bytes are skipped
// unread and the rest taken as UTF-16 LE (an odd last byte is ignored).
// `size` is the file size as found. Answers false (and an empty text) when the
// file cannot be opened, positioned or read, reads nothing, or is shorter
// than two bytes.
bool ReadConfigurationText(const std::wstring& path, uint32_t size, std::wstring& text);

// Waits without time-out until no Windows Installer transaction runs.
// True when the run may go on: the mutex "Global\_MSIExecute" does not exist,
// or it was acquired (WAIT_OBJECT_0).
bool WaitForInstaller();

}  // namespace prereq
