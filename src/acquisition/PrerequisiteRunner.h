#pragma once
// The passes of one chaining run over the selected prerequisites: download,
// open-site, install loop, in this order, and the state they share.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/Acceptance.h"
#include "acquisition/FailureTextRules.h"
#include "acquisition/PackagedFiles.h"
#include "acquisition/StreamDigest.h"
#include "chainer/Configuration.h"
#include "chainer/ResultStore.h"
#include "chainer/RunReportRules.h"
#include "execution/PackageLauncher.h"
#include "platform/core/LinkFreePaths.h"
#include "ui/ProgressObserver.h"
#include "ui/StatusWindow.h"

namespace prereq {

class CredentialsProvider;
class OverlappedDownloads;

// What happens to one prerequisite; the numbering is that of PrereqState.
enum class PrerequisiteAction : int32_t {
  Installed = 0,
  RunShippedFile = 1,
  Download = 2,
  OpenSite = 3,
  NotApplicable = 4,
  RunPresentFile = 5,
  Skip = 7,
};

inline constexpr uint32_t kInstallFailed = 1603;
inline constexpr uint32_t kInstallCancelled = 1602;
inline constexpr uint32_t kErrorDownloadRejected = kErrorFileChanged;
inline constexpr uint32_t kErrorMandatoryFailed = 0xE0000024;
inline constexpr uint32_t kErrorMandatoryReboot = 0xE0000025;

struct DownloadItem {
  std::wstring url;           // the first address; it names the local file
  uint32_t expectedSize = 0;  // bytes; 0 = no size check
  std::wstring localPath;     // set by the transfer step
  int32_t status = 4;         // 4 queued, 0 transferred
  size_t index = 0;           // the prerequisite's position in the list
  std::wstring folder;        // the prerequisite's Folder value
  std::vector<std::wstring> mirrors;  // further addresses (Url2, Url3, ...), in order
  size_t address = 0;                 // the address to fetch: 0 url, k mirrors[k - 1]

  size_t AddressCount() const { return 1 + mirrors.size(); }
  const std::wstring& Address() const { return address == 0 ? url : mirrors.at(address - 1); }
};

struct DownloadContext {
  std::wstring downloadFolder;  // ends with a backslash
  std::vector<DownloadItem> items;
  ProgressObserver* observer = nullptr;
  CredentialsProvider* credentials = nullptr;
  uint32_t lastTransferResult = 0;
  uint32_t lastHttpStatus = 0;  // of the last transfer's last answer; 0 when none
  std::vector<std::wstring> foldersCreated;  // outermost first
  std::vector<std::wstring> deletionList;
};

class PrerequisiteRunner : public RebootDecider {
 public:
  PrerequisiteRunner(PrereqList& list, const PackagedFiles& packagedFiles,
                     StatusWindow& statusWindow, ResultStore& store);
  // Deletes the downloaded files on the deletion list and removes the folders
  // the downloads created, last created first.
  ~PrerequisiteRunner() override;
  PrerequisiteRunner(const PrerequisiteRunner&) = delete;
  PrerequisiteRunner& operator=(const PrerequisiteRunner&) = delete;

  // The action rule; a present file that failed its check in this run is
  // downloaded again (2) instead of run (5), and so is a present file on a
  // network share until its copy in the download folder passed the check.
  PrerequisiteAction Action(size_t index) const;
  // Refreshes the present flag of a prerequisite by the presence rule.
  void RefreshPresent(size_t index);
  // Checks the present file of a prerequisite (the file a file URL names, or
  // its target in the download folder) as a download is checked (AcceptFile),
  // logs the verdict and records it. A rejected file in the download folder
  // is deleted and the present flag cleared. True when accepted; false also
  // when `cancelled` stopped the check (nothing is recorded then).
  bool CheckPresentFile(size_t index, const CancelCheck& cancelled = {});
  // The check of CheckPresentFile alone: nothing is logged, recorded or
  // deleted. `path` is the file judged.
  AcceptanceResult JudgePresentFile(size_t index, std::wstring& path) const;
  // Whether the shipped file of a prerequisite (action 1) is checked before
  // it runs: when the prerequisite has a Signer. Size and digests concern
  // downloads only.
  bool ChecksShippedFile(size_t index) const;
  // Checks the shipped file by its Signer, logs the verdict and records it.
  // True when accepted.
  bool CheckShippedFile(size_t index);
  // The check of CheckShippedFile alone; `path` is the file judged.
  AcceptanceResult JudgeShippedFile(size_t index, std::wstring& path) const;
  // Whether the prerequisite's present file is a file URL on a network share
  // (or a network drive): it is read again when it runs, so it is copied into
  // the download folder first and the copy is checked and run.
  bool PresentFileOnShare(size_t index) const;
  // Creates the missing parent folders of the item's file in the download
  // folder, recording them for removal at the end of the run.
  void CreateDownloadFolders(const DownloadItem& item);
  // Where a download of the prerequisite goes in the download folder.
  std::wstring DownloadTargetPath(size_t index) const;

  // 0, or 1603 when a mandatory download failed (at every address) or a
  // file was rejected: a downloaded one (at any address, and no address gave
  // an accepted one) or a shipped one.
  uint32_t DownloadPass(ProgressObserver* observer);
  void OpenSitePass(ProgressObserver* observer);
  // Rebuilds the launcher's list from the prerequisites to run now.
  void BuildLaunchList();
  // The launcher's item for the prerequisite when it is to run now (its
  // file passed its check); false otherwise.
  bool MakeLaunchItem(size_t prereqIndex, LaunchItem& item);
  // Runs the packages in list order: 0 done (also when a restart was started
  // by a package's reboot rule), 1602 cancelled, 1603 a mandatory
  // prerequisite's package failed or asked for a reboot.
  uint32_t RunInstallLoop(ProgressObserver* observer);

  // The overlapped run (general option "o"), in place of the download pass
  // and the install loop; the open-site pass runs between the two.
  // PrepareOverlappedRun: the checks of files in place and the queue of
  // downloads, 0 or 1603 as DownloadPass. RunOverlappedInstallLoop: the
  // downloads on their own threads, at most kMaxParallelDownloads at once,
  // and the install loop in list order, each package once its download
  // ended; results as RunInstallLoop, and 1603 for a download that ends the
  // download pass (a rejected file, a failed mandatory one). Defined in
  // OverlappedRun.cpp.
  uint32_t PrepareOverlappedRun(ProgressObserver* observer);
  uint32_t RunOverlappedInstallLoop(ProgressObserver* observer);
  // Evaluates the prerequisite again: true when it is now detected as
  // installed.
  bool IsInstalledNow(size_t prereqIndex) override;
  // Records whether the prerequisite's evaluation that just ran (after its
  // package) finds it installed.
  void RecordEvaluation(size_t prereqIndex);

  // Fetches the item's current address (item.address) into its local path,
  // which the first address names. 0 done, 5 failed. A target path longer
  // than Windows accepts fails with ERROR_FILENAME_EXCED_RANGE before
  // anything is created.
  uint32_t TransferOne(size_t itemIndex);
  // The same within another context (a download of the overlapped run).
  uint32_t TransferOne(DownloadContext& ctx, size_t itemIndex);

  PrereqList& list;
  const PackagedFiles& packagedFiles;
  StatusWindow& statusWindow;
  ResultStore& store;
  DownloadContext context;

  // The verdicts of the acceptance checks of this run, by prerequisite: the
  // file that passed (the one the install loop runs) or a rejection. An
  // accepted file is held open from its check until its package has started
  // (shared for reading only, with the folders above it held too), so that
  // nobody can change, replace or rename it in between; one that could not
  // be held is checked again right before its launch.
  struct CheckedFile {
    bool accepted = false;
    std::wstring path;
    Acceptance verdict = Acceptance::Accepted;  // why it was rejected
    LinkFreeFile hold;
  };
  std::map<size_t, CheckedFile> checkedFiles;

  // Checks the file at `path` for the prerequisite: holds it (as above) and
  // reads it through the hold, or, when it cannot be held, reads it by its
  // path. An accepted file's hold goes into `checked`.
  AcceptanceResult AcceptFile(size_t index, const std::wstring& path, CheckedFile& checked,
                              const CancelCheck& cancelled = {});
  // Right before the launch of an item: true when its file may run (held
  // since its check, or passing the check again now).
  bool MayLaunch(const LaunchItem& item);

  // How the addresses of one item ended.
  enum class Fetched { Accepted, Failed, Rejected, Cancelled };
  // Tries the item of `ctx` at its addresses in order until one gives an
  // accepted file. `verdict` receives the acceptance check of the file
  // accepted, or of the last file rejected when none was accepted; none when
  // no address gave a file (Failed). An accepted file is held in `checked`.
  // Cancelled: `isCancelled` stopped the check of a file that arrived. Reads
  // the prerequisite records' fixed fields only, so it may run beside the
  // install loop on its own context.
  Fetched FetchItem(DownloadContext& ctx, size_t itemIndex, std::optional<AcceptanceResult>& verdict,
                    CheckedFile& checked, const CancelCheck& isCancelled);

  PackageLauncher launcher{store, *this};
  // Set by the progress window when the user logs off or the system shuts
  // down, and by the launcher once Windows accepted the restart it asked for:
  // no further package is started.
  std::atomic<bool> rebootInProgress{false};

  // The account of the run that the passes fill (nothing is recorded
  // without one), and what ended them early.
  RunRecorder* recorder = nullptr;
  bool cancelled = false;      // a pass stopped because the user cancelled
  bool installerBusy = false;  // a mandatory package still found another installation running

 private:
  void RecordDownload(const DownloadItem& item, uint32_t milliseconds, const AcceptanceResult* verdict);
  void RecordLaunch(const LaunchItem& item);
  PrerequisiteAction ActionByRule(size_t index) const;
  // The file of a prerequisite that passed its check in this run, checking
  // it now with `check` when it was not checked yet; null when rejected.
  const CheckedFile* AcceptedFile(size_t index, const std::function<void(size_t)>& check);
  // The checks of files in place (a rejected shipped file gives 1603) and
  // the queue of downloads of the download pass; 0 otherwise.
  uint32_t PrepareDownloads(ProgressObserver* observer);
  // Points the launcher's wait for the Windows Installer at the observer.
  void PrepareLauncher(ProgressObserver* observer);
  // Runs the launcher's item k: none to go on, otherwise what ends the loop.
  std::optional<uint32_t> InstallItem(size_t k, ProgressObserver* observer);
  // Tells the observer, if any, that the mandatory prerequisite's download
  // failed (with context.lastTransferResult and lastHttpStatus).
  void ReportMandatoryDownloadFailed(ProgressObserver* observer, const Prerequisite& p);
  // The overlapped run: waits for download k and takes its result over as
  // the download pass would; none to go on, otherwise what ends the loop.
  std::optional<uint32_t> TakeDownload(OverlappedDownloads& downloads, size_t k,
                                       ProgressObserver* observer);
};

// The list's text when one is set, otherwise the string table's text `id`.
std::wstring TextOrDefault(const std::wstring& listText, uint32_t id);
// The string table, as the failure texts look their texts up.
const StringLookup& StringTable();

// Writes an internet shortcut for the URL into the temporary folder and asks
// the shell to open it.
void OpenInternetShortcut(const std::wstring& url);

}  // namespace prereq
