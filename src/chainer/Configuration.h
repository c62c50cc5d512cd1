#pragma once
// The configuration model: general options, prerequisites with their search
// entries, and the chainer settings, loaded from the parsed document.
#include <cstdint>
#include <functional>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

#include "acquisition/PackagedFiles.h"
#include "chainer/IniFile.h"

namespace prereq {

// Replaces folder properties, environment variables and registry references
// in a text; `use64` selects the 64-bit views. An empty function leaves texts
// unchanged.
using PropertyExpander = std::function<std::wstring(std::wstring_view text, bool use64)>;

// KeepFiles values.
enum class KeepFilesMode : int32_t { None = 0, Minimum = 1, Complete = 2, Prereqs = 5 };

struct GeneralOptions {
  std::wstring MainAppCmdLine;
  // Run-level letters: "q" quiet, "b" basic UI, "e" installer exit codes,
  // "o" overlapped run.
  std::wstring Options;
  std::wstring UpdatesUrl;
  std::wstring ProductVersion;
  std::wstring MinWIVer;
  std::wstring DownloadFolder;  // replaced by its resolved form on first use
  std::wstring UpdaterDownloadFolder;
  std::wstring MainAppURL;
  std::wstring UwpAppxURL;
  std::wstring LanguageList;
  std::wstring ExtractionFolder;  // normalised, with a trailing backslash when not empty
  int32_t KeepFiles = 0;          // KeepFilesMode value
  bool PackJars = false;
  bool AllPlatforms = false;
  bool Is64PlatformTransf = false;
  std::wstring Langs;
  std::wstring PackageCode;
  std::wstring DefaultProdCode;
  std::wstring ProductCode;
  std::wstring UpgradeCode;
  bool ExtUIStub = false;
  std::wstring SaveExtUIStub;
  std::wstring FileExtractFirst;
  std::wstring MsiCertData;
  std::wstring AppxVersion;
  std::wstring AppxPkId;
};

struct SearchEntry {
  int32_t SearchType = 0;
  std::wstring SearchString;
  std::wstring VerMin;
  std::wstring VerMax;
  std::wstring RefContent;
  std::wstring SearchCmdLine;
};

// Where a prerequisite's package comes from.
enum class LocationKind : int32_t { SetupFile = 0, Url = 1, OpenSite = 2 };

// Decision of the evaluation, shared numbering with the acquisition action.
enum class PrereqState : int32_t {
  Installed = 0,
  FromPackage = 1,
  Download = 2,
  OpenSite = 3,
  OsNotSupported = 4,
  AlreadyDownloaded = 5,
  NotSelected = 7,
  Unset = 8,
};

struct Prerequisite {
  std::wstring Id;
  std::wstring DisplayName;
  std::wstring VerMin;
  std::wstring VerMax;
  std::wstring Location;
  LocationKind locationKind = LocationKind::SetupFile;
  std::wstring CommandLine;
  std::wstring BasicUiCommandLine;
  std::wstring NoUiCommandLine;
  std::wstring Options;  // "c", "d", "i", "x", "m", "r", "R"
  std::wstring MD5;
  int32_t ExactSize = 0;  // bytes; 0 = no check
  // The SHA-256 digest a file must have, as configured (64 hexadecimal
  // digits); absent when the section has no SHA256 key.
  std::optional<std::wstring> SHA256;
  // The publishers whose Authenticode signature a file must carry, as
  // configured ("CN=name" or "sha256:" and 64 hexadecimal digits, separated
  // by ", "); absent when the section has no Signer key.
  std::optional<std::wstring> Signer;
  std::wstring Folder;
  std::wstring RetValPropName;
  std::wstring InstallCond;
  std::wstring ParentPrereq;
  int32_t Operator = 0;  // 0 AND, 1 OR
  std::vector<SearchEntry> Searches;
  std::wstring WinNTVersions;
  std::wstring WinNT64Versions;
  std::wstring LanguageList;  // items each ended by ";"
  // Meanings of the package's return codes as configured (ExitCodeRules.h).
  std::wstring ExitCodes;
  // Further addresses of the same file (Url2, Url3, ...), tried in order when
  // the one before fails or its file is rejected; expanded like Url.
  std::vector<std::wstring> Mirrors;

  // Run-time fields.
  PrereqState state = PrereqState::Unset;
  bool present = false;
  bool selected = false;
  bool ignoreDetection = false;

  bool HasOption(wchar_t letter) const { return Options.find(letter) != std::wstring::npos; }
};

struct ChainerSettings {
  std::wstring CleanupFiles;    // separated by U+0001
  std::wstring CleanupFolders;  // clean-up root folder
  std::wstring LogFile;
  std::wstring CleanupScript;
  // The result file's path as configured; empty: none is written.
  std::wstring ResultFile;
};

// The configuration model of one run.
class PrereqList {
 public:
  virtual ~PrereqList() = default;

  std::vector<Prerequisite> prereqs;
  GeneralOptions general;
  // The packaged-file table, when one is attached.
  const PackagedFiles* packagedFiles = nullptr;
  // Texts the passes show in place of the string table's: the downloading
  // text, the opening-site text (both with "%s" for the DisplayName) and the
  // message of the open-site box. Empty: the string table's.
  std::wstring downloadingText;
  std::wstring openingSiteText;
  std::wstring manualDownloadText;

  // The path of the file a search entry's SearchString names, as the
  // packaged-file table locates it for a search; empty without a table.
  virtual std::wstring GetSearchFile(const SearchEntry& entry) const {
    return packagedFiles ? packagedFiles->LocateForSearch(entry.SearchString) : std::wstring();
  }

  size_t Count() const { return prereqs.size(); }
  // Raises the range error for an index outside the list.
  Prerequisite& At(size_t index);
  const Prerequisite& At(size_t index) const;

  // Set at start-up when nobody can answer a window (session 0, the
  // LocalSystem account, no interactive window station): the run then goes
  // as a quiet one, with the packages' quiet command lines, without web
  // sites and without a restart question.
  bool noDesktop = false;

  bool Quiet() const { return noDesktop || general.Options.find(L'q') != std::wstring::npos; }
  bool BasicUi() const { return general.Options.find(L'b') != std::wstring::npos; }
  // The process exit code follows the Windows Installer's convention
  // (0, 3010, 1641, 1602, 1603) instead of 0, 1 and -1.
  bool InstallerExitCodes() const { return general.Options.find(L'e') != std::wstring::npos; }
  // Downloads run ahead of the install loop, several at once, and each
  // package installs as soon as its turn comes and its file was accepted.
  bool Overlapped() const { return general.Options.find(L'o') != std::wstring::npos; }

  // The download folder, resolved on the first call (expansion, normalisation,
  // trailing backslash; or the temporary folder + DefaultProdCode + "\") and
  // stored back into general.DownloadFolder.
  const std::wstring& DownloadFolder();
  // The resolved extraction folder, by the same rule.
  const std::wstring& ResolveExtractionFolder();

  // Sources of the resolution: the property expander and the program's
  // temporary folder (with or without a trailing backslash).
  PropertyExpander expander;
  std::function<std::wstring()> tempFolder;

 private:
  bool downloadResolved_ = false;
  bool extractionResolved_ = false;
};

// Loads [GeneralOptions]; answers true, also when the section is missing.
bool LoadGeneralOptions(const IniFile& ini, GeneralOptions& options);

// Why the loading of the prerequisite list ended. Every ending but
// EndOfList drops the prerequisite being read and every later one.
enum class LoadStop {
  NoIndexSection,       // no [PREREQUISITES]: no prerequisite at all
  EndOfList,            // [PREREQUISITES] has no key App<n>
  NoSection,            // no section [App<n>]
  NoLocation,           // [App<n>] has none of SetupFile, OpenSite, Url
  SearchWithoutString,  // SearchType<k> without SearchString<k>
};
struct LoadOutcome {
  LoadStop stop = LoadStop::NoIndexSection;
  int appNumber = 0;     // the n of App<n> being read when the loading ended
  int searchNumber = 0;  // the k of SearchWithoutString
};

// LoadGeneralOptions, then the prerequisites with their search entries.
// Url and OpenSite locations are expanded with list.expander. `outcome`, when
// given, receives why the list ended.
void LoadConfiguration(const IniFile& ini, PrereqList& list, LoadOutcome* outcome = nullptr);

// False when [PREREQ_CHAINER] does not exist (the record stays empty).
bool LoadChainerSettings(const IniFile& ini, ChainerSettings& settings);

// The resolution rule of the download and extraction folders.
std::wstring ResolveConfiguredFolder(std::wstring_view configured, std::wstring_view tempFolder,
                                     std::wstring_view defaultProdCode,
                                     const PropertyExpander& expander);

}  // namespace prereq
