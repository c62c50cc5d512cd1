#include "chainer/RunReportRules.h"

#include "platform/core/Json.h"
#include "platform/core/TextCodec.h"
#include "platform/core/TextFormat.h"

namespace prereq {

namespace {

constexpr int32_t kStateInstalled = 0;
constexpr int32_t kStateNotApplicable = 4;
constexpr int32_t kStateUnset = 8;
constexpr int32_t kDesignFailure = 1;

// `value` as `width` decimal digits (its lowest ones).
void PutDigits(char* out, uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

bool RestartStopsTheRun(const RunReport& r) {
  return r.rebootInProgress || (r.rebootRequired && !r.rebootRefused);
}

std::wstring CodeAndMeaning(uint32_t code, ExitMeaning meaning) {
  return L"return code " + FormatReturnCode(code) + L" (" + std::wstring(ExitMeaningWord(meaning)) +
         L")";
}

std::wstring SummaryText(PrereqOutcome outcome, const PrereqReport& p) {
  switch (outcome) {
    case PrereqOutcome::NotEvaluated: return L"not evaluated";
    case PrereqOutcome::NotApplicable: return L"not applicable";
    case PrereqOutcome::AlreadyPresent: return L"already present";
    case PrereqOutcome::NotSelected: return L"not selected";
    case PrereqOutcome::SearchOnly: return L"missing; the run only searched";
    case PrereqOutcome::Installed:
      return L"installed, " + CodeAndMeaning(p.launch->returnCode, p.launch->meaning);
    case PrereqOutcome::StillMissing:
      return L"still missing after its package gave " +
             CodeAndMeaning(p.launch->returnCode, p.launch->meaning);
    case PrereqOutcome::Failed: {
      const LaunchReport& l = *p.launch;
      if (!l.started)
        return L"could not be started: " + l.errorText + L" (error " + FormatReturnCode(l.returnCode) +
               L")";
      std::wstring text = L"failed, " + CodeAndMeaning(l.returnCode, l.meaning);
      if (l.meaning == ExitMeaning::Retry)
        text += Format(L" after %u attempts", {static_cast<uint32_t>(l.returnCodes.size())});
      return text;
    }
    case PrereqOutcome::DownloadFailed:
      return L"download failed: " + p.download->resultText + L" (code " +
             FormatReturnCode(p.download->resultCode) + L")";
    case PrereqOutcome::Rejected: return L"download rejected " + p.download->rejection;
    case PrereqOutcome::SiteOpened: return L"site opened for a manual download: " + *p.siteOpened;
    case PrereqOutcome::SkippedAfterCancel: return L"skipped after the cancel";
    case PrereqOutcome::SkippedAfterRestart: return L"skipped: Windows is restarting";
    case PrereqOutcome::NotReached: return L"not reached: the run ended before it";
  }
  return {};
}

void WriteDownload(JsonWriter& j, const DownloadReport& d) {
  j.BeginObject()
      .Key("url").String(d.url)
      .Key("file").String(d.file)
      .Key("bytes").Number(static_cast<int64_t>(d.bytes))
      .Key("seconds").Decimal(d.milliseconds, 3)
      .Key("resultCode").Number(d.resultCode)
      .Key("resultText").String(d.resultText)
      .Key("accepted").Bool(d.accepted);
  j.Key("checks").BeginArray();
  for (const std::string& check : d.checks) j.String(std::string_view(check));
  j.EndArray();
  j.Key("rejection").String(d.rejection).EndObject();
}

void WriteLaunch(JsonWriter& j, const LaunchReport& l) {
  j.BeginObject()
      .Key("file").String(l.file)
      .Key("commandLine").String(l.commandLine)
      .Key("started").Bool(l.started)
      .Key("returnCode").Number(l.returnCode)
      .Key("meaning").String(ExitMeaningWord(l.meaning))
      .Key("errorText").String(l.errorText);
  j.Key("returnCodes").BeginArray();
  for (uint32_t code : l.returnCodes) j.Number(code);
  j.EndArray();
  j.Key("seconds").Decimal(l.milliseconds, 3).EndObject();
}

}  // namespace

JsonWriter& WriteMachineMembers(JsonWriter& j, const MachineFacts& m) {
  j.Key("majorVersion").Number(m.majorVersion)
      .Key("minorVersion").Number(m.minorVersion)
      .Key("buildNumber").Number(m.buildNumber)
      .Key("servicePack").Number(m.servicePack)
      .Key("server").Bool(m.server)
      .Key("is64BitWindows").Bool(m.is64BitWindows)
      .Key("detailedName").String(m.detailedName)
      .Key("generalName").String(m.generalName)
      .Key("languageId").Number(m.languageId)
      .Key("languageName").String(m.languageName);
  j.Key("nativeMachine");
  if (m.nativeMachineKnown) j.String(MachineName(m.nativeMachine));
  else j.Null();
  return j;
}

void WriteUtcTime(const UtcTime& t, char (&out)[kUtcTimeLength]) {
  PutDigits(out, t.year, 4);
  out[4] = '-';
  PutDigits(out + 5, t.month, 2);
  out[7] = '-';
  PutDigits(out + 8, t.day, 2);
  out[10] = 'T';
  PutDigits(out + 11, t.hour, 2);
  out[13] = ':';
  PutDigits(out + 14, t.minute, 2);
  out[16] = ':';
  PutDigits(out + 17, t.second, 2);
  out[19] = 'Z';
}

std::string FormatUtcTime(const UtcTime& time) {
  char text[kUtcTimeLength];
  WriteUtcTime(time, text);
  return std::string(text, kUtcTimeLength);
}

std::string_view RunModeWord(RunMode mode) {
  switch (mode) {
    case RunMode::Quiet: return "quiet";
    case RunMode::BasicUi: return "basic-ui";
    case RunMode::None: break;
  }
  return "none";
}

std::span<const RunReasonInfo> RunReasons() {
  static constexpr RunReasonInfo kReasons[] = {
      {RunReason::NothingToDo, "nothing-to-do",
       L"no prerequisite had to be obtained (or the list is empty)"},
      {RunReason::SearchOnly, "search-only",
       L"the general Options have neither \"q\" nor \"b\": the run only searched"},
      {RunReason::Installed, "installed",
       L"the passes ran and every mandatory prerequisite is installed"},
      {RunReason::RebootNeeded, "reboot-needed",
       L"as installed, but a restart is owed: a package's code meant \"reboot\" and no reboot "
       L"rule restarted, or the user answered No"},
      {RunReason::RebootPending, "reboot-pending",
       L"a reboot rule fired and Windows did not accept the restart"},
      {RunReason::RestartStarted, "restart-started",
       L"Windows is restarting: a reboot rule's restart was accepted, a package's code meant "
       L"\"restarted\", or the session ended"},
      {RunReason::Cancelled, "cancelled", L"the user cancelled the basic-UI run"},
      {RunReason::MandatoryMissing, "mandatory-missing",
       L"a mandatory prerequisite is still missing after the run"},
      {RunReason::InstallerBusy, "installer-busy",
       L"as mandatory-missing, because the mandatory package still found another installation "
       L"running after its last attempt"},
      {RunReason::Failed, "failed", L"the wait for the Windows Installer at the start failed"},
      {RunReason::Crashed, "crashed",
       L"a fault or an error nobody handled ended the run (the crash report is in the log)"},
  };
  return kReasons;
}

std::string_view RunReasonWord(RunReason reason) {
  for (const RunReasonInfo& r : RunReasons())
    if (r.reason == reason) return r.word;
  return "failed";
}

RunReason ReasonOf(const RunReport& r) {
  if (r.crashed) return RunReason::Crashed;
  if (r.waitFailed) return RunReason::Failed;
  if (!r.anyToObtain) return RunReason::NothingToDo;
  if (r.mode == RunMode::None) return RunReason::SearchOnly;
  if (r.cancelled) return RunReason::Cancelled;
  if (r.runResult == -1) return r.rebootInProgress ? RunReason::RestartStarted : RunReason::RebootPending;
  if (r.runResult != 0) return r.installerBusy ? RunReason::InstallerBusy : RunReason::MandatoryMissing;
  if (r.rebootRequired || r.rebootRefused) return RunReason::RebootNeeded;
  return RunReason::Installed;
}

int32_t InstallerExitCode(RunReason reason) {
  switch (reason) {
    case RunReason::NothingToDo:
    case RunReason::SearchOnly:
    case RunReason::Installed:
      return 0;
    case RunReason::RebootNeeded:
    case RunReason::RebootPending:
      return 3010;
    case RunReason::RestartStarted:
      return 1641;
    case RunReason::Cancelled:
      return 1602;
    case RunReason::MandatoryMissing:
    case RunReason::InstallerBusy:
    case RunReason::Failed:
    case RunReason::Crashed:
      break;
  }
  return 1603;
}

int32_t ProcessExitCode(const RunReport& r) {
  if (r.installerExitCodes) return InstallerExitCode(ReasonOf(r));
  if (r.crashed || r.waitFailed) return kDesignFailure;
  return r.runResult;
}

std::span<const PrereqOutcomeInfo> PrereqOutcomes() {
  static constexpr PrereqOutcomeInfo kOutcomes[] = {
      {PrereqOutcome::NotEvaluated, "not-evaluated", L"the run ended before the evaluation"},
      {PrereqOutcome::NotApplicable, "not-applicable",
       L"its system, language or processor condition excludes it"},
      {PrereqOutcome::AlreadyPresent, "already-present", L"installed before the run"},
      {PrereqOutcome::NotSelected, "not-selected", L"not installed, and not selected"},
      {PrereqOutcome::SearchOnly, "search-only", L"missing, and the run only searched"},
      {PrereqOutcome::Installed, "installed",
       L"its package's code meant success, reboot or restarted, and it was not found missing "
       L"afterwards"},
      {PrereqOutcome::StillMissing, "still-missing",
       L"its package's code meant success, but it is not detected afterwards"},
      {PrereqOutcome::Failed, "failed",
       L"its package could not start, its code meant failure, or still meant retry after the "
       L"last attempt"},
      {PrereqOutcome::DownloadFailed, "download-failed", L"the download failed"},
      {PrereqOutcome::Rejected, "rejected",
       L"the downloaded file failed its size, digest or signature check and was deleted"},
      {PrereqOutcome::SiteOpened, "site-opened", L"its site was opened for a manual download"},
      {PrereqOutcome::SkippedAfterCancel, "skipped-after-cancel",
       L"selected, but the user cancelled before it"},
      {PrereqOutcome::SkippedAfterRestart, "skipped-after-restart",
       L"selected, but Windows was restarting before it"},
      {PrereqOutcome::NotReached, "not-reached",
       L"selected, but the run ended before it (a mandatory failure ended a step, or a crash)"},
  };
  return kOutcomes;
}

std::string_view PrereqOutcomeWord(PrereqOutcome outcome) {
  for (const PrereqOutcomeInfo& o : PrereqOutcomes())
    if (o.outcome == outcome) return o.word;
  return "not-reached";
}

PrereqOutcome OutcomeOf(const PrereqReport& p, const RunReport& run) {
  if (p.state == kStateUnset) return PrereqOutcome::NotEvaluated;
  if (p.state == kStateNotApplicable) return PrereqOutcome::NotApplicable;
  if (p.launch) {
    const LaunchReport& l = *p.launch;
    const bool succeeded = l.started && (l.meaning == ExitMeaning::Success ||
                                         l.meaning == ExitMeaning::Reboot ||
                                         l.meaning == ExitMeaning::Restarted);
    if (!succeeded) return PrereqOutcome::Failed;
    return p.installedAfter == false ? PrereqOutcome::StillMissing : PrereqOutcome::Installed;
  }
  if (p.download && !p.download->accepted)
    return p.download->resultCode != 0 ? PrereqOutcome::DownloadFailed : PrereqOutcome::Rejected;
  if (p.siteOpened) return PrereqOutcome::SiteOpened;
  if (!p.selected)
    return p.state == kStateInstalled ? PrereqOutcome::AlreadyPresent : PrereqOutcome::NotSelected;
  if (run.mode == RunMode::None) return PrereqOutcome::SearchOnly;
  if (run.cancelled) return PrereqOutcome::SkippedAfterCancel;
  if (RestartStopsTheRun(run)) return PrereqOutcome::SkippedAfterRestart;
  return PrereqOutcome::NotReached;
}

std::string ComposeResultJson(const RunReport& r) {
  JsonWriter j;
  j.BeginObject();
  j.Key("format").Number(1);
  j.Key("program").BeginObject().Key("path").String(r.programPath).Key("fileVersion");
  if (r.programVersion.empty()) j.Null();
  else j.String(r.programVersion);
  j.EndObject();
  j.Key("configuration").String(r.configPath);
  j.Key("start").String(FormatUtcTime(r.start));
  j.Key("end").String(FormatUtcTime(r.end));
  j.Key("mode").String(RunModeWord(r.mode));
  j.Key("installerExitCodes").Bool(r.installerExitCodes);
  j.Key("exitCode").Number(ProcessExitCode(r));
  j.Key("reason").String(RunReasonWord(ReasonOf(r)));
  j.Key("machine");
  if (r.machineKnown) WriteMachineMembers(j.BeginObject(), r.machine).EndObject();
  else j.Null();
  j.Key("prerequisites").BeginArray();
  for (const PrereqReport& p : r.prereqs) {
    j.BeginObject()
        .Key("key").String(p.key)
        .Key("displayName").String(p.displayName)
        .Key("mandatory").Bool(p.mandatory)
        .Key("outcome").String(PrereqOutcomeWord(OutcomeOf(p, r)));
    j.Key("applies");
    if (p.state == kStateUnset) j.Null();
    else j.Bool(p.state != kStateNotApplicable);
    j.Key("decision");
    if (p.state == kStateUnset) j.Null();
    else j.String(p.decision);
    j.Key("selected").Bool(p.selected);
    j.Key("download");
    if (p.download) WriteDownload(j, *p.download);
    else j.Null();
    j.Key("launch");
    if (p.launch) WriteLaunch(j, *p.launch);
    else j.Null();
    j.Key("siteOpened");
    if (p.siteOpened) j.String(*p.siteOpened);
    else j.Null();
    j.Key("installedAfter");
    if (p.installedAfter) j.Bool(*p.installedAfter);
    else j.Null();
    j.EndObject();
  }
  j.EndArray();
  j.Key("reboot").BeginObject()
      .Key("required").Bool(r.rebootRequired)
      .Key("refused").Bool(r.rebootRefused)
      .Key("inProgress").Bool(r.rebootInProgress)
      .EndObject();
  j.EndObject();
  return j.Text();
}

std::vector<std::wstring> SummaryLines(const RunReport& r) {
  std::vector<std::wstring> lines;
  lines.push_back(L"Summary: exit code " + Format(L"%d", {ProcessExitCode(r)}) + L" (" +
                  DecodeUtf8(RunReasonWord(ReasonOf(r))) + L")");
  for (const PrereqReport& p : r.prereqs)
    lines.push_back(L"  " + p.key + L" " + p.displayName + L": " + SummaryText(OutcomeOf(p, r), p));
  return lines;
}

}  // namespace prereq
