#include <gtest/gtest.h>

#include <vector>

#include "acquisition/OverlapRules.h"

using namespace prereq;

namespace {

using P = DownloadPhase;
constexpr P Q = P::Queued, R = P::Running, E = P::Ended, D = P::Dropped;

std::vector<size_t> OwnFiles(size_t n) {
  std::vector<size_t> keys(n);
  for (size_t i = 0; i < n; ++i) keys[i] = i;
  return keys;
}

TEST(OverlapRules, NextDownloadStartsInListOrderUpToThreeAtOnce) {
  struct Case {
    std::vector<P> phases;
    std::optional<size_t> next;
  };
  const Case cases[] = {
      {{}, std::nullopt},                  // 0 downloads
      {{Q}, 0},                            // 1
      {{R}, std::nullopt},                 // 1, running
      {{Q, Q, Q}, 0},                      // 3
      {{R, R, Q}, 2},                      // 2 running: the third starts
      {{R, R, R}, std::nullopt},           // 3 running, none queued
      {{R, R, R, Q}, std::nullopt},        // 4: at the limit the fourth waits
      {{E, R, R, Q}, 3},                   // one ended: the fourth starts
      {{R, E, E, Q, Q}, 3},                // the first queued, not a later one
      {{E, E, E, E}, std::nullopt},        // all ended
      {{D, D, Q}, 2},                      // dropped ones do not count
  };
  for (const Case& c : cases)
    EXPECT_EQ(NextDownloadToStart(c.phases, OwnFiles(c.phases.size())), c.next) << c.phases.size();
}

TEST(OverlapRules, LimitBoundaries) {
  const std::vector<P> phases{R, R, Q, Q};
  EXPECT_EQ(NextDownloadToStart(phases, OwnFiles(4), 1), std::nullopt);
  EXPECT_EQ(NextDownloadToStart(phases, OwnFiles(4), 2), std::nullopt);
  EXPECT_EQ(NextDownloadToStart(phases, OwnFiles(4), 3), 2u);
  EXPECT_EQ(NextDownloadToStart(phases, OwnFiles(4), 0), std::nullopt);
  EXPECT_EQ(kMaxParallelDownloads, 3u);
}

TEST(OverlapRules, ADownloadOfTheSameFileWaitsAndSoDoLaterOnes) {
  // Downloads 0 and 2 write one file: 2 waits while 0 runs, and 3 waits
  // behind it so that starts stay in list order.
  const std::vector<size_t> keys{0, 1, 0, 3};
  EXPECT_EQ(NextDownloadToStart(std::vector<P>{R, E, Q, Q}, keys), std::nullopt);
  EXPECT_EQ(NextDownloadToStart(std::vector<P>{E, R, Q, Q}, keys), 2u);
  EXPECT_EQ(NextDownloadToStart(std::vector<P>{R, R, E, Q}, keys), 3u);
  // A download past the end of the keys shares no file (and no key is read
  // past their end).
  EXPECT_EQ(NextDownloadToStart(std::vector<P>{R, Q}, std::vector<size_t>{7}), 1u);
}

TEST(OverlapRules, SettledPhases) {
  EXPECT_FALSE(DownloadSettled(Q));
  EXPECT_FALSE(DownloadSettled(R));
  EXPECT_TRUE(DownloadSettled(E));
  EXPECT_TRUE(DownloadSettled(D));
}

TEST(OverlapRules, AheadLineNamesTheFirstDownloadStillToEnd) {
  struct Case {
    std::vector<P> phases;
    std::optional<DownloadsAhead> line;
  };
  const Case cases[] = {
      {{}, std::nullopt},
      {{Q}, DownloadsAhead{1, 1}},
      {{E}, std::nullopt},
      {{R, R, R}, DownloadsAhead{1, 3}},
      {{E, R, Q}, DownloadsAhead{2, 3}},
      {{E, E, E, R}, DownloadsAhead{4, 4}},
      {{E, R, E, E}, DownloadsAhead{2, 4}},
      {{E, D, D, D}, std::nullopt},  // stopped: nothing ahead
  };
  for (const Case& c : cases) EXPECT_EQ(DownloadsAheadLine(c.phases), c.line) << c.phases.size();
}

}  // namespace
