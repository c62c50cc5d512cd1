#include "acquisition/PrerequisiteRunner.h"

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <algorithm>
#include <vector>

#include "acquisition/Acceptance.h"
#include "acquisition/DownloadRules.h"
#include "acquisition/FailureTextRules.h"
#include "acquisition/Transfer.h"
#include "acquisition/WinInet.h"
#include "chainer/ChainerApp.h"
#include "chainer/ModulePaths.h"
#include "evaluation/FolderProperties.h"
#include "evaluation/Search.h"
#include "evaluation/SearchRules.h"
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

// A download's reports on their way to the pass's observer: the engine's
// error reports name the prerequisite and say why its download failed. The
// questions about certificates and credentials, whose answer the engine
// needs, pass unchanged.
class DownloadReports final : public ProgressObserver {
 public:
  DownloadReports(ProgressObserver& observer, const std::wstring& displayName)
      : observer_(observer), displayName_(displayName) {}
  void Watch(const Transfer* transfer) { transfer_ = transfer; }

  void SetRange(uint32_t count, uint32_t reserved) override { observer_.SetRange(count, reserved); }
  void Reserved3() override { observer_.Reserved3(); }
  void Start(int kind, uint64_t totalLength, const std::wstring& path) override {
    observer_.Start(kind, totalLength, path);
  }
  void Reserved5() override { observer_.Reserved5(); }
  void Done(uint32_t reserved1, uint32_t reserved2) override { observer_.Done(reserved1, reserved2); }
  void Progress(uint64_t bytes) override { observer_.Progress(bytes); }
  bool IsCancelled() override { return observer_.IsCancelled(); }
  bool IsPaused() override { return observer_.IsPaused(); }
  uint32_t ErrorReport(const std::wstring& text, uint32_t code, const void* extra) override {
    if (extra != nullptr) return observer_.ErrorReport(text, code, extra);
    const uint32_t status = transfer_ != nullptr ? transfer_->HttpStatus() : 0;
    return observer_.ErrorReport(
        DownloadFailedText(StringTable(), displayName_, code, status, SystemMessageText(code)), code,
        nullptr);
  }
  void StatusText(const std::wstring& text, int kind) override { observer_.StatusText(text, kind); }

 private:
  ProgressObserver& observer_;
  const std::wstring& displayName_;
  const Transfer* transfer_ = nullptr;
};

uint32_t MillisecondsSince(ULONGLONG start) {
  return static_cast<uint32_t>(std::min<ULONGLONG>(::GetTickCount64() - start, UINT32_MAX));
}

}  // namespace

std::wstring TextOrDefault(const std::wstring& listText, uint32_t id) {
  return listText.empty() ? LoadResourceString(id) : listText;
}

const StringLookup& StringTable() {
  static const StringLookup lookup = [](uint32_t id) { return LoadResourceString(id); };
  return lookup;
}

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

void PrerequisiteRunner::CreateDownloadFolders(const DownloadItem& item) {
  const std::wstring path = TargetPath(context.downloadFolder, item.url, item.folder);
  if (!ExceedsPathLimit(path)) CreateParentFolders(path, &context.foldersCreated);
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
  // A shipped file answers to its Signer alone: size and digests concern
  // downloads.
  ExpectedFile expected;
  if (Action(index) == PrerequisiteAction::RunShippedFile) expected.signer = list.At(index).Signer;
  else expected = ExpectedFileOf(list.At(index));
  checked.path = path;
  checked.accepted = false;
  checked.hold.Release();
  LinkFreeFile hold;
  AcceptanceResult result;
  if (OpenFileLinkFree(path, GENERIC_READ, FILE_SHARE_READ, LinkFreeDisposition::OpenExisting, hold) == 0) {
    result = VerifyOpenFile(hold.file.get(), path, expected, cancelled);
  } else {
    // Somebody writes it, or a link leads to it: judged by its path now and
    // again right before it runs.
    hold.Release();
    result = VerifyFile(path, expected, nullptr, cancelled);
  }
  checked.accepted = result.verdict == Acceptance::Accepted && !result.cancelled;
  checked.verdict = result.verdict;
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
  if (result.signature) WriteLine(SignatureLogLine(result));
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

bool PrerequisiteRunner::ChecksShippedFile(size_t index) const {
  return list.At(index).Signer.has_value();
}

AcceptanceResult PrerequisiteRunner::JudgeShippedFile(size_t index, std::wstring& path) const {
  const Prerequisite& p = list.At(index);
  path = packagedFiles.LocateForInstall(p.Location);
  ExpectedFile expected;
  expected.signer = p.Signer;
  return VerifyFile(path, expected);
}

bool PrerequisiteRunner::CheckShippedFile(size_t index) {
  const std::wstring path = packagedFiles.LocateForInstall(list.At(index).Location);
  WriteLine(L"Checking shipped file:" + path);
  CheckedFile& checked = checkedFiles[index];
  const AcceptanceResult result = AcceptFile(index, path, checked);
  if (result.signature) WriteLine(SignatureLogLine(result));
  WriteLine(checked.accepted ? std::wstring(L"Shipped file was accepted.")
                             : L"Shipped file was rejected." + RejectionText(result.verdict));
  return checked.accepted;
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

uint32_t PrerequisiteRunner::TransferOne(size_t itemIndex) { return TransferOne(context, itemIndex); }

uint32_t PrerequisiteRunner::TransferOne(DownloadContext& ctx, size_t itemIndex) {
  if (itemIndex >= ctx.items.size()) return 5;
  DownloadItem& item = ctx.items[itemIndex];
  item.localPath = TargetPath(ctx.downloadFolder, item.url, item.folder);
  if (ExceedsPathLimit(item.localPath)) {  // no system call takes it
    ctx.lastTransferResult = ERROR_FILENAME_EXCED_RANGE;
    return 5;
  }
  const std::wstring& address = item.Address();
  std::optional<DownloadReports> reports;
  if (ctx.observer != nullptr) reports.emplace(*ctx.observer, list.At(item.index).DisplayName);
  Transfer transfer(reports ? &*reports : nullptr, ctx.credentials);
  if (reports) reports->Watch(&transfer);
  CreateParentFolders(item.localPath, &ctx.foldersCreated);  // a failure fails the transfer
  if (item.expectedSize != 0) transfer.SetExpectedSize(item.expectedSize);
  if (HostOf(address) == kAnyEncodingHost) transfer.SetAcceptEncoding(L"*");
  // With a digest or a Signer to check, a redirect from https to http may be
  // followed: they decide about the file. The digests are taken by reading
  // the file while it is held (AcceptFile), not while it is written: only
  // then are they the digests of the bytes that run.
  const ExpectedFile expected = ExpectedFileOf(list.At(item.index));
  transfer.AllowHttpsToHttpRedirects(JudgesContent(expected));
  transfer.SetLogLine(&WriteLine);
  ctx.lastTransferResult = transfer.Download(address, item.localPath);
  ctx.lastHttpStatus = transfer.HttpStatus();
  if (ctx.lastTransferResult != 0) return 5;
  item.status = 0;
  return 0;
}

uint32_t PrerequisiteRunner::PrepareDownloads(ProgressObserver* observer) {
  context.items.clear();
  context.observer = nullptr;
  context.deletionList.clear();
  context.observer = observer;
  const CancelCheck isCancelled = [observer] { return observer != nullptr && observer->IsCancelled(); };
  // Files already in place run only after the check a download gets;
  // those that fail it are downloaded again below.
  for (size_t i = 0; i < list.Count(); ++i) {
    if (isCancelled()) break;
    if (Action(i) == PrerequisiteAction::RunPresentFile && checkedFiles.count(i) == 0)
      CheckPresentFile(i, isCancelled);
  }
  if (isCancelled()) {
    WriteLine(L"Download was canceled.");
    cancelled = true;
    return 0;
  }
  // A shipped file with a Signer is judged like a download, before anything
  // is downloaded: a rejected one ends the pass as a rejected download does.
  for (size_t i = 0; i < list.Count(); ++i) {
    if (Action(i) != PrerequisiteAction::RunShippedFile || !ChecksShippedFile(i) ||
        checkedFiles.count(i) != 0)
      continue;
    if (!CheckShippedFile(i)) {
      if (observer != nullptr)
        observer->ErrorReport(
            DownloadRejectedText(StringTable(), list.At(i).DisplayName, checkedFiles[i].verdict),
            kErrorDownloadRejected, nullptr);
      return kInstallFailed;
    }
  }
  for (size_t i = 0; i < list.Count(); ++i) {
    if (Action(i) != PrerequisiteAction::Download) continue;
    const Prerequisite& p = list.At(i);
    DownloadItem item;
    item.url = p.Location;
    item.expectedSize = static_cast<uint32_t>(p.ExactSize);
    item.folder = p.Folder;
    item.index = i;
    if (p.locationKind == LocationKind::Url) item.mirrors = p.Mirrors;
    context.items.push_back(std::move(item));
  }
  return 0;
}

uint32_t PrerequisiteRunner::DownloadPass(ProgressObserver* observer) {
  if (const uint32_t prepared = PrepareDownloads(observer); prepared != 0) return prepared;
  const CancelCheck isCancelled = [observer] { return observer != nullptr && observer->IsCancelled(); };
  if (observer != nullptr && !context.items.empty())
    observer->SetRange(static_cast<uint32_t>(context.items.size()), 0);

  const std::wstring downloadingText = TextOrDefault(list.downloadingText, IDS_DOWNLOADING);
  for (size_t k = 0; k < context.items.size(); ++k) {
    if (observer != nullptr && observer->IsCancelled()) {
      WriteLine(L"Download was canceled.");
      cancelled = true;
      return 0;
    }
    Prerequisite& p = list.At(context.items[k].index);
    if (observer != nullptr)
      observer->StatusText(Format(downloadingText, {p.DisplayName}), kStatusKindAcquisition);
    WriteLine(L"Starting download of:" + p.DisplayName);
    const ULONGLONG began = ::GetTickCount64();
    std::optional<AcceptanceResult> verdict;
    CheckedFile checked;
    const Fetched fetched = FetchItem(context, k, verdict, checked, isCancelled);
    const uint32_t milliseconds = MillisecondsSince(began);
    const DownloadItem& item = context.items[k];
    if (fetched == Fetched::Cancelled) {
      WriteLine(L"Download was canceled.");
      cancelled = true;
      return 0;
    }
    RecordDownload(item, milliseconds, verdict ? &*verdict : nullptr);
    if (fetched == Fetched::Rejected) {
      WriteLine(L"Downloaded file was rejected." +
                RejectionText(verdict->verdict, ErrorText(verdict->error)));
      if (observer != nullptr)
        observer->ErrorReport(DownloadRejectedText(StringTable(), p.DisplayName, verdict->verdict),
                              kErrorDownloadRejected, nullptr);
      return kInstallFailed;
    }
    if (fetched == Fetched::Failed) {
      if (context.lastTransferResult == kTransferCancelled) cancelled = true;
      WriteLine(L"Download failed. Error:" + ErrorText(context.lastTransferResult));
      if (p.HasOption(L'm')) {
        ReportMandatoryDownloadFailed(observer, p);
        return kInstallFailed;
      }
      continue;
    }
    WriteLine(L"Downloaded file was accepted.");
    checkedFiles[item.index] = std::move(checked);
    p.present = true;
  }
  return 0;
}

void PrerequisiteRunner::ReportMandatoryDownloadFailed(ProgressObserver* observer,
                                                       const Prerequisite& p) {
  if (observer == nullptr) return;
  const uint32_t code = context.lastTransferResult;
  observer->ErrorReport(DownloadFailedText(StringTable(), p.DisplayName, code, context.lastHttpStatus,
                                           SystemMessageText(code)),
                        kErrorMandatoryFailed, nullptr);
}

PrerequisiteRunner::Fetched PrerequisiteRunner::FetchItem(DownloadContext& ctx, size_t itemIndex,
                                                          std::optional<AcceptanceResult>& verdict,
                                                          CheckedFile& checked,
                                                          const CancelCheck& isCancelled) {
  DownloadItem& item = ctx.items[itemIndex];
  const ExpectedFile expected = ExpectedFileOf(list.At(item.index));
  // Bytes from two addresses make one file only when a digest or a Signer
  // shows afterwards that they do.
  const bool piecesJudged = JudgesContent(expected);
  const bool mirrored = item.AddressCount() > 1;
  const std::wstring partPath = TargetPath(ctx.downloadFolder, item.url, item.folder) + L".part";
  size_t partFrom = 0;  // whose bytes the part file holds; one found at the start is the first address's
  bool listedForDeletion = false;
  bool rejected = false;
  for (item.address = 0; item.address < item.AddressCount(); ++item.address) {
    if (item.address > 0 && ctx.observer != nullptr && ctx.observer->IsCancelled()) {
      ctx.lastTransferResult = kTransferCancelled;
      break;
    }
    if (mirrored) WriteLine(L"Download address:" + item.Address());
    bool pieced = false;
    if (partFrom != item.address && IsFile(partPath)) {
      if (piecesJudged) {
        pieced = true;
      } else {
        DeleteDownloadedFile(partPath);
        WriteLine(L"Partial download discarded: only a digest or a Signer allows continuing it from "
                  L"another address.");
      }
    }
    partFrom = item.address;
    if (TransferOne(ctx, itemIndex) != 0) {
      if (ctx.lastTransferResult == kTransferCancelled) break;
      if (mirrored) WriteLine(L"Leaving download address. Error:" + ErrorText(ctx.lastTransferResult));
      continue;
    }
    WriteLine(L"Download completed succesfully.");
    if (!KeepsDownloads(list.general) && !listedForDeletion) {
      ctx.deletionList.push_back(item.localPath);
      listedForDeletion = true;
    }
    // Held from here until its package has started, so that the bytes
    // judged are the bytes that run.
    const AcceptanceResult accepted = AcceptFile(item.index, item.localPath, checked, isCancelled);
    if (accepted.cancelled) return Fetched::Cancelled;
    if (accepted.signature) WriteLine(SignatureLogLine(accepted));
    verdict = accepted;
    if (checked.accepted) return Fetched::Accepted;
    DeleteDownloadedFile(item.localPath);
    item.status = 4;
    const std::wstring reason = RejectionText(accepted.verdict, ErrorText(accepted.error));
    if (mirrored) WriteLine(L"Leaving download address. File rejected." + reason);
    if (pieced) {
      // Parts of two different files, perhaps: this address once more, alone.
      WriteLine(L"The file was pieced together from two addresses: fetching it again from this "
                L"address alone.");
      --item.address;
      partFrom = item.address + 1;
      continue;
    }
    rejected = true;
  }
  // A later run starts at the first address again: it may not continue the
  // bytes of another one unless they are judged.
  if (!piecesJudged && partFrom != 0 && IsFile(partPath)) DeleteDownloadedFile(partPath);
  if (!rejected) verdict.reset();
  return rejected ? Fetched::Rejected : Fetched::Failed;
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
  const std::wstring openingText = TextOrDefault(list.openingSiteText, IDS_OPENING_SITE);
  for (size_t i = 0; i < list.Count(); ++i) {
    if (Action(i) != PrerequisiteAction::OpenSite) continue;
    if (observer != nullptr && observer->IsCancelled()) {
      cancelled = true;
      return;
    }
    const Prerequisite& p = list.At(i);
    std::wstring caption = Format(openingText, {p.DisplayName});
    if (observer != nullptr) observer->StatusText(caption, kStatusKindAcquisition);
    // Nobody would see the browser where nobody can answer a window.
    if (!list.noDesktop) {
      WriteLine(L"Launching URL:" + p.Location);
      OpenInternetShortcut(p.Location);
      if (PrereqReport* report = recorder != nullptr ? recorder->Prereq(i) : nullptr) {
        report->siteOpened = p.Location;
        recorder->Changed();
      }
    }
    if (observer != nullptr && !list.Quiet()) {
      const std::wstring message =
          ManualDownloadText(StringTable(), list.manualDownloadText, p.DisplayName);
      ::MessageBoxW(::GetForegroundWindow(), message.c_str(), caption.c_str(),
                    MB_OK | MB_ICONINFORMATION);
    }
  }
}

const PrerequisiteRunner::CheckedFile* PrerequisiteRunner::AcceptedFile(
    size_t index, const std::function<void(size_t)>& check) {
  auto checked = checkedFiles.find(index);
  if (checked == checkedFiles.end()) {
    check(index);
    checked = checkedFiles.find(index);
  }
  return checked != checkedFiles.end() && checked->second.accepted ? &checked->second : nullptr;
}

void PrerequisiteRunner::BuildLaunchList() {
  std::vector<LaunchItem>& items = launcher.launchList;
  items.clear();
  for (size_t i = 0; i < list.Count(); ++i) {
    LaunchItem item;
    if (MakeLaunchItem(i, item)) items.push_back(std::move(item));
  }
}

bool PrerequisiteRunner::MakeLaunchItem(size_t i, LaunchItem& item) {
  // Where nobody can answer a window, the packages run with their quiet
  // command lines whatever the letters say.
  const CommandLineField field =
      list.noDesktop ? CommandLineField::NoUi : ChooseCommandLineField(list.general.Options);
  {
    const Prerequisite& p = list.At(i);
    const std::wstring& commandLine = field == CommandLineField::BasicUi ? p.BasicUiCommandLine
                                      : field == CommandLineField::NoUi  ? p.NoUiCommandLine
                                                                         : p.CommandLine;
    switch (Action(i)) {
      case PrerequisiteAction::RunShippedFile:
        item.path = packagedFiles.LocateForInstall(p.Location);
        item.commandLine = commandLine;
        // One with a Signer runs only once it passed its check.
        if (ChecksShippedFile(i)) {
          const CheckedFile* checked = AcceptedFile(i, [this](size_t n) { CheckShippedFile(n); });
          if (checked == nullptr) return false;
          item.path = checked->path;
        }
        break;
      case PrerequisiteAction::RunPresentFile: {
        // Only a file that passed its check runs: the one accepted in this
        // run (for a file URL fetched again, the checked copy), or the
        // present file once it passes now.
        const CheckedFile* checked = AcceptedFile(i, [this](size_t n) { CheckPresentFile(n); });
        if (checked == nullptr) return false;
        item.path = checked->path;
        item.commandLine = ExpandProperties(commandLine, false);
        break;
      }
      default:
        return false;
    }
    item.displayName = p.DisplayName;
    item.rebootMode = RebootModeFor(p.Options);
    item.resultPropertyName = p.RetValPropName;
    item.prereqIndex = i;
    item.exitCodes = ParseExitCodes(p.ExitCodes).table;
  }
  return true;
}

uint32_t PrerequisiteRunner::RunInstallLoop(ProgressObserver* observer) {
  BuildLaunchList();
  const std::vector<LaunchItem>& items = launcher.launchList;
  PrepareLauncher(observer);
  if (observer != nullptr) observer->SetRange(static_cast<uint32_t>(items.size()), 0);
  for (size_t k = 0; k < items.size(); ++k) {
    if (const std::optional<uint32_t> stop = InstallItem(k, observer)) return *stop;
  }
  return 0;
}

void PrerequisiteRunner::PrepareLauncher(ProgressObserver* observer) {
  // A package that found another installation running runs again once the
  // Windows Installer is free, as the start-up waits for it; a cancel ends
  // the wait.
  launcher.waitForInstaller = [this, observer] {
    std::function<bool()> isCancelled;
    if (observer != nullptr) isCancelled = [observer] { return observer->IsCancelled(); };
    const InstallerWaitResult wait = WaitForInstaller(isCancelled);
    if (wait.cancelled) {
      cancelled = true;
      return false;
    }
    if (wait.outcome == InstallerWait::Failed) {
      WriteLine(L"Waiting for the Windows Installer failed. Error:" + ErrorText(wait.error));
      return false;
    }
    if (wait.releaseError != 0)
      WriteLine(L"Releasing the Windows Installer mutex failed. Error:" + ErrorText(wait.releaseError));
    return true;
  };
}

std::optional<uint32_t> PrerequisiteRunner::InstallItem(size_t k, ProgressObserver* observer) {
  const std::vector<LaunchItem>& items = launcher.launchList;
  const std::wstring installingText = LoadResourceString(IDS_INSTALLING);
  if (rebootInProgress) return 0;
  if (observer != nullptr) {
    if (observer->IsCancelled()) {
      cancelled = true;
      return kInstallCancelled;
    }
    observer->StatusText(Format(installingText, {items[k].displayName}), kStatusKindAcquisition);
  }
  const PackageLauncher::Outcome outcome = launcher.InstallPackage(k, observer == nullptr);
  RecordLaunch(items[k]);
  if (outcome == PackageLauncher::Outcome::Done) return std::nullopt;
  // Windows is restarting on the package's request: nothing more starts.
  if (outcome == PackageLauncher::Outcome::Restarted) return 0;
  const Prerequisite& p = list.At(items[k].prereqIndex);
  if (!p.HasOption(L'm')) return std::nullopt;
  if (outcome == PackageLauncher::Outcome::Failed && items[k].meaning == ExitMeaning::Retry)
    installerBusy = true;
  if (observer != nullptr) {
    const LaunchItem& item = items[k];
    const bool failed = outcome == PackageLauncher::Outcome::Failed;
    const PackageFailure failure = !failed      ? PackageFailure::NeedsRestart
                                   : item.started ? PackageFailure::EndedWithCode
                                                  : PackageFailure::NotStarted;
    observer->ErrorReport(PackageFailedText(StringTable(), item.displayName, failure,
                                            item.returnCode, SystemMessageText(item.returnCode)),
                          failed ? kErrorMandatoryFailed : kErrorMandatoryReboot, nullptr);
  }
  return kInstallFailed;
}

void PrerequisiteRunner::RecordDownload(const DownloadItem& item, uint32_t milliseconds,
                                        const AcceptanceResult* verdict) {
  PrereqReport* report = recorder != nullptr ? recorder->Prereq(item.index) : nullptr;
  if (report == nullptr) return;
  DownloadReport d;
  // The address whose file was judged; the first one when none gave a file.
  d.url = item.address < item.AddressCount() ? item.Address() : item.url;
  d.file = item.localPath;
  if (!SizeOfFileAt(item.localPath, d.bytes)) d.bytes = 0;
  d.milliseconds = milliseconds;
  d.resultCode = item.status == 0 ? 0 : context.lastTransferResult;
  d.resultText = ErrorText(d.resultCode);
  const ExpectedFile expected = ExpectedFileOf(list.At(item.index));
  if (expected.ChecksSize()) d.checks.push_back("size");
  if (expected.ChecksMd5()) d.checks.push_back("md5");
  if (expected.ChecksSha256()) d.checks.push_back("sha256");
  d.accepted = verdict != nullptr && verdict->verdict == Acceptance::Accepted;
  if (verdict != nullptr && !d.accepted)
    d.rejection = RejectionText(verdict->verdict, ErrorText(verdict->error));
  report->download = std::move(d);
  recorder->Changed();
}

void PrerequisiteRunner::RecordLaunch(const LaunchItem& item) {
  PrereqReport* report = recorder != nullptr ? recorder->Prereq(item.prereqIndex) : nullptr;
  if (report == nullptr) return;
  LaunchReport l;
  l.file = item.path;
  l.commandLine = item.commandLine;
  l.started = item.started;
  l.returnCode = item.returnCode;
  l.meaning = item.meaning;
  l.errorText = item.errorText;
  l.returnCodes = item.returnCodes;
  l.milliseconds = item.milliseconds;
  report->launch = std::move(l);
  recorder->Changed();
}

void PrerequisiteRunner::RecordEvaluation(size_t prereqIndex) {
  PrereqReport* report = recorder != nullptr ? recorder->Prereq(prereqIndex) : nullptr;
  if (report == nullptr) return;
  report->installedAfter = list.At(prereqIndex).state == PrereqState::Installed;
  recorder->Changed();
}

bool PrerequisiteRunner::IsInstalledNow(size_t prereqIndex) {
  EvaluatePrereq(list, prereqIndex, true);
  if (list.At(prereqIndex).state == PrereqState::Download) RefreshPresent(prereqIndex);
  RecordEvaluation(prereqIndex);
  return list.At(prereqIndex).state == PrereqState::Installed;
}

}  // namespace prereq
