#include "evaluation/Search.h"

#include <windows.h>

#include "acquisition/DownloadRules.h"
#include "evaluation/OsConditions.h"
#include "evaluation/OsInfo.h"
#include "evaluation/SearchKinds.h"
#include "evaluation/SearchRules.h"
#include "evaluation/Selection.h"
#include "evaluation/Versions.h"
#include "execution/Msix.h"
#include "execution/MsixRules.h"
#include "logging/Logger.h"

namespace prereq {

namespace {

void Log(std::wstring_view line) {
  if (loggingEnabled) WriteLine(line);
}

// IsWow64Process2 exists from Windows 10 1709 on; it is looked up once.
using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
IsWow64Process2Fn LookUpIsWow64Process2() {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32");
  if (kernel32 == nullptr) return nullptr;
  return reinterpret_cast<IsWow64Process2Fn>(::GetProcAddress(kernel32, "IsWow64Process2"));
}

SearchObserver& TheSearchObserver() {
  static SearchObserver observer;
  return observer;
}

}  // namespace

NativeMachine QueryNativeMachine() {
  static const IsWow64Process2Fn isWow64Process2 = LookUpIsWow64Process2();
  NativeMachine m;
  m.haveFunction = isWow64Process2 != nullptr;
  USHORT processMachine = 0;
  USHORT nativeMachine = 0;
  m.callSucceeded =
      m.haveFunction && isWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine);
  m.machine = nativeMachine;
  return m;
}

bool ExcludedByProcessor(const Prerequisite& p) {
  const NativeMachine m = QueryNativeMachine();
  return ProcessorExcludes(m.haveFunction, m.callSucceeded, m.machine, p.HasOption(L'c'),
                           p.HasOption(L'd'));
}

void SetSearchObserver(SearchObserver observer) { TheSearchObserver() = std::move(observer); }

SearchResult RunSearch(const PrereqList& list, const SearchEntry& entry, bool use64) {
  SearchResult result;
  // Registry searches use the 64-bit view for option "x" on 64-bit Windows;
  // the value-name search asks for it whenever option "x" is set.
  const REGSAM view = (use64 && GetOsInfo().is64BitWindows) ? KEY_WOW64_64KEY : 0;
  const std::wstring& what = entry.SearchString;
  switch (static_cast<SearchKind>(entry.SearchType)) {
    case SearchKind::FileVersion:
      searches::CollectFileVersion(what, use64, result.values);
      break;
    case SearchKind::RegistrySubkeys:
      searches::CollectSubkeyNames(what, view, result.values);
      break;
    case SearchKind::RegistryValueVersion:
      searches::CollectValueData(what, view, result.values);
      break;
    case SearchKind::MsiProductCode:
      searches::CollectProductVersion(what, result.values);
      break;
    case SearchKind::MsiUpgradeCode:
      searches::CollectRelatedVersions(what, result.values);
      break;
    case SearchKind::RegistryKeyExists:
      result.found = searches::KeyOpens(what, view);
      break;
    case SearchKind::RegistryKeyMissing:
      result.found = !searches::KeyOpens(what, view);
      break;
    case SearchKind::RegistryValueExists:
      result.found = searches::ValueQueryable(what, view);
      break;
    case SearchKind::RegistryValueMissing:
      result.found = !searches::ValueQueryable(what, view);
      break;
    case SearchKind::RegistryValueCompare:
      result.found = searches::ReadValueAsText(what, view, result.value) &&
                     CompareWithReference(result.value, entry.RefContent);
      break;
    case SearchKind::CommandExitCode:
      result.found = searches::DetectionProgramSucceeds(list, entry);
      break;
    case SearchKind::MsiComponent:
      result.found = searches::ComponentInstalled(what);
      break;
    case SearchKind::RegistryValueNames:
      searches::CollectValueNames(what, use64 ? KEY_WOW64_64KEY : 0, result.values);
      break;
    case SearchKind::MsixPackage:
      // Packaged applications exist from Windows 10 on; earlier systems
      // collect nothing.
      if (IsWindows10OrLater()) {
        const MsixQuery query = SplitMsixSearchString(what);
        std::wstring version = MsixFinder::Find(query.name, query.publisher, query.architecture);
        if (!version.empty()) result.values.push_back(std::move(version));
      }
      break;
    case SearchKind::SubfolderNames:
      searches::CollectSubfolderNames(what, use64, result.values);
      break;
    default:
      // Unknown kinds run nothing and do not stand in the way.
      result.found = true;
      break;
  }
  // The kinds that collect values are decided by the version bounds.
  const SearchKindInfo* kind = FindSearchKind(entry.SearchType);
  if (kind != nullptr && kind->byRange)
    result.found = VersionInRange(result.values, entry.VerMin, entry.VerMax);
  return result;
}

bool RunSearches(const PrereqList& list, const std::vector<SearchEntry>& entries, int32_t op,
                 bool use64) {
  return CombineSearches(entries.size(), op, [&](size_t i) {
    const SearchResult result = RunSearch(list, entries[i], use64);
    if (const SearchObserver& observer = TheSearchObserver()) observer(entries[i], result);
    return result.found;
  });
}

void EvaluatePrereq(PrereqList& list, size_t index, bool reevaluate) {
  Prerequisite& p = list.At(index);
  if (p.state == PrereqState::OsNotSupported) return;  // final

  if (!OsAllowed(p.WinNTVersions, p.WinNT64Versions) || !LanguageAllowed(p.LanguageList)) {
    Log(L"Wrong OS or Os language for:" + p.DisplayName);
    p.state = PrereqState::OsNotSupported;
    return;
  }
  if (ExcludedByProcessor(p)) {
    p.state = PrereqState::OsNotSupported;
    return;
  }

  Log(L"Searching for:" + p.DisplayName);
  if (reevaluate && p.ignoreDetection) return;
  const bool found =
      !p.ignoreDetection && RunSearches(list, p.Searches, p.Operator, p.HasOption(L'x'));
  p.state = StateAfterSearch(found, p.locationKind);
  Log(std::wstring(L"Search result:") + StateText(p.state));
}

void EvaluateAll(PrereqList& list) {
  for (size_t i = 0; i < list.Count(); ++i) EvaluatePrereq(list, i, false);
  for (size_t i = 0; i < list.Count(); ++i) {
    Prerequisite& p = list.At(i);
    if (p.state == PrereqState::Download) p.present = IsPresent(p, list.DownloadFolder());
    SetSelected(list, i, MustBeObtained(p.state));
  }
}

void SetSelected(PrereqList& list, size_t index, bool flag) {
  SetSelectedWithLog(list, index, flag, Log);
}

}  // namespace prereq
