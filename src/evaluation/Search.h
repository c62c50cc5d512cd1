#pragma once
// Detection searches and the decision about each prerequisite: whether an
// acceptable version is installed, whether it applies to this system, and
// which prerequisites are selected for installation.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chainer/Configuration.h"

namespace prereq {

// What one search entry produced.
struct SearchResult {
  std::vector<std::wstring> values;  // collected versions, names or data
  std::wstring value;                // the value read by the comparing search
  bool found = false;
};

// Runs one search entry and decides whether it was found. `use64`: the
// prerequisite has option "x" (64-bit registry view and folders).
SearchResult RunSearch(const PrereqList& list, const SearchEntry& entry, bool use64);

// Receives every entry that RunSearches runs, with what it produced, in
// order. Set before an evaluation, from the thread that starts it.
using SearchObserver = std::function<void(const SearchEntry& entry, const SearchResult& result)>;
void SetSearchObserver(SearchObserver observer);

// The machine as the processor condition sees it: whether the platform can
// report the native machine, whether it did for this process, and its code.
struct NativeMachine {
  bool haveFunction = false;
  bool callSucceeded = false;
  uint16_t machine = 0;
};
NativeMachine QueryNativeMachine();
// The processor condition of options "c" and "d" on this machine: true when
// the prerequisite does not apply.
bool ExcludedByProcessor(const Prerequisite& p);

// Runs the entries in order and combines them with Operator (0 AND, 1 OR),
// stopping as soon as the result is decided.
bool RunSearches(const PrereqList& list, const std::vector<SearchEntry>& entries, int32_t op,
                 bool use64);

// Decides the state of one prerequisite: system and language conditions,
// processor, then the searches. With `reevaluate`, a prerequisite that skips
// detection (option "i") keeps its state. OsNotSupported is final. Raises the
// range error for an index outside the list.
void EvaluatePrereq(PrereqList& list, size_t index, bool reevaluate);

// Evaluates every prerequisite, refreshes the presence of those to download
// and selects those whose package has to be obtained.
void EvaluateAll(PrereqList& list);

// Changes the selection of one prerequisite and propagates it along the
// ParentPrereq links, logging every change.
void SetSelected(PrereqList& list, size_t index, bool flag);

}  // namespace prereq
