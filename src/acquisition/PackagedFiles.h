#pragma once
// Location of the files shipped with the setup: with the not-packaged flag
// (always set) every shipped file is a file on disk in the extraction folder.
#include <cstdint>
#include <string>
#include <string_view>

namespace prereq {

class PackagedFiles {
 public:
  static constexpr uint32_t kNotPackaged = 0x1;

  std::wstring setupFile;         // full path of the running program file
  std::wstring setupFolder;       // its folder, with a trailing backslash
  std::wstring extractionFolder;  // the resolved extraction folder
  uint32_t flags = 0;

  // The full path of a SetupFile: absolute names (two leading backslashes, or
  // ":" as second character) unchanged, others joined to the base folder.
  std::wstring LocateForInstall(std::wstring_view name) const;
  // The full path of a detection program: always joined to the base folder.
  std::wstring LocateForSearch(std::wstring_view name) const;

 private:
  // The extraction folder, or the program's folder when that is empty, with a
  // trailing backslash.
  std::wstring BaseFolder() const;
};

}  // namespace prereq
