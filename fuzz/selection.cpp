// The selection along ParentPrereq links against the rule written as a
// recursion. The input describes up to 16 prerequisites (a name out of a few,
// so that names repeat; a parent name, possibly missing or empty; any state,
// also those no evaluation gives; the selection they start with) and a few
// selection calls. Wherever the recursion comes to its end, the walk must
// give the same log lines and flags; where it runs out of its budget, the
// two must agree as far as both went.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzText.h"
#include "SelectionReference.h"
#include "evaluation/Selection.h"

using namespace prereq;

namespace {

const wchar_t* const kNames[] = {L"A", L"B", L"C", L"D", L"E", L"F", L"", L"a"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  PrereqList list;
  const size_t count = in.ConsumeIntegralInRange<size_t>(1, 16);
  for (size_t i = 0; i < count; ++i) {
    Prerequisite p;
    p.DisplayName = kNames[in.ConsumeIntegralInRange<size_t>(0, 7)];
    const size_t parent = in.ConsumeIntegralInRange<size_t>(0, 9);
    p.ParentPrereq = parent < 8 ? kNames[parent] : parent == 8 ? L"Missing" : L"";
    p.state = static_cast<PrereqState>(in.ConsumeIntegralInRange<int32_t>(0, 8));
    p.selected = in.ConsumeBool();
    list.prereqs.push_back(p);
  }
  PrereqList reference = list;

  std::vector<std::wstring> walkLog, referenceLog;
  const SelectionLog toWalkLog = [&](std::wstring_view line) { walkLog.emplace_back(line); };
  const SelectionLog toReferenceLog = [&](std::wstring_view line) { referenceLog.emplace_back(line); };
  const size_t calls = in.ConsumeIntegralInRange<size_t>(1, 4);
  for (size_t c = 0; c < calls; ++c) {
    const size_t index = in.ConsumeIntegralInRange<size_t>(0, count - 1);
    const bool flag = in.ConsumeBool();
    oracle::RecursiveSelection recursion(reference, toReferenceLog, 2000);
    recursion.Set(index, flag);
    SetSelectedWithLog(list, index, flag, toWalkLog);
    const bool looped = !walkLog.empty() &&
                        walkLog.back().rfind(L"Prerequisite links loop, selection stopped at:", 0) == 0;
    if (recursion.Exhausted()) {
      // The recursion ran out of its budget: it goes on for ever, or it
      // needs more changes than it was given (odd states can make a few
      // links select and deselect each other thousands of times before
      // they settle). Either way both agree as far as both went, and a walk
      // that did not stop went at least as far.
      const size_t walked = walkLog.size() - (looped ? 1 : 0);
      const size_t common = std::min(walked, referenceLog.size());
      fuzz::Check(std::equal(walkLog.begin(), walkLog.begin() + common, referenceLog.begin()),
                  "log lines differ from the recursion before its budget ran out");
      fuzz::Check(looped || walked >= referenceLog.size(), "the walk ended before the recursion");
      return 0;
    }
    fuzz::Check(!looped, "the walk stopped where the recursion ends");
    fuzz::Check(walkLog == referenceLog, "log lines differ from the recursion");
    for (size_t i = 0; i < count; ++i)
      fuzz::Check(list.prereqs[i].selected == reference.prereqs[i].selected,
                  "flags differ from the recursion");
  }
  return 0;
}
