#include "evaluation/Selection.h"

#include <string>

#include "evaluation/SearchRules.h"

namespace prereq {

void SetSelectedWithLog(PrereqList& list, size_t index, bool flag, const SelectionLog& log) {
  Prerequisite& self = list.At(index);
  if (self.selected == flag) return;
  // Stored before any propagation: a link back to this prerequisite then
  // finds it already changed and stops there.
  self.selected = flag;
  if (log) log(L"Prerequisite selected for install:" + self.DisplayName);

  for (size_t j = 0; j < list.Count(); ++j) {
    if (j == index) continue;
    const Prerequisite& child = list.prereqs[j];
    if (child.state == PrereqState::OsNotSupported) continue;
    if (child.ParentPrereq != list.prereqs[index].DisplayName) continue;
    SetSelectedWithLog(list, j, flag && MustBeObtained(child.state), log);
  }

  const std::wstring& parentName = list.prereqs[index].ParentPrereq;
  if (!flag || parentName.empty()) return;
  for (size_t k = 0; k < list.Count(); ++k) {
    const Prerequisite& parent = list.prereqs[k];
    if (parent.DisplayName != parentName) continue;
    if (parent.state != PrereqState::OsNotSupported && parent.state != PrereqState::Installed)
      SetSelectedWithLog(list, k, true, log);
    return;
  }
  // A configuration problem, not a fault of the program: no parent then.
  if (log) log(L"Parent prerequisite not found:" + parentName);
}

}  // namespace prereq
