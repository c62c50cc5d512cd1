#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ProgressObserver.h"
#include "ui/ProgressRules.h"

using namespace prereq;

TEST(ProgressRules, ShownStatusKinds) {
  EXPECT_TRUE(IsShownStatusKind(kStatusKindAcquisition));  // the passes' texts
  EXPECT_TRUE(IsShownStatusKind(kStatusKindInstall));
  for (int kind : {-1, 0, 1, 7, 10, 1000}) EXPECT_FALSE(IsShownStatusKind(kind)) << kind;
}

TEST(ProgressRules, DownloadUnitsAtTheLimits) {
  const struct {
    uint64_t done, total;
    uint32_t units;
  } cases[] = {
      {0, 0, 0},        {500, 0, 0},          // unknown length: the step stays at its start
      {0, 1000, 0},     {1, 1000, 1},         {999, 1000, 999},
      {1000, 1000, 1000}, {1001, 1000, 1000},  // more than announced: a whole step, no more
      {1, 3, 333},      {2, 3, 666},
      // Unfinished is never a whole step, also where rounding would make it one.
      {UINT64_MAX - 1, UINT64_MAX, 999},     {UINT64_MAX, UINT64_MAX, 1000},
      {(1ull << 40) - 1, 1ull << 40, 999},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DownloadUnits(c.done, c.total), c.units) << c.done << "/" << c.total;
}

TEST(ProgressRules, StepsOfAPass) {
  ProgressSteps steps;
  EXPECT_EQ(steps.Range(), 0u);
  EXPECT_EQ(steps.Position(), 0u);

  steps.SetRange(3);
  EXPECT_EQ(steps.Range(), 3u * kUnitsPerStep);
  EXPECT_EQ(steps.Position(), 0u);
  // A download before any step (not sent by the passes) moves nothing.
  steps.SetDownload(50, 100);
  EXPECT_EQ(steps.Position(), 0u);

  EXPECT_FALSE(steps.BeginStep(7));  // not shown: no step
  EXPECT_EQ(steps.Step(), 0u);
  EXPECT_TRUE(steps.BeginStep(kStatusKindAcquisition));
  EXPECT_EQ(steps.Step(), 1u);
  EXPECT_EQ(steps.Position(), 0u);  // nothing of the first item is done yet
  steps.SetDownload(250, 1000);
  EXPECT_EQ(steps.Position(), 250u);
  steps.SetDownload(1000, 1000);
  EXPECT_EQ(steps.Position(), 1000u);

  EXPECT_TRUE(steps.BeginStep(kStatusKindInstall));  // the next item: its download starts at 0
  EXPECT_EQ(steps.Position(), 1000u);
  EXPECT_TRUE(steps.BeginStep(kStatusKindAcquisition));
  steps.SetDownload(999, 1000);
  EXPECT_EQ(steps.Position(), 2999u);
  steps.SetDownload(5000, 1000);
  EXPECT_EQ(steps.Position(), steps.Range());

  // More texts than steps: the bar stays full.
  EXPECT_TRUE(steps.BeginStep(kStatusKindAcquisition));
  EXPECT_TRUE(steps.BeginStep(kStatusKindAcquisition));
  EXPECT_EQ(steps.Position(), steps.Range());

  // A new pass starts over.
  steps.SetRange(1);
  EXPECT_EQ(steps.Step(), 0u);
  EXPECT_EQ(steps.Position(), 0u);
  steps.SetRange(0);
  EXPECT_TRUE(steps.BeginStep(kStatusKindAcquisition));
  EXPECT_EQ(steps.Range(), 0u);
  EXPECT_EQ(steps.Position(), 0u);
}

namespace {
struct PassLog {
  std::vector<std::string> calls;
  uint32_t download = 0, install = 0;
  // The pass after which the user has cancelled ("" = never).
  std::string cancelAfter;
  bool cancelled = false;

  BasicUiPasses Passes() {
    return {
        [this] { return Ran("download", download); },
        [this] { Ran("open-site", 0); },
        [this] { return Ran("install", install); },
        [this] { return cancelled; },
    };
  }
  uint32_t Ran(const std::string& name, uint32_t result) {
    calls.push_back(name);
    if (name == cancelAfter) cancelled = true;
    return result;
  }
};
}  // namespace

TEST(ProgressRules, PassesStopAtAFailureOrACancel) {
  const struct {
    const char* name;
    uint32_t download, install;
    const char* cancelAfter;
    std::vector<std::string> ran;
    bool done;
  } cases[] = {
      {"all_passes", 0, 0, "", {"download", "open-site", "install"}, true},
      {"failed_download", 1603, 0, "", {"download"}, false},
      {"cancel_in_download", 0, 0, "download", {"download"}, false},
      {"cancel_in_open_site", 0, 0, "open-site", {"download", "open-site"}, false},
      {"cancel_in_install", 0, 0, "install", {"download", "open-site", "install"}, false},
      {"install_cancelled", 0, 1602, "", {"download", "open-site", "install"}, false},
      {"install_failed", 0, 1603, "", {"download", "open-site", "install"}, false},
  };
  for (const auto& c : cases) {
    PassLog log;
    log.download = c.download;
    log.install = c.install;
    log.cancelAfter = c.cancelAfter;
    EXPECT_EQ(RunBasicUiPasses(log.Passes()), c.done) << c.name;
    EXPECT_EQ(log.calls, c.ran) << c.name;
  }
}

TEST(ProgressRules, DoneAndRunResults) {
  int checks = 0;
  auto present = [&] { return ++checks, true; };
  auto missing = [&] { return ++checks, false; };

  EXPECT_EQ(DoneResult(false, present), kProgressSucceeded);
  EXPECT_EQ(DoneResult(false, missing), kProgressMandatoryMissing);
  checks = 0;
  EXPECT_EQ(DoneResult(true, missing), kProgressClosed);  // no re-evaluation before a reboot
  EXPECT_EQ(checks, 0);

  const struct {
    const char* name;
    intptr_t window;
    bool rebootRequired, rebootInProgress, mandatoryPresent;
    int32_t result;
    int checks;
  } cases[] = {
      {"succeeded", kProgressSucceeded, false, false, false, 0, 0},
      {"mandatory_missing", kProgressMandatoryMissing, false, false, true, 1, 0},
      {"cancelled_nothing_missing", kProgressClosed, false, false, true, 0, 1},
      {"cancelled_mandatory_missing", kProgressClosed, false, false, false, 1, 1},
      {"not_shown_mandatory_missing", kProgressNotShown, false, false, false, 1, 1},
      {"reboot_rule_fired", kProgressClosed, true, false, false, 0, 0},
      {"session_ending", kProgressClosed, false, true, false, 0, 0},
  };
  for (const auto& c : cases) {
    checks = 0;
    const int32_t result =
        BasicUiResult(c.window, c.rebootRequired, c.rebootInProgress,
                      c.mandatoryPresent ? std::function<bool()>(present) : missing);
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(checks, c.checks) << c.name;
  }
}

TEST(ProgressRules, CentredBoxStaysInTheWorkArea) {
  const ScreenBox work{0, 0, 1024, 738};  // a taskbar below
  const ScreenBox window{0, 0, 400, 100};
  const ScreenBox ownerInMiddle{200, 200, 800, 600};
  const ScreenBox ownerAtRightEdge{900, 600, 1300, 900};
  const ScreenBox ownerSmall{10, 10, 50, 30};
  const struct {
    const char* name;
    const ScreenBox* owner;
    ScreenBox window;
    ScreenBox expected;
  } cases[] = {
      {"work_area", nullptr, window, {312, 319, 712, 419}},
      {"owner", &ownerInMiddle, window, {300, 350, 700, 450}},
      // Pushed back inside at the right and bottom edges.
      {"owner_at_the_edge", &ownerAtRightEdge, window, {624, 638, 1024, 738}},
      // And at the left and top.
      {"small_owner", &ownerSmall, window, {0, 0, 400, 100}},
      // Larger than the work area: the top-left corner stays visible.
      {"too_large", nullptr, {0, 0, 1200, 900}, {0, 0, 1200, 900}},
      {"exactly_the_work_area", nullptr, {5, 5, 1029, 743}, {0, 0, 1024, 738}},
  };
  for (const auto& c : cases) EXPECT_EQ(CentredBox(c.window, c.owner, work), c.expected) << c.name;

  // A work area that does not start at 0 (a second monitor on the left).
  const ScreenBox left{-1280, 0, 0, 1024};
  EXPECT_EQ(CentredBox(window, nullptr, left), (ScreenBox{-840, 462, -440, 562}));
}
