#include "authoring/Plan.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <vector>

#include "acquisition/DownloadRules.h"
#include "acquisition/PackagedFiles.h"
#include "acquisition/PrerequisiteRunner.h"
#include "authoring/ToolIo.h"
#include "chainer/ChainerApp.h"
#include "chainer/ConfigSchema.h"
#include "chainer/Configuration.h"
#include "chainer/ModulePaths.h"
#include "chainer/ResultStore.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/OsConditions.h"
#include "evaluation/OsInfo.h"
#include "evaluation/Search.h"
#include "evaluation/SearchRules.h"
#include "execution/ExitCodeRules.h"
#include "execution/LaunchRules.h"
#include "platform/core/Handles.h"
#include "platform/core/PathForms.h"
#include "platform/core/Security.h"
#include "platform/core/TempFolder.h"
#include "platform/core/TextFormat.h"
#include "ui/StatusWindow.h"

namespace prereq {

namespace {

constexpr uint32_t kPackagedFlags = 3;  // as a run configures the shipped-file table

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return full;
}

std::wstring LocationKeyOf(LocationKind kind) {
  switch (kind) {
    case LocationKind::Url: return L"Url";
    case LocationKind::OpenSite: return L"OpenSite";
    default: return L"SetupFile";
  }
}

// The number of App<n> (decimal, no leading zero); 0 for other keys.
int AppNumber(std::wstring_view key) {
  if (key.size() <= kAppKeyPrefix.size() || key.substr(0, kAppKeyPrefix.size()) != kAppKeyPrefix)
    return 0;
  const std::wstring_view digits = key.substr(kAppKeyPrefix.size());
  if (digits[0] == L'0' || digits.size() > 6) return 0;
  int n = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + (c - L'0');
  }
  return n;
}

// Why a run's list of prerequisites ends before the last App<n> listed;
// empty when it reads them all.
std::wstring ListEnd(const LoadOutcome& outcome, int highestListed) {
  const std::wstring app = NumberedKey(kAppKeyPrefix, outcome.appNumber);
  switch (outcome.stop) {
    case LoadStop::NoIndexSection:
      return L"the configuration has no [PREREQUISITES] section";
    case LoadStop::EndOfList:
      if (outcome.appNumber < highestListed)
        return L"the list ends at " + app + L": [PREREQUISITES] has no " + app +
               L", so the later App keys are not read";
      return {};
    case LoadStop::NoSection:
      return L"the list ends at " + app + L": there is no section [" + app + L"]";
    case LoadStop::NoLocation:
      return L"the list ends at " + app + L": it has none of SetupFile, OpenSite, Url";
    case LoadStop::SearchWithoutString:
      return L"the list ends at " + app + L": " + NumberedKey(L"SearchType", outcome.searchNumber) +
             L" without " + NumberedKey(L"SearchString", outcome.searchNumber);
  }
  return {};
}

// The highest App<n> that [PREREQUISITES] lists.
int HighestListed(const IniFile& ini) {
  const IniSection* index = FindSection(ini, kPrerequisitesSection);
  if (index == nullptr) return 0;
  int highest = 0;
  for (const IniEntry& e : index->entries) highest = std::max(highest, AppNumber(e.key));
  return highest;
}

}  // namespace

bool MakePlan(const std::wstring& configArgument, const std::wstring& setupArgument, Plan& plan,
              std::wstring& error) {
  plan = Plan{};
  plan.configPath = FullPath(configArgument);
  plan.setupPath = setupArgument.empty()
                       ? FolderOf(plan.configPath) + L"\\" +
                             ReplaceExtension(FileNameOf(plan.configPath), L"exe")
                       : FullPath(setupArgument);
  // [SETUPEXEDIR] is the setup's folder, not this tool's.
  SetSetupFolder(FolderOf(plan.setupPath));

  // The configuration, read as a run reads it.
  WIN32_FIND_DATAW found{};
  FindHandle find(::FindFirstFileW(plan.configPath.c_str(), &found));
  if (!find) {
    error = L"the configuration file does not exist: " + plan.configPath;
    return false;
  }
  ConfigText config;
  IniFile ini;
  if (ReadConfigurationText(plan.configPath, found.nFileSizeLow, config)) ini = ParseIni(config.text);
  plan.encoding = config.encoding;
  plan.lineEnds = config.lineEnds;

  PrereqList list;
  PackagedFiles packagedFiles;
  list.packagedFiles = &packagedFiles;
  list.tempFolder = [] { return ProgramTempFolder(); };
  list.expander = [](std::wstring_view value, bool) { return ExpandProperties(value, false); };
  LoadOutcome outcome;
  LoadConfiguration(ini, list, &outcome);
  packagedFiles.setupFile = plan.setupPath;
  packagedFiles.setupFolder = WithTrailingBackslash(FolderOf(plan.setupPath));
  packagedFiles.extractionFolder = list.ResolveExtractionFolder();
  packagedFiles.flags = kPackagedFlags;

  plan.listed = HighestListed(ini);
  plan.listEnd = ListEnd(outcome, plan.listed);
  plan.options = list.general.Options;
  plan.mode = list.Quiet() ? L"quiet" : list.BasicUi() ? L"basic-ui" : L"search-only";
  plan.overlapped = list.Overlapped();
  plan.downloadFolder = list.DownloadFolder();
  plan.extractionFolder = packagedFiles.extractionFolder;

  // The machine.
  const OsInfo& os = GetOsInfo();
  PlanMachine& m = plan.machine;
  static_cast<MachineFacts&>(m) = CollectMachineFacts();
  m.localSystem = IsLocalSystem();

  // The evaluation of a run, with what every search found.
  std::map<const SearchEntry*, SearchResult> results;
  SetSearchObserver([&results](const SearchEntry& entry, const SearchResult& result) {
    results[&entry] = result;
  });
  ScopeGuard stopObserving([] { SetSearchObserver({}); });
  EvaluateAll(list);

  // The actions, and the launch list that the install loop would build once
  // every download had arrived.
  ResultStore store;
  StatusWindow statusWindow;
  PrerequisiteRunner runner(list, packagedFiles, statusWindow, store);
  // A present file runs only once it passes the check a download gets; one
  // that fails is downloaded again. The plan judges it the same way, but
  // deletes and logs nothing.
  // A shipped file with a Signer is judged too.
  struct Judged {
    AcceptanceResult result;
    std::wstring path;
  };
  std::map<size_t, Judged> judged;
  for (size_t i = 0; i < list.Count(); ++i) {
    const PrerequisiteAction action = runner.Action(i);
    Judged j;
    if (action == PrerequisiteAction::RunPresentFile)
      j.result = runner.JudgePresentFile(i, j.path);
    else if (action == PrerequisiteAction::RunShippedFile && runner.ChecksShippedFile(i))
      j.result = runner.JudgeShippedFile(i, j.path);
    else
      continue;
    runner.checkedFiles[i].accepted = j.result.verdict == Acceptance::Accepted;
    runner.checkedFiles[i].path = j.path;
    judged[i] = std::move(j);
  }
  PrereqList afterDownloads = list;
  PrerequisiteRunner installer(afterDownloads, packagedFiles, statusWindow, store);
  for (size_t i = 0; i < list.Count(); ++i) {
    if (runner.Action(i) == PrerequisiteAction::Download) {
      // As if accepted: the file the download leaves.
      afterDownloads.At(i).present = true;
      installer.checkedFiles[i].accepted = true;
      installer.checkedFiles[i].path = runner.DownloadTargetPath(i);
    } else if (auto checked = runner.checkedFiles.find(i); checked != runner.checkedFiles.end()) {
      installer.checkedFiles[i].accepted = checked->second.accepted;
      installer.checkedFiles[i].path = checked->second.path;
    }
  }
  installer.BuildLaunchList();
  const CommandLineField field = ChooseCommandLineField(list.general.Options);
  const std::wstring fieldKey = field == CommandLineField::BasicUi ? L"BasicUiCommandLine"
                                : field == CommandLineField::NoUi  ? L"NoUiCommandLine"
                                                                   : L"CommandLine";

  for (size_t i = 0; i < list.Count(); ++i) {
    const Prerequisite& p = list.At(i);
    PlanPrerequisite out;
    out.number = static_cast<int>(i) + 1;
    out.id = p.Id;
    out.displayName = p.DisplayName;
    out.locationKey = LocationKeyOf(p.locationKind);
    out.location = p.Location;
    out.options = p.Options;
    out.osListKey = os.is64BitWindows ? L"WinNT64Versions" : L"WinNTVersions";
    out.osList = os.is64BitWindows ? p.WinNT64Versions : p.WinNTVersions;
    out.osAllowed = OsListAllowsNames(os.is64BitWindows, p.WinNTVersions, p.WinNT64Versions,
                                      m.detailedName, m.generalName);
    out.languageList = p.LanguageList;
    out.languageAllowed = LanguageListAllows(p.LanguageList, static_cast<uint16_t>(m.languageId));
    out.processorExcluded = out.osAllowed && out.languageAllowed && ExcludedByProcessor(p);
    out.detectionSkipped = p.ignoreDetection;
    out.operatorValue = p.Operator;
    for (size_t k = 0; k < p.Searches.size(); ++k) {
      const SearchEntry& entry = p.Searches[k];
      PlanSearch s;
      s.number = static_cast<int>(k) + 1;
      s.type = entry.SearchType;
      if (const SearchKindInfo* kind = FindSearchKind(entry.SearchType)) {
        s.kindName = kind->name;
        s.byRange = kind->byRange;
      }
      s.searchString = entry.SearchString;
      s.verMin = entry.VerMin;
      s.verMax = entry.VerMax;
      s.refContent = entry.RefContent;
      s.searchCmdLine = entry.SearchCmdLine;
      if (auto r = results.find(&entry); r != results.end()) {
        s.ran = true;
        s.values = r->second.values;
        s.value = r->second.value;
        s.found = r->second.found;
      }
      out.searches.push_back(std::move(s));
    }
    out.state = static_cast<int>(p.state);
    out.stateText = StateText(p.state);
    out.selected = p.selected;
    out.present = p.present;
    out.parentPrereq = p.ParentPrereq;
    const PrerequisiteAction action = runner.Action(i);
    out.action = static_cast<int>(action);
    out.actionText = ActionName(out.action);
    if (action == PrerequisiteAction::Download || action == PrerequisiteAction::OpenSite)
      out.url = p.Location;
    if (action == PrerequisiteAction::Download) out.target = runner.DownloadTargetPath(i);
    for (const LaunchItem& item : installer.launcher.launchList) {
      if (item.prereqIndex != i) continue;
      out.runPath = item.path;
      out.commandLine = item.commandLine;
      out.commandLineKey = fieldKey;
    }
    if (p.locationKind != LocationKind::OpenSite) {
      const ExitCodeTable table = ParseExitCodes(p.ExitCodes).table;
      for (const ExitCodeEntry& e : table.Effective())
        out.exitCodes.push_back({e.code, std::wstring(ExitMeaningWord(e.meaning)), table.Configured(e.code)});
    }
    if (p.locationKind == LocationKind::Url) {
      out.addresses.push_back(p.Location);
      out.addresses.insert(out.addresses.end(), p.Mirrors.begin(), p.Mirrors.end());
    }
    if (auto j = judged.find(i); j != judged.end() && j->second.result.signature) {
      const AcceptanceResult& r = j->second.result;
      constexpr std::wstring_view kPrefix = L"Signature check:";
      out.signatureRead = true;
      out.signatureFile = j->second.path;
      out.signerName = r.signature->commonName;
      out.signerThumbprint = r.signature->thumbprint;
      out.signatureAccepted = r.signatureVerdict == SignatureVerdict::Accepted;
      out.signatureText = SignatureLogLine(r).substr(kPrefix.size());
    }
    plan.anyToObtain = plan.anyToObtain || MustBeObtained(p.state);
    plan.prereqs.push_back(std::move(out));
  }
  return true;
}

namespace {

const wchar_t kPlanUsage[] =
    L"Usage: prereq-plan [--json] [--setup PROGRAM.exe] CONFIG.ini\n"
    L"  Evaluates the configuration on this machine as a run of the setup would:\n"
    L"  the searches with what they found, the conditions with this machine's\n"
    L"  system and language names, the decision, and the action with the path or\n"
    L"  command line a run would use. Nothing is downloaded or installed; the\n"
    L"  detection programs of SearchType 10 run as in a run.\n"
    L"  --setup names the program that reads the configuration (default: the\n"
    L"  configuration's name with .exe); its folder is [SETUPEXEDIR].\n";

}  // namespace

int RunPlanTool(const std::vector<std::wstring>& arguments) {
  bool json = false;
  std::wstring config, setup;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& a = arguments[i];
    if (a == L"--help" || a == L"-h") {
      toolio::Out(kPlanUsage);
      return 0;
    } else if (a == L"--json") {
      json = true;
    } else if (a == L"--setup" && i + 1 < arguments.size()) {
      setup = arguments[++i];
    } else if (!a.empty() && a[0] == L'-') {
      toolio::Err(L"prereq-plan: unknown option " + a + L"\n" + kPlanUsage);
      return 2;
    } else if (config.empty()) {
      config = a;
    } else {
      toolio::Err(L"prereq-plan: one configuration at a time\n");
      return 2;
    }
  }
  if (config.empty()) {
    toolio::Err(std::wstring(L"prereq-plan: no configuration file given\n") + kPlanUsage);
    return 2;
  }
  Plan plan;
  std::wstring error;
  if (!MakePlan(config, setup, plan, error)) {
    toolio::Err(L"prereq-plan: " + error + L"\n");
    return 2;
  }
  if (json) toolio::OutUtf8(FormatPlanJson(plan));
  else toolio::Out(FormatPlanText(plan));
  return 0;
}

}  // namespace prereq
