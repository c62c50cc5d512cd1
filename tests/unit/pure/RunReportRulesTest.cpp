#include <gtest/gtest.h>

#include <climits>

#include "chainer/RunReportRules.h"
#include "platform/core/Json.h"

using namespace prereq;

namespace {

RunReport Ran(RunMode mode = RunMode::Quiet) {
  RunReport r;
  r.mode = mode;
  r.anyToObtain = true;
  return r;
}

LaunchReport Launched(uint32_t code, ExitMeaning meaning, bool started = true) {
  LaunchReport l;
  l.file = L"C:\\s\\pkg.exe";
  l.started = started;
  l.returnCode = code;
  l.meaning = meaning;
  l.returnCodes = {code};
  return l;
}

}  // namespace

TEST(RunReportRules, ReasonAndExitCodes) {
  struct Case {
    const char* label;
    RunReport report;
    RunReason reason;
    int32_t installer;
  };
  auto with = [](RunReport r, auto change) {
    change(r);
    return r;
  };
  const Case cases[] = {
      {"empty list", with(Ran(), [](RunReport& r) { r.anyToObtain = false; }), RunReason::NothingToDo, 0},
      {"search only", Ran(RunMode::None), RunReason::SearchOnly, 0},
      {"installed", Ran(), RunReason::Installed, 0},
      {"3010 owed", with(Ran(), [](RunReport& r) { r.rebootRefused = true; }), RunReason::RebootNeeded, 3010},
      {"No answered", with(Ran(), [](RunReport& r) { r.rebootRequired = r.rebootRefused = true; }),
       RunReason::RebootNeeded, 3010},
      {"reboot not accepted", with(Ran(), [](RunReport& r) { r.rebootRequired = true, r.runResult = -1; }),
       RunReason::RebootPending, 3010},
      {"restart started", with(Ran(), [](RunReport& r) { r.rebootInProgress = true, r.runResult = -1; }),
       RunReason::RestartStarted, 1641},
      {"cancelled", with(Ran(RunMode::BasicUi), [](RunReport& r) { r.cancelled = true, r.runResult = 1; }),
       RunReason::Cancelled, 1602},
      {"missing", with(Ran(), [](RunReport& r) { r.runResult = 1; }), RunReason::MandatoryMissing, 1603},
      {"busy", with(Ran(), [](RunReport& r) { r.runResult = 1, r.installerBusy = true; }),
       RunReason::InstallerBusy, 1603},
      // A busy package of an optional prerequisite leaves the run a success.
      {"busy optional", with(Ran(), [](RunReport& r) { r.installerBusy = true; }), RunReason::Installed, 0},
      {"wait failed", with(Ran(), [](RunReport& r) { r.waitFailed = true, r.anyToObtain = false; }),
       RunReason::Failed, 1603},
      {"crashed", with(Ran(), [](RunReport& r) { r.crashed = true, r.runResult = -1; }), RunReason::Crashed, 1603},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReasonOf(c.report), c.reason) << c.label;
    EXPECT_EQ(InstallerExitCode(c.reason), c.installer) << c.label;
    RunReport withLetter = c.report;
    withLetter.installerExitCodes = true;
    EXPECT_EQ(ProcessExitCode(withLetter), c.installer) << c.label;
    // Without the letter the design's codes stay: the run's result, 1 after a failure.
    const int32_t design = c.report.crashed || c.report.waitFailed ? 1 : c.report.runResult;
    EXPECT_EQ(ProcessExitCode(c.report), design) << c.label;
  }
}

TEST(RunReportRules, OutcomeOfEachPrerequisite) {
  struct Case {
    const char* label;
    PrereqReport prereq;
    RunReport run;
    PrereqOutcome outcome;
  };
  auto p = [](int32_t state, bool selected, auto change) {
    PrereqReport r;
    r.state = state;
    r.selected = selected;
    change(r);
    return r;
  };
  auto none = [](PrereqReport&) {};
  RunReport cancelled = Ran(RunMode::BasicUi);
  cancelled.cancelled = true;
  RunReport restarting = Ran();
  restarting.rebootInProgress = true;
  RunReport rebootDue = Ran();
  rebootDue.rebootRequired = true;
  RunReport rebootRefused = rebootDue;
  rebootRefused.rebootRefused = true;
  const Case cases[] = {
      {"unevaluated", p(8, false, none), Ran(), PrereqOutcome::NotEvaluated},
      {"excluded", p(4, false, none), Ran(), PrereqOutcome::NotApplicable},
      {"present", p(0, false, none), Ran(), PrereqOutcome::AlreadyPresent},
      {"deselected", p(2, false, none), Ran(), PrereqOutcome::NotSelected},
      {"search only", p(1, true, none), Ran(RunMode::None), PrereqOutcome::SearchOnly},
      {"installed", p(1, true, [](PrereqReport& r) { r.launch = Launched(0, ExitMeaning::Success); }),
       Ran(), PrereqOutcome::Installed},
      {"1641", p(1, true, [](PrereqReport& r) { r.launch = Launched(1641, ExitMeaning::Restarted); }),
       restarting, PrereqOutcome::Installed},
      {"3010 detected", p(1, true, [](PrereqReport& r) {
         r.launch = Launched(3010, ExitMeaning::Reboot);
         r.installedAfter = true;
       }), Ran(), PrereqOutcome::Installed},
      {"0 not detected", p(1, true, [](PrereqReport& r) {
         r.launch = Launched(0, ExitMeaning::Success);
         r.installedAfter = false;
       }), Ran(), PrereqOutcome::StillMissing},
      {"failure", p(1, true, [](PrereqReport& r) { r.launch = Launched(1603, ExitMeaning::Failure); }),
       Ran(), PrereqOutcome::Failed},
      {"busy to the end", p(1, true, [](PrereqReport& r) { r.launch = Launched(1618, ExitMeaning::Retry); }),
       Ran(), PrereqOutcome::Failed},
      {"not started", p(1, true, [](PrereqReport& r) { r.launch = Launched(2, ExitMeaning::Failure, false); }),
       Ran(), PrereqOutcome::Failed},
      {"download failed", p(2, true, [](PrereqReport& r) {
         r.download = DownloadReport{};
         r.download->resultCode = 12029;
       }), Ran(), PrereqOutcome::DownloadFailed},
      {"rejected", p(2, true, [](PrereqReport& r) { r.download = DownloadReport{}; }), Ran(),
       PrereqOutcome::Rejected},
      {"accepted, loop not reached", p(2, true, [](PrereqReport& r) {
         r.download = DownloadReport{};
         r.download->accepted = true;
       }), Ran(), PrereqOutcome::NotReached},
      {"site", p(3, true, [](PrereqReport& r) { r.siteOpened = L"https://x"; }), Ran(),
       PrereqOutcome::SiteOpened},
      {"after cancel", p(1, true, none), cancelled, PrereqOutcome::SkippedAfterCancel},
      {"after restart", p(1, true, none), restarting, PrereqOutcome::SkippedAfterRestart},
      {"reboot rule fired", p(1, true, none), rebootDue, PrereqOutcome::SkippedAfterRestart},
      {"restart refused", p(1, true, none), rebootRefused, PrereqOutcome::NotReached},
  };
  for (const Case& c : cases) EXPECT_EQ(OutcomeOf(c.prereq, c.run), c.outcome) << c.label;
}

TEST(RunReportRules, UtcTimeIsTwentyCharacters) {
  EXPECT_EQ(FormatUtcTime({2026, 12, 9, 7, 5, 3}), "2026-12-09T07:05:03Z");
  EXPECT_EQ(FormatUtcTime({}), "0000-00-00T00:00:00Z");
  EXPECT_EQ(FormatUtcTime({9999, 12, 31, 23, 59, 59}), "9999-12-31T23:59:59Z");
  // Beyond its digits a field is cut, never longer.
  EXPECT_EQ(FormatUtcTime({10000, 100, 1, 1, 1, 1}), "0000-00-01T01:01:01Z");
}

TEST(RunReportRules, JsonDecimals) {
  const struct {
    int64_t scaled;
    const char* text;
    int decimals = 3;
  } cases[] = {
      {0, "0.000"}, {5, "0.005"}, {999, "0.999"}, {1000, "1.000"}, {1250, "1.250"},
      {-5, "-0.005"}, {INT64_MIN, "-9223372036854775.808"},
      {15, "1.5", 1}, {5, "0.5", 1}, {15, "15", 0}, {-15, "-15", 0}, {15, "15", -1},
  };
  for (const auto& c : cases) {
    JsonWriter j;
    j.BeginArray().Decimal(c.scaled, c.decimals).EndArray();
    EXPECT_EQ(j.Text(), std::string("[\n  ") + c.text + "\n]\n") << c.scaled;
  }
}

TEST(RunReportRules, ResultJsonCarriesTheRecord) {
  RunReport r = Ran();
  r.programPath = L"C:\\Setup\\\"odd\"\\prereq.exe";
  r.configPath = L"C:\\Setup\\prereq.ini";
  r.start = {2026, 1, 2, 3, 4, 5};
  r.end = {2026, 1, 2, 3, 4, 9};
  r.installerExitCodes = true;
  r.runResult = 1;
  PrereqReport a;
  a.key = L"App1";
  a.displayName = std::wstring(L"Tab\tnew\nline \x01 ") + wchar_t(0xD800) + L" end";
  a.mandatory = true;
  a.state = 2;
  a.decision = L"No acceptable version found. It must be downloaded.";
  a.selected = true;
  a.download = DownloadReport{};
  a.download->bytes = 5000000000ull;
  a.download->milliseconds = 1250;
  a.download->accepted = true;
  a.download->checks = {"size", "sha256"};
  a.launch = Launched(0, ExitMeaning::Success);
  a.launch->returnCodes = {1618, 0};
  a.installedAfter = false;
  r.prereqs.push_back(a);
  PrereqReport b;
  b.key = L"App2";
  r.prereqs.push_back(b);

  const std::string json = ComposeResultJson(r);
  auto has = [&json](const std::string& part) { return json.find(part) != std::string::npos; };
  EXPECT_TRUE(has("\"path\": \"C:\\\\Setup\\\\\\\"odd\\\"\\\\prereq.exe\"")) << json;
  EXPECT_TRUE(has("\"fileVersion\": null"));
  EXPECT_TRUE(has("\"start\": \"2026-01-02T03:04:05Z\""));
  EXPECT_TRUE(has("\"end\": \"2026-01-02T03:04:09Z\""));
  EXPECT_TRUE(has("\"exitCode\": 1603"));
  EXPECT_TRUE(has("\"reason\": \"mandatory-missing\""));
  EXPECT_TRUE(has("\"machine\": null"));
  // Control characters escaped, a lone surrogate as U+FFFD.
  EXPECT_TRUE(has("\"displayName\": \"Tab\\tnew\\nline \\u0001 \xEF\xBF\xBD end\"")) << json;
  EXPECT_TRUE(has("\"outcome\": \"still-missing\""));
  EXPECT_TRUE(has("\"bytes\": 5000000000"));
  EXPECT_TRUE(has("\"seconds\": 1.250"));
  EXPECT_TRUE(has("\"checks\": [\n          \"size\",\n          \"sha256\"\n        ]"));
  EXPECT_TRUE(has("\"returnCodes\": [\n          1618,\n          0\n        ]"));
  EXPECT_TRUE(has("\"installedAfter\": false"));
  // The unevaluated one: nulls, not guesses.
  EXPECT_TRUE(has("\"key\": \"App2\",\n      \"displayName\": \"\",\n      \"mandatory\": false,\n"
                  "      \"outcome\": \"not-evaluated\",\n      \"applies\": null,\n"
                  "      \"decision\": null,")) << json;
  EXPECT_TRUE(has("\"reboot\": {\n    \"required\": false,\n    \"refused\": false,\n"
                  "    \"inProgress\": false\n  }\n}\n"));
}

TEST(RunReportRules, SummaryLines) {
  RunReport r = Ran();
  r.runResult = 1;
  auto add = [&r](const wchar_t* name, int32_t state, bool selected, auto change) {
    PrereqReport p;
    p.key = L"App" + std::to_wstring(r.prereqs.size() + 1);
    p.displayName = name;
    p.state = state;
    p.selected = selected;
    change(p);
    r.prereqs.push_back(p);
  };
  add(L"Present", 0, false, [](PrereqReport&) {});
  add(L"Runtime", 1, true, [](PrereqReport& p) { p.launch = Launched(1638, ExitMeaning::Success); });
  add(L"Busy", 1, true, [](PrereqReport& p) {
    p.launch = Launched(1618, ExitMeaning::Retry);
    p.launch->returnCodes = {1618, 1618, 1618, 1618};
  });
  add(L"Gone", 1, true, [](PrereqReport& p) {
    p.launch = Launched(2, ExitMeaning::Failure, false);
    p.launch->errorText = L"File not found.";
  });
  add(L"Net", 2, true, [](PrereqReport& p) {
    p.download = DownloadReport{};
    p.download->resultCode = 0xE0000023;
    p.download->resultText = L"-536870877";
  });
  add(L"Bad", 2, true, [](PrereqReport& p) {
    p.download = DownloadReport{};
    p.download->rejection = L"(Invalid size or MD5).";
  });
  const std::vector<std::wstring> expected = {
      L"Summary: exit code 1 (mandatory-missing)",
      L"  App1 Present: already present",
      L"  App2 Runtime: installed, return code 1638 (success)",
      L"  App3 Busy: failed, return code 1618 (retry) after 4 attempts",
      L"  App4 Gone: could not be started: File not found. (error 2)",
      L"  App5 Net: download failed: -536870877 (code 3758096419 (0xE0000023))",
      L"  App6 Bad: download rejected (Invalid size or MD5).",
  };
  EXPECT_EQ(SummaryLines(r), expected);
}
