#pragma once
// The rules of the overlapped run's downloads: how many run at once, which
// starts next, when the install loop may take a package, and what the
// progress window says about the downloads ahead.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace prereq {

// Downloads that run at the same time, each with its own transfer and
// buffers: what the overlapped run holds in memory at most.
inline constexpr size_t kMaxParallelDownloads = 3;

enum class DownloadPhase : uint8_t {
  Queued,   // not started yet
  Running,  // on a worker
  Ended,    // accepted, failed or rejected: its result is known
  Dropped,  // never started: the install loop stopped first
};

// The download to start now: the first queued one in list order, when fewer
// than `limit` run and no running one writes the same file (`fileKeys`: equal
// keys name one file; one key per download). None otherwise, also while the
// first queued one waits for its file, so that downloads start in list order.
std::optional<size_t> NextDownloadToStart(std::span<const DownloadPhase> phases,
                                          std::span<const size_t> fileKeys,
                                          size_t limit = kMaxParallelDownloads);

// Whether the install loop may take the package of a download in this phase:
// its result is known, or it will never run.
bool DownloadSettled(DownloadPhase phase);

// What the second line of the progress window shows: download `current` of
// `total` ("Downloading 2 of 4..."), `current` being the first one, in list
// order, that is still queued or running. None when none is (the line is
// then empty).
struct DownloadsAhead {
  uint32_t current = 0;
  uint32_t total = 0;
  bool operator==(const DownloadsAhead&) const = default;
};
std::optional<DownloadsAhead> DownloadsAheadLine(std::span<const DownloadPhase> phases);

}  // namespace prereq
