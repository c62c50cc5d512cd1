#pragma once
// The lines the process-wide log receives while a LogCapture lives, without
// their time stamps ("YYYY-MM-DD HH-MM-SS-"). When no log is open yet, the
// log goes to `fileName` in the program's temporary folder.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "logging/Logger.h"
#include "platform/core/TempFolder.h"

class LogCapture {
 public:
  // `skip` answers true for lines to leave out.
  explicit LogCapture(const std::wstring& fileName,
                      std::function<bool(const std::wstring&)> skip = {})
      : skip_(std::move(skip)) {
    using namespace prereq;
    if (!TheLogger().IsOpen()) {
      const std::wstring own = ProgramTempFolder() + fileName;
      DeleteFileW(own.c_str());
      TheLogger().SetLogFile(own);
    }
    wasEnabled_ = loggingEnabled;
    loggingEnabled = true;
    TheLogger().WriteLine(L"capture");
    path_ = TheLogger().CurrentPath();
    start_ = Text().size();
  }
  ~LogCapture() { prereq::loggingEnabled = wasEnabled_; }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::wstring> Lines() const {
    const std::wstring text = Text().substr(start_);
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find(L"\r\n", at);
      if (end == std::wstring::npos) end = text.size();
      std::wstring line = text.substr(at, end - at);
      at = end + 2;
      if (line.size() >= 20) line.erase(0, 20);
      if (skip_ && skip_(line)) continue;
      lines.push_back(std::move(line));
    }
    return lines;
  }

 private:
  std::wstring Text() const {
    const std::vector<unsigned char> bytes = ReadBytes(path_);
    std::wstring out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      out.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    return out;
  }

  std::function<bool(const std::wstring&)> skip_;
  std::wstring path_;
  size_t start_ = 0;
  bool wasEnabled_ = false;
};
