#include "acquisition/OverlapRules.h"

#include <algorithm>

namespace prereq {

std::optional<size_t> NextDownloadToStart(std::span<const DownloadPhase> phases,
                                          std::span<const size_t> fileKeys, size_t limit) {
  const auto running =
      static_cast<size_t>(std::count(phases.begin(), phases.end(), DownloadPhase::Running));
  if (running >= limit) return std::nullopt;
  const auto next = std::find(phases.begin(), phases.end(), DownloadPhase::Queued);
  if (next == phases.end()) return std::nullopt;
  const auto index = static_cast<size_t>(next - phases.begin());
  for (size_t i = 0; i < phases.size(); ++i)
    if (phases[i] == DownloadPhase::Running && i < fileKeys.size() && index < fileKeys.size() &&
        fileKeys[i] == fileKeys[index])
      return std::nullopt;
  return index;
}

bool DownloadSettled(DownloadPhase phase) {
  return phase == DownloadPhase::Ended || phase == DownloadPhase::Dropped;
}

std::optional<DownloadsAhead> DownloadsAheadLine(std::span<const DownloadPhase> phases) {
  for (size_t i = 0; i < phases.size(); ++i)
    if (phases[i] == DownloadPhase::Queued || phases[i] == DownloadPhase::Running)
      return DownloadsAhead{static_cast<uint32_t>(i + 1), static_cast<uint32_t>(phases.size())};
  return std::nullopt;
}

}  // namespace prereq
