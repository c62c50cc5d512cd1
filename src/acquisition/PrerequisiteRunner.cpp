#include "acquisition/PrerequisiteRunner.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "acquisition/Acceptance.h"
#include "acquisition/DownloadRules.h"
#include "acquisition/Transfer.h"
#include "acquisition/WinInet.h"
#include "chainer/ModulePaths.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/Search.h"
#include "execution/ErrorText.h"
#include "logging/Logger.h"
#include "platform/core/Handles.h"
#include "platform/core/LinkFreePaths.h"
#include "platform/core/PathForms.h"
#include "platform/core/TempFolder.h"
#include "platform/core/TextFormat.h"
#include "platform/core/WinText.h"

namespace prereq {

namespace {

// Downloads from this host are asked for in any encoding.
constexpr std::wstring_view kAnyEncodingHost = L"dl.corvane.io";

bool KeepsDownloads(const GeneralOptions& general) {
  return general.KeepFiles == static_cast<int32_t>(KeepFilesMode::Complete) ||
         general.KeepFiles == static_cast<int32_t>(KeepFilesMode::Prereqs);
}

std::wstring HostOf(const std::wstring& url) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;  // ask for the host's position
  const WinInetFunctions* inet = WinInet();
  if (inet == nullptr ||
      !inet->InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.lpszHostName == nullptr)
    return {};
  return std::wstring(parts.lpszHostName, parts.dwHostNameLength);
}

// Never through a link: whoever can write the download folder could
// otherwise have the clean-up delete a file elsewhere.
void DeleteDownloadedFile(const std::wstring& path) { DeleteFileLinkFree(path); }

// A network path: "\\server\share\..." or a drive letter of a network drive.
bool IsNetworkPath(const std::wstring& path) {
  if (!ShareOfUncPath(FromLongPathForm(path)).empty()) return true;
  const std::wstring local = FromLongPathForm(path);
  if (local.size() < 3 || local[1] != L':' || local[2] != L'\\') return false;
  return ::GetDriveTypeW(local.substr(0, 3).c_str()) == DRIVE_REMOTE;
}

std::wstring TextOrDefault(UINT id) { return LoadResourceString(id); }

}  // namespace

PrerequisiteRunner::PrerequisiteRunner(PrereqList& prereqs, const PackagedFiles& files,
                                       StatusWindow& status, ResultStore& resultStore)
    : list(prereqs), packagedFiles(files), statusWindow(status), store(resultStore) {
  context.downloadFolder = list.DownloadFolder();
  launcher.rebootInProgress = &rebootInProgress;
  launcher.mayLaunch = [this](const LaunchItem& item) { return MayLaunch(item); };
  // Once the package has started, its file is let go: the package may
  // move or delete itself.
  launcher.launched = [this](const LaunchItem& item) {
    const auto checked = checkedFiles.find(item.prereqIndex);
    if (checked != checkedFiles.end()) checked->second.hold.Release();
  };
}

PrerequisiteRunner::~PrerequisiteRunner() {
  // Files still held (their packages never started) are let go first.
  for (auto& [index, checked] : checkedFiles) checked.hold.Release();
  for (const std::wstring& path : context.deletionList) DeleteDownloadedFile(path);
  for (auto it = context.foldersCreated.rbegin(); it != context.foldersCreated.rend(); ++it)
    RemoveFolderLinkFree(*it);
}

PrerequisiteAction PrerequisiteRunner::Action(size_t index) const {
  const PrerequisiteAction action = ActionByRule(index);
  // A present file that failed its check is fetched again; one on a share is
  // fetched (copied) until its copy passed.
  if (action == PrerequisiteAction::RunPresentFile) {
    const auto checked = checkedFiles.find(index);
    if (checked != checkedFiles.end()) {
      if (!checked->second.accepted) return PrerequisiteAction::Download;
    } else if (PresentFileOnShare(index)) {
      return PrerequisiteAction::Download;
    }
  }
  return action;
}

PrerequisiteAction PrerequisiteRunner::ActionByRule(size_t index) const {
  const Prerequisite& p = list.At(index);
  if (!p.selected) return PrerequisiteAction::Skip;
  if (p.state != PrereqState::Installed) {
    if (p.state == PrereqState::Download && p.present) return PrerequisiteAction::RunPresentFile;
    return static_cast<PrerequisiteAction>(p.state);
  }
  switch (p.locationKind) {
    case LocationKind::Url:
      return IsPresent(p, list.DownloadFolder()) ? PrerequisiteAction::RunPresentFile
                                                 : PrerequisiteAction::Download;
    case LocationKind::OpenSite:
      return PrerequisiteAction::OpenSite;
    default:
      return PrerequisiteAction::RunShippedFile;
  }
}

void PrerequisiteRunner::RefreshPresent(size_t index) {
  Prerequisite& p = list.At(index);
  p.present = IsPresent(p, list.DownloadFolder());
}

std::wstring PrerequisiteRunner::DownloadTargetPath(size_t index) const {
  const Prerequisite& p = list.At(index);
  return TargetPath(context.downloadFolder, p.Location, p.Folder);
}

AcceptanceResult PrerequisiteRunner::JudgePresentFile(size_t index, std::wstring& path) const {
  const Prerequisite& p = list.At(index);
  if (!FileUrlLocalPath(p.Location, path)) path = DownloadTargetPath(index);
  return VerifyFile(path, ExpectedFileOf(p));
}

bool PrerequisiteRunner::PresentFileOnShare(size_t index) const {
  std::wstring path;
  return FileUrlLocalPath(list.At(index).Location, path) && IsNetworkPath(path);
}

AcceptanceResult PrerequisiteRunner::AcceptFile(size_t index, const std::wstring& path,
                                                CheckedFile& checked, const CancelCheck& cancelled) {
  const ExpectedFile expected = ExpectedFileOf(list.At(index));
  checked.path = path;
  checked.accepted = false;
  checked.hold.Release();
  LinkFreeFile hold;
  AcceptanceResult result;
  if (OpenFileLinkFree(path, GENERIC_READ, FILE_SHARE_READ, LinkFreeDisposition::OpenExisting, hold) == 0) {
    result = VerifyOpenFile(hold.file.get(), expected, cancelled);
  } else {
    // Somebody writes it, or a link leads to it: judged by its path now and
    // again right before it runs.
    hold.Release();
    result = VerifyFile(path, expected, nullptr, cancelled);
  }
  checked.accepted = result.verdict == Acceptance::Accepted && !result.cancelled;
  if (checked.accepted) checked.hold = std::move(hold);
  return result;
}

bool PrerequisiteRunner::CheckPresentFile(size_t index, const CancelCheck& cancelled) {
  Prerequisite& p = list.At(index);
  std::wstring path;
  const bool fileUrl = FileUrlLocalPath(p.Location, path);
  if (!fileUrl) path = DownloadTargetPath(index);
  WriteLine(L"Checking present file:" + path);
  CheckedFile checked;
  const AcceptanceResult result = AcceptFile(index, path, checked, cancelled);
  if (result.cancelled) return false;
  const bool accepted = checked.accepted;
  checkedFiles[index] = std::move(checked);
  if (accepted) {
    WriteLine(L"Present file was accepted.");
    return true;
  }
  WriteLine(L"Present file was rejected." + RejectionText(result.verdict, ErrorText(result.error)));
  // A stale, cut or planted file in the download folder goes, and the
  // package is downloaded again; the file a file URL names is not ours to
  // delete (it is copied into the download folder and checked there).
  if (!fileUrl) DeleteDownloadedFile(path);
  p.present = false;
  return false;
}

bool PrerequisiteRunner::MayLaunch(const LaunchItem& item) {
  const auto checked = checkedFiles.find(item.prereqIndex);
  if (checked == checkedFiles.end() || checked->second.path != item.path) return true;  // not ours to check
  if (checked->second.hold) return true;  // nobody could change it since its check
  WriteLine(L"Checking file again before its launch:" + item.path);
  CheckedFile again;
  const AcceptanceResult result = AcceptFile(item.prereqIndex, item.path, again);
  if (again.accepted) {
    checked->second.hold = std::move(again.hold);
    return true;
  }
  WriteLine(L"File was rejected before its launch." +
            RejectionText(result.verdict, ErrorText(result.error)));
  return false;
}

uint32_t PrerequisiteRunner::TransferOne(size_t itemIndex) {
  if (itemIndex >= context.items.size()) return 5;
  DownloadItem& item = context.items[itemIndex];
  item.localPath = TargetPath(context.downloadFolder, item.url, item.folder);
  if (ExceedsPathLimit(item.localPath)) {  // no system call takes it
    context.lastTransferResult = ERROR_FILENAME_EXCED_RANGE;
    return 5;
  }
  Transfer transfer(context.observer, context.credentials);
  CreateParentFolders(item.localPath, &context.foldersCreated);  // a failure fails the transfer
  if (item.expectedSize != 0) transfer.SetExpectedSize(item.expectedSize);
  if (HostOf(item.url) == kAnyEncodingHost) transfer.SetAcceptEncoding(L"*");
  // With a digest to check, a redirect from https to http may be followed:
  // the digest decides about the file. The digest is taken by reading the
  // file while it is held (AcceptFile), not while it is written: only then
  // is it the digest of the bytes that run.
  const ExpectedFile expected = ExpectedFileOf(list.At(item.index));
  transfer.AllowHttpsToHttpRedirects(NeedsMd5(expected) || NeedsSha256(expected));
  transfer.SetLogLine(&WriteLine);
  context.lastTransferResult = transfer.Download(item.url, item.localPath);
  if (context.lastTransferResult != 0) return 5;
  item.status = 0;
  return 0;
}

uint32_t PrerequisiteRunner::DownloadPass(ProgressObserver* observer) {
  context.items.clear();
  context.observer = nullptr;
  context.deletionList.clear();
  context.observer = observer;
  const CancelCheck cancelled = [observer] { return observer != nullptr && observer->IsCancelled(); };
  // Files already in place run only after the check a download gets;
  // those that fail it are downloaded again below.
  for (size_t i = 0; i < list.Count(); ++i) {
    if (cancelled()) break;
    if (Action(i) == PrerequisiteAction::RunPresentFile && checkedFiles.count(i) == 0)
      CheckPresentFile(i, cancelled);
  }
  if (cancelled()) {
    WriteLine(L"Download was canceled.");
    return 0;
  }
  for (size_t i = 0; i < list.Count(); ++i) {
    if (Action(i) != PrerequisiteAction::Download) continue;
    const Prerequisite& p = list.At(i);
    DownloadItem item;
    item.url = p.Location;
    item.expectedSize = static_cast<uint32_t>(p.ExactSize);
    item.folder = p.Folder;
    item.index = i;
    context.items.push_back(std::move(item));
  }
  if (observer != nullptr && !context.items.empty())
    observer->SetRange(static_cast<uint32_t>(context.items.size()), 0);

  const std::wstring downloadingText = TextOrDefault(IDS_DOWNLOADING);
  for (size_t k = 0; k < context.items.size(); ++k) {
    if (observer != nullptr && observer->IsCancelled()) {
      WriteLine(L"Download was canceled.");
      return 0;
    }
    Prerequisite& p = list.At(context.items[k].index);
    if (observer != nullptr)
      observer->StatusText(Format(downloadingText, {p.DisplayName}), kStatusKindAcquisition);
    WriteLine(L"Starting download of:" + p.DisplayName);
    TransferOne(k);
    const DownloadItem& item = context.items[k];
    if (item.status != 0) {
      WriteLine(L"Download failed. Error:" + ErrorText(context.lastTransferResult));
      if (p.HasOption(L'm')) {
        if (observer != nullptr) observer->ErrorReport(p.DisplayName, kErrorMandatoryFailed, nullptr);
        return kInstallFailed;
      }
      continue;
    }
    WriteLine(L"Download completed succesfully.");
    if (!KeepsDownloads(list.general)) context.deletionList.push_back(item.localPath);
    CheckedFile checked;
    const AcceptanceResult accepted = AcceptFile(item.index, item.localPath, checked, cancelled);
    if (accepted.cancelled) {
      WriteLine(L"Download was canceled.");
      return 0;
    }
    if (!checked.accepted) {
      DeleteDownloadedFile(item.localPath);
      WriteLine(L"Downloaded file was rejected." +
                RejectionText(accepted.verdict, ErrorText(accepted.error)));
      if (observer != nullptr) observer->ErrorReport(L"", kErrorDownloadRejected, nullptr);
      return kInstallFailed;
    }
    WriteLine(L"Downloaded file was accepted.");
    checkedFiles[item.index] = std::move(checked);
    p.present = true;
  }
  return 0;
}

void OpenInternetShortcut(const std::wstring& url) {
  const std::wstring& temp = ProgramTempFolder();
  FileHandle file;
  std::wstring path;
  // A unique name: "URL", a number, ".url"; a taken name tries the next one.
  DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
  for (DWORD attempt = 0; attempt < 1000 && !file; ++attempt) {
    path = WithTrailingBackslash(temp) + Format(L"URL%X.url", {seed + attempt});
    file.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!file) return;
  std::string content = "[InternetShortcut]\r\nURL=" + ToAnsi(url) + "\r\n";
  DWORD written = 0;
  BOOL ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                        nullptr);
  file.reset();
  if (!ok || written != content.size()) return;
  ::ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOW);
}

void PrerequisiteRunner::OpenSitePass(ProgressObserver* observer) {
  uint32_t count = 0;
  for (size_t i = 0; i < list.Count(); ++i)
    if (Action(i) == PrerequisiteAction::OpenSite) ++count;
  if (observer != nullptr && count >= 1) observer->SetRange(count, 0);
  const std::wstring openingText = TextOrDefault(IDS_OPENING_SITE);
  for (size_t i = 0; i < list.Count(); ++i) {
    if (Action(i) != PrerequisiteAction::OpenSite) continue;
    if (observer != nullptr && observer->IsCancelled()) return;
    const Prerequisite& p = list.At(i);
    std::wstring caption = Format(openingText, {p.DisplayName});
    if (observer != nullptr) observer->StatusText(caption, kStatusKindAcquisition);
    // Nobody would see the browser where nobody can answer a window.
    if (!list.noDesktop) {
      WriteLine(L"Launching URL:" + p.Location);
      OpenInternetShortcut(p.Location);
    }
    if (observer != nullptr && !list.Quiet()) {
      // The list carries no manual-download text of its own: the box is empty.
      ::MessageBoxW(::GetForegroundWindow(), L"", caption.c_str(), MB_OK | MB_ICONINFORMATION);
    }
  }
}

void PrerequisiteRunner::BuildLaunchList() {
  // Where nobody can answer a window, the packages run with their quiet
  // command lines whatever the letters say.
  const CommandLineField field =
      list.noDesktop ? CommandLineField::NoUi : ChooseCommandLineField(list.general.Options);
  std::vector<LaunchItem>& items = launcher.launchList;
  items.clear();
  for (size_t i = 0; i < list.Count(); ++i) {
    const Prerequisite& p = list.At(i);
    const std::wstring& commandLine = field == CommandLineField::BasicUi ? p.BasicUiCommandLine
                                      : field == CommandLineField::NoUi  ? p.NoUiCommandLine
                                                                         : p.CommandLine;
    LaunchItem item;
    switch (Action(i)) {
      case PrerequisiteAction::RunShippedFile:
        item.path = packagedFiles.LocateForInstall(p.Location);
        item.commandLine = commandLine;
        break;
      case PrerequisiteAction::RunPresentFile: {
        // Only a file that passed its check runs: the one accepted in this
        // run (for a file URL fetched again, the checked copy), or the
        // present file once it passes now.
        auto checked = checkedFiles.find(i);
        if (checked == checkedFiles.end()) {
          if (!CheckPresentFile(i)) continue;
          checked = checkedFiles.find(i);
        }
        if (!checked->second.accepted) continue;
        item.path = checked->second.path;
        item.commandLine = ExpandProperties(commandLine, false);
        break;
      }
      default:
        continue;
    }
    item.displayName = p.DisplayName;
    item.rebootMode = RebootModeFor(p.Options);
    item.resultPropertyName = p.RetValPropName;
    item.prereqIndex = i;
    items.push_back(std::move(item));
  }
}

uint32_t PrerequisiteRunner::RunInstallLoop(ProgressObserver* observer) {
  BuildLaunchList();
  const std::vector<LaunchItem>& items = launcher.launchList;
  const std::wstring installingText = TextOrDefault(IDS_INSTALLING);
  if (observer != nullptr) observer->SetRange(static_cast<uint32_t>(items.size()), 0);
  for (size_t k = 0; k < items.size(); ++k) {
    if (rebootInProgress) return 0;
    if (observer != nullptr) {
      if (observer->IsCancelled()) return kInstallCancelled;
      observer->StatusText(Format(installingText, {items[k].displayName}), kStatusKindAcquisition);
    }
    const PackageLauncher::Outcome outcome = launcher.InstallPackage(k, observer == nullptr);
    if (outcome == PackageLauncher::Outcome::Done) continue;
    const Prerequisite& p = list.At(items[k].prereqIndex);
    if (!p.HasOption(L'm')) continue;
    if (observer != nullptr) {
      observer->ErrorReport(items[k].displayName,
                            outcome == PackageLauncher::Outcome::Failed ? kErrorMandatoryFailed
                                                                        : kErrorMandatoryReboot,
                            nullptr);
    }
    return kInstallFailed;
  }
  return 0;
}

bool PrerequisiteRunner::IsInstalledNow(size_t prereqIndex) {
  EvaluatePrereq(list, prereqIndex, true);
  if (list.At(prereqIndex).state == PrereqState::Download) RefreshPresent(prereqIndex);
  return list.At(prereqIndex).state == PrereqState::Installed;
}

}  // namespace prereq
