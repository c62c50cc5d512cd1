#include "evaluation/Selection.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "evaluation/SearchRules.h"

namespace prereq {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// A walk builds its name index once it has changed more prerequisites than
// this; the short walks of an evaluation look the links up in place.
constexpr size_t kIndexAfterChanges = 8;

// Fingerprint key of a prerequisite's selection (SplitMix64 of its position).
uint64_t KeyOf(size_t index) {
  uint64_t z = static_cast<uint64_t>(index) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// One selection change and its propagation, walked with an explicit stack.
// Each frame is one call of the rule: change the flag, then the children in
// list order, then the parent, so that lines and flags come in the order of
// the rule written as a recursion, whatever the depth of the links.
//
// A change can undo an earlier one (a child that must not be obtained is
// deselected with everything below it, and may be selected again through
// another link), so odd link shapes could make the rule go round for ever.
// It would do so exactly when a frame is entered for the same prerequisite,
// with the same flag, and with every selection as it was when an unfinished
// frame for it was entered: from there the walk can only repeat itself. The
// walk keeps a fingerprint of all selections (and a journal of changes to
// confirm a match), stops there and logs it.
class SelectionWalk {
 public:
  SelectionWalk(PrereqList& list, const SelectionLog& log) : list_(list), log_(log) {}

  void Run(size_t index, bool flag) {
    if (!Enter(index, flag)) return;
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (!top.childrenDone) {
        const size_t child = NextChild(top.index, top.nextChild);
        if (child != kNone) {
          top.nextChild = child + 1;
          const bool childFlag = top.flag && MustBeObtained(list_.prereqs[child].state);
          if (list_.prereqs[child].selected != childFlag && !Enter(child, childFlag)) return;
          continue;
        }
        top.childrenDone = true;
        if (top.flag) {
          const std::wstring& parentName = list_.prereqs[top.index].ParentPrereq;
          if (!parentName.empty()) {
            const size_t parent = FirstNamed(parentName);
            if (parent == kNone) {
              // A configuration problem, not a fault of the program: no parent then.
              if (log_) log_(L"Parent prerequisite not found:" + parentName);
            } else {
              const Prerequisite& p = list_.prereqs[parent];
              if (p.state != PrereqState::OsNotSupported && p.state != PrereqState::Installed &&
                  !p.selected && !Enter(parent, true))
                return;
            }
          }
        }
        continue;
      }
      Leave();
    }
  }

 private:
  struct Frame {
    size_t index;
    bool flag;
    bool childrenDone;
    size_t nextChild;       // list position where the search for children goes on
    size_t sameIndexBelow;  // the unfinished frame of the same prerequisite below, or kNone
    uint64_t fingerprint;   // of all selections when the frame was entered
    size_t journalAt;       // length of the change journal then
  };

  // Starts the frame of a change; false when the walk would repeat itself.
  bool Enter(size_t index, bool flag) {
    Prerequisite& p = list_.prereqs[index];
    const auto open = openFrames_.find(index);
    const size_t below = open == openFrames_.end() ? kNone : open->second;
    for (size_t f = below; f != kNone; f = stack_[f].sameIndexBelow) {
      if (stack_[f].flag == flag && stack_[f].fingerprint == fingerprint_ &&
          UnchangedSince(stack_[f].journalAt)) {
        if (log_) log_(L"Prerequisite links loop, selection stopped at:" + p.DisplayName);
        return false;
      }
    }
    stack_.push_back(Frame{index, flag, false, 0, below, fingerprint_, journal_.size()});
    openFrames_[index] = stack_.size() - 1;
    // Stored before any propagation: a link back to this prerequisite then
    // finds it already changed and stops there.
    p.selected = flag;
    fingerprint_ ^= KeyOf(index);
    journal_.push_back(index);
    if (log_) log_(L"Prerequisite selected for install:" + p.DisplayName);
    if (journal_.size() == kIndexAfterChanges) BuildIndex();
    return true;
  }

  void Leave() {
    const Frame& top = stack_.back();
    if (top.sameIndexBelow == kNone) openFrames_.erase(top.index);
    else openFrames_[top.index] = top.sameIndexBelow;
    stack_.pop_back();
  }

  // Whether every prerequisite changed an even number of times since.
  bool UnchangedSince(size_t journalAt) const {
    std::unordered_map<size_t, bool> odd;
    for (size_t i = journalAt; i < journal_.size(); ++i) odd[journal_[i]] = !odd[journal_[i]];
    return std::none_of(odd.begin(), odd.end(), [](const auto& e) { return e.second; });
  }

  bool IsChild(size_t j, size_t of) const {
    const Prerequisite& child = list_.prereqs[j];
    return j != of && child.state != PrereqState::OsNotSupported &&
           child.ParentPrereq == list_.prereqs[of].DisplayName;
  }

  // The first child of `of` at list position `from` or later, or kNone.
  size_t NextChild(size_t of, size_t from) const {
    if (!indexed_) {
      for (size_t j = from; j < list_.Count(); ++j)
        if (IsChild(j, of)) return j;
      return kNone;
    }
    const auto named = childrenByParent_.find(list_.prereqs[of].DisplayName);
    if (named == childrenByParent_.end()) return kNone;
    const std::vector<size_t>& candidates = named->second;
    for (auto it = std::lower_bound(candidates.begin(), candidates.end(), from);
         it != candidates.end(); ++it)
      if (IsChild(*it, of)) return *it;
    return kNone;
  }

  // The first prerequisite with this DisplayName, or kNone.
  size_t FirstNamed(const std::wstring& name) const {
    if (!indexed_) {
      for (size_t k = 0; k < list_.Count(); ++k)
        if (list_.prereqs[k].DisplayName == name) return k;
      return kNone;
    }
    const auto found = firstByName_.find(name);
    return found == firstByName_.end() ? kNone : found->second;
  }

  // Names and links do not change during a walk; states are read where used.
  void BuildIndex() {
    for (size_t k = 0; k < list_.Count(); ++k) {
      const Prerequisite& p = list_.prereqs[k];
      firstByName_.emplace(p.DisplayName, k);
      childrenByParent_[p.ParentPrereq].push_back(k);
    }
    indexed_ = true;
  }

  PrereqList& list_;
  const SelectionLog& log_;
  std::vector<Frame> stack_;
  std::unordered_map<size_t, size_t> openFrames_;  // prerequisite -> its topmost frame
  std::vector<size_t> journal_;                    // prerequisites in the order they changed
  uint64_t fingerprint_ = 0;
  bool indexed_ = false;
  std::unordered_map<std::wstring_view, size_t> firstByName_;
  std::unordered_map<std::wstring_view, std::vector<size_t>> childrenByParent_;
};

}  // namespace

void SetSelectedWithLog(PrereqList& list, size_t index, bool flag, const SelectionLog& log) {
  if (list.At(index).selected == flag) return;
  SelectionWalk(list, log).Run(index, flag);
}

}  // namespace prereq
