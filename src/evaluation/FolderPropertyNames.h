#pragma once
// The names of the folder properties ([Name] in paths and command lines) and
// what each stands for. The resolution on the machine (FolderProperties.cpp)
// reads its names from these tables.
#include <span>
#include <string_view>

namespace prereq {

// The platform known folders that properties can name.
enum class KnownFolder {
  AdminTools,
  RoamingAppData,
  ProgramData,
  ProgramFilesCommon,
  Desktop,
  Favorites,
  Fonts,
  LocalAppData,
  Pictures,
  NetHood,
  Documents,
  PrintHood,
  ProgramFiles,
  Programs,
  Recent,
  SendTo,
  StartMenu,
  SystemX86,
  System,
  Startup,
  Templates,
  PublicDesktop,
};

// A property resolved through a known folder of the current user.
struct KnownFolderProperty {
  std::wstring_view name;      // e.g. "ProgramFilesFolder"
  KnownFolder folder;
  std::wstring_view folderId;  // the platform's name, e.g. "FOLDERID_ProgramFiles"
};
std::span<const KnownFolderProperty> KnownFolderProperties();

// Properties with a rule of their own; they are tried before the known
// folders, in this order.
enum class SpecialFolder {
  ProgramFiles64,  // "ProgramW6432", else the known folder
  System,          // the 64-bit system folder for 64-bit searches, else the 32-bit one
  System32,        // the system directory
  Windows,         // the Windows directory
  WindowsVolume,   // the drive of the Windows directory
  Temp,            // the program's temporary folder
  SetupExeDir,     // the folder of the program's own executable
};
struct SpecialFolderProperty {
  std::wstring_view name;
  SpecialFolder folder;
  std::wstring_view value;  // what it resolves to, in words
};
std::span<const SpecialFolderProperty> SpecialFolderProperties();

// True when the name is a property of either table (exact, case-sensitive).
bool IsFolderPropertyName(std::wstring_view name);

}  // namespace prereq
