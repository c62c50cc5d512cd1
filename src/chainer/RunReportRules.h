#pragma once
// The account of one run for deployment tools and for whoever reads the log
// later: what became of every prerequisite, why the run ended with its exit
// code, the result file's JSON text and the summary lines of the log. Pure:
// the chainer fills the record as the run goes (ChainingRun, the runner).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "evaluation/OsConditions.h"
#include "execution/ExitCodeRules.h"

namespace prereq {

// A moment in UTC, as the system clock gives it.
struct UtcTime {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
inline constexpr size_t kUtcTimeLength = 20;  // "2026-12-09T10:11:12Z"
// Writes the ISO 8601 form into exactly kUtcTimeLength characters (no
// terminator, nothing allocated: also safe while the process ends after a
// fault). Fields beyond their digits are cut to them.
void WriteUtcTime(const UtcTime& time, char (&out)[kUtcTimeLength]);
std::string FormatUtcTime(const UtcTime& time);

enum class RunMode { None, Quiet, BasicUi };
std::string_view RunModeWord(RunMode mode);  // "none", "quiet", "basic-ui"

struct DownloadReport {
  std::wstring url;
  std::wstring file;        // where it was written
  uint64_t bytes = 0;       // the size of that file afterwards (0 when there is none)
  uint32_t milliseconds = 0;
  uint32_t resultCode = 0;  // the transfer's result: 0, a system, WinINet or 0xE00000xx code
  std::wstring resultText;
  bool accepted = false;            // it passed the acceptance check
  std::vector<std::string> checks;  // the checks it was judged by: "size", "md5", "sha256"
  std::wstring rejection;           // why it was rejected, as the log says it
};

struct LaunchReport {
  std::wstring file;
  std::wstring commandLine;
  bool started = false;              // the last attempt ran (its code is the package's)
  uint32_t returnCode = 0;           // of the last attempt: exit code, or the system error
  ExitMeaning meaning = ExitMeaning::Failure;  // of the last attempt
  std::wstring errorText;            // why the last attempt did not start
  std::vector<uint32_t> returnCodes; // every attempt's code, in order
  uint32_t milliseconds = 0;         // all attempts together, waits included
};

struct PrereqReport {
  std::wstring key;  // "App1", ...
  std::wstring displayName;
  bool mandatory = false;  // "m" without "i": the run checks it after the install loop
  int32_t state = 8;       // the decision in the PrereqState numbering; 8: not evaluated
  std::wstring decision;   // as the log words it
  bool selected = false;
  std::optional<DownloadReport> download;
  std::optional<LaunchReport> launch;
  std::optional<std::wstring> siteOpened;
  // Whether it was detected as installed when it was last evaluated after
  // its package ran; none when it was not evaluated again after that.
  std::optional<bool> installedAfter;
};

struct RunReport {
  std::wstring programPath;
  std::wstring programVersion;  // "1.2.3.4"; empty when the file has none
  std::wstring configPath;
  UtcTime start, end;
  RunMode mode = RunMode::None;
  bool installerExitCodes = false;  // general option "e"
  bool machineKnown = false;
  MachineFacts machine;
  std::vector<PrereqReport> prereqs;

  // How the run ended.
  bool waitFailed = false;     // the start-up wait for the Windows Installer failed
  bool anyToObtain = false;    // a prerequisite had to be obtained
  bool cancelled = false;      // the user cancelled the basic-UI run
  bool installerBusy = false;  // a mandatory package still found another installation running
  bool rebootRequired = false, rebootRefused = false, rebootInProgress = false;
  int32_t runResult = 0;  // the chaining run's result: 0, 1 or -1
  bool crashed = false;   // the run ended through the crash handling
};

// The report of the running run, and whom to tell when it changed (the
// account a crash would leave). Changed by one thread at a time, as the
// prerequisite records are.
struct RunRecorder {
  RunReport report;
  std::function<void()> changed;

  void Changed() const {
    if (changed) changed();
  }
  // The record of a prerequisite; none for an index the report lacks.
  PrereqReport* Prereq(size_t index) {
    return index < report.prereqs.size() ? &report.prereqs[index] : nullptr;
  }
};

// One word for why the run ended with its exit code.
enum class RunReason {
  NothingToDo,       // no prerequisite had to be obtained
  SearchOnly,        // neither "q" nor "b": the run only searched
  Installed,         // the passes ran; every mandatory prerequisite is present
  RebootNeeded,      // as Installed, but a restart is owed (3010, or the user said No)
  RebootPending,     // a reboot rule fired and Windows did not accept the restart
  RestartStarted,    // Windows is restarting or ending the session (the run's or a package's doing)
  Cancelled,         // the user cancelled
  MandatoryMissing,  // a mandatory prerequisite is still missing
  InstallerBusy,     // ... because its package found another installation running, every time
  Failed,            // the wait for the Windows Installer failed
  Crashed,           // a fault or an exception nobody handled ended the run
};
std::string_view RunReasonWord(RunReason reason);  // "nothing-to-do", "installed", ...
struct RunReasonInfo {
  RunReason reason;
  std::string_view word;
  std::wstring_view when;
};
// Every reason in the order above, for the guide.
std::span<const RunReasonInfo> RunReasons();
RunReason ReasonOf(const RunReport& report);

// The exit code by the Windows Installer's convention: 0 (nothing to do,
// search only, installed), 3010 (a restart is needed: owed or pending), 1641
// (a restart was started), 1602 (cancelled), 1603 (missing, busy, failed,
// crashed).
int32_t InstallerExitCode(RunReason reason);
// The process exit code: the installer convention with general option "e";
// otherwise the design's: the chaining run's 0, 1 or -1, and 1 when the wait
// failed or the run crashed.
int32_t ProcessExitCode(const RunReport& report);

// What became of one prerequisite.
enum class PrereqOutcome {
  NotEvaluated,         // the run ended before its evaluation
  NotApplicable,        // the system, language or processor condition excludes it
  AlreadyPresent,       // installed before the run
  NotSelected,          // not installed, not selected
  SearchOnly,           // missing, and the run only searched
  Installed,            // its package succeeded (and it is not found missing afterwards)
  StillMissing,         // its package succeeded, but it is not detected afterwards
  Failed,               // its package failed, could not start, or was busy every time
  DownloadFailed,
  Rejected,             // the downloaded file failed its check
  SiteOpened,           // its site was opened for a manual download
  SkippedAfterCancel,
  SkippedAfterRestart,
  NotReached,           // the run ended before it came to it
};
std::string_view PrereqOutcomeWord(PrereqOutcome outcome);
struct PrereqOutcomeInfo {
  PrereqOutcome outcome;
  std::string_view word;
  std::wstring_view what;
};
// Every outcome in the order above, for the guide.
std::span<const PrereqOutcomeInfo> PrereqOutcomes();
PrereqOutcome OutcomeOf(const PrereqReport& prereq, const RunReport& run);

// The members of a machine's facts inside the current JSON object, as the
// result file and prereq-plan's --json write them.
class JsonWriter;
JsonWriter& WriteMachineMembers(JsonWriter& json, const MachineFacts& machine);

// The result file: UTF-8 JSON text (the guide's result-file schema), with a
// line end. `exitCode` and `reason` are the run's own.
std::string ComposeResultJson(const RunReport& report);

// The log's summary: a heading, then one line per prerequisite in list
// order ("  App1 Runtime: installed, return code 0 (success)").
std::vector<std::wstring> SummaryLines(const RunReport& report);

}  // namespace prereq
