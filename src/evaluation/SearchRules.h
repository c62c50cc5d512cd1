#pragma once
// The platform-free rules of the detection searches: how entries combine, the
// decision that follows, the processor condition, and how search paths are
// taken apart.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chainer/Configuration.h"

namespace prereq {

// Search kinds (SearchType values).
enum class SearchKind : int32_t {
  FileVersion = 0,
  RegistrySubkeys = 1,
  RegistryValueVersion = 2,
  MsiProductCode = 3,
  MsiUpgradeCode = 4,
  RegistryKeyExists = 5,
  RegistryKeyMissing = 6,
  RegistryValueExists = 7,
  RegistryValueMissing = 8,
  RegistryValueCompare = 9,
  CommandExitCode = 10,
  MsiComponent = 11,
  RegistryValueNames = 12,
  MsixPackage = 13,
  SubfolderNames = 14,
};

// What each search kind looks for and how its entry is decided.
struct SearchKindInfo {
  SearchKind kind;
  std::wstring_view name;          // the kind's name, e.g. "FileVersion"
  std::wstring_view searchString;  // what SearchString holds
  // What the search collects (kinds decided by the bounds), or when the
  // entry is found (the others).
  std::wstring_view collects;
  // True: the collected values are compared with VerMin/VerMax. False: the
  // search itself decides whether the entry is found.
  bool byRange;
  // Folder properties, environment variables and registry references in
  // SearchString are replaced before the search (SearchCmdLine of
  // CommandExitCode always is).
  bool expandsSearchString;
};
// Every kind, in SearchType order (0 to 14).
std::span<const SearchKindInfo> SearchKinds();
// The kind of a SearchType value; nullptr for values that name none (they run
// nothing and count as found).
const SearchKindInfo* FindSearchKind(int32_t searchType);

// Runs `count` entries through `runEntry` (which answers whether entry i was
// found) and combines them: Operator 0 with AND from true, 1 with OR from
// false, any other value keeps false. Stops at the first entry after which
// the result can no longer change; later entries are not run.
bool CombineSearches(size_t count, int32_t op, const std::function<bool(size_t)>& runEntry);

// The state after the searches: Installed when found, else by the location.
PrereqState StateAfterSearch(bool found, LocationKind kind);

// The text logged after "Search result:" for a state.
const wchar_t* StateText(PrereqState state);

// The states whose package still has to be obtained (from the package,
// by download, from a site).
bool MustBeObtained(PrereqState state);

// The processor condition of options "c" (not on ARM64) and "d" (only on
// ARM64). `haveFunction`: the platform can report the native machine;
// `callSucceeded`: it did for this process. True when the prerequisite does
// not apply.
bool ProcessorExcludes(bool haveFunction, bool callSucceeded, uint16_t nativeMachine,
                       bool optionC, bool optionD);
inline constexpr uint16_t kMachineArm64 = 0xAA64;

// --- File search (kind 0) ---

// A search string cut at its first "?" after the first character: the path
// before it and the depth suffix from the "?" on (empty when there is none).
struct DepthSplit {
  std::wstring_view path;
  std::wstring_view suffix;
};
DepthSplit SplitDepthSuffix(std::wstring_view searchString);

// The folder depth of a suffix "?n": leading blanks, an optional sign and
// decimal digits up to the first other character; 0 when absent. Large
// numbers are capped instead of overflowing.
int32_t ParseDepth(std::wstring_view suffix);

// True when the path of a search string names a folder or a reference ("\",
// "]", "%" or "!"): it is searched as written, not on every fixed drive.
bool SearchesAsWritten(std::wstring_view searchString);

// The candidates of a file search: the search string itself when its path
// names a folder or a reference ("\", "]", "%" or "!"), else the path with its
// suffix under every given drive root.
std::vector<std::wstring> FileSearchCandidates(std::wstring_view searchString,
                                               const std::vector<std::wstring>& fixedDriveRoots);

// The roots listed in a GetLogicalDriveStrings answer (NUL-separated, ended by
// an empty string), in order.
std::vector<std::wstring> SplitDriveStrings(std::wstring_view buffer);

// A path cut at its last "\": the folder with its backslash and the name.
// Without a backslash the folder is empty.
struct FolderAndName {
  std::wstring folder;
  std::wstring name;
};
FolderAndName SplitFolderAndName(std::wstring_view path);

// --- Registry paths ---

// The key below the root of a registry path (the text after the first "\");
// false when the path has no "\".
bool SubkeyOf(std::wstring_view path, std::wstring& subkey);

// A value path cut at its last "\": the key path and the value name; false
// when the path has no "\".
struct KeyAndValue {
  std::wstring keyPath;
  std::wstring valueName;
};
bool SplitValuePath(std::wstring_view path, KeyAndValue& out);

}  // namespace prereq
