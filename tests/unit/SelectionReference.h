#pragma once
// The selection rule written as a recursion, one call per link, as a second
// opinion on the walk of SetSelectedWithLog. Only for shallow link shapes:
// it stops (and says so) after a given number of changes.
#include <cstddef>
#include <string>
#include <utility>

#include "evaluation/SearchRules.h"
#include "evaluation/Selection.h"

namespace prereq::oracle {

class RecursiveSelection {
 public:
  RecursiveSelection(PrereqList& list, SelectionLog log, size_t maxChanges)
      : list_(list), log_(std::move(log)), budget_(maxChanges) {}

  void Set(size_t index, bool flag) {
    if (exhausted_) return;
    Prerequisite& self = list_.At(index);
    if (self.selected == flag) return;
    if (budget_ == 0) {
      exhausted_ = true;
      return;
    }
    --budget_;
    self.selected = flag;
    if (log_) log_(L"Prerequisite selected for install:" + self.DisplayName);

    for (size_t j = 0; j < list_.Count(); ++j) {
      if (j == index) continue;
      const Prerequisite& child = list_.prereqs[j];
      if (child.state == PrereqState::OsNotSupported) continue;
      if (child.ParentPrereq != list_.prereqs[index].DisplayName) continue;
      Set(j, flag && MustBeObtained(child.state));
      if (exhausted_) return;
    }

    const std::wstring& parentName = list_.prereqs[index].ParentPrereq;
    if (!flag || parentName.empty()) return;
    for (size_t k = 0; k < list_.Count(); ++k) {
      const Prerequisite& parent = list_.prereqs[k];
      if (parent.DisplayName != parentName) continue;
      if (parent.state != PrereqState::OsNotSupported && parent.state != PrereqState::Installed)
        Set(k, true);
      return;
    }
    if (log_) log_(L"Parent prerequisite not found:" + parentName);
  }

  // True when the change budget ran out before the rule came to its end.
  bool Exhausted() const { return exhausted_; }

 private:
  PrereqList& list_;
  SelectionLog log_;
  size_t budget_;
  bool exhausted_ = false;
};

}  // namespace prereq::oracle
