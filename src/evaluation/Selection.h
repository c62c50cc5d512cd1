#pragma once
// Which prerequisites are selected for installation, along ParentPrereq links.
#include <cstddef>
#include <functional>
#include <string_view>

#include "chainer/Configuration.h"

namespace prereq {

// Receives each log line of the selection (without time stamp).
using SelectionLog = std::function<void(std::wstring_view line)>;

// Changes the selection of prerequisite `index` and propagates it: children
// (ParentPrereq equal to its DisplayName, not OsNotSupported) follow with
// flag AND whether they must be obtained; a newly selected prerequisite
// selects its parent unless that is installed or not supported. A ParentPrereq
// that names no prerequisite is logged and treated as no parent. Any depth of
// links is walked without recursion; links that would select and deselect
// each other for ever stop the walk with a log line. Raises the range error
// for an index outside the list.
void SetSelectedWithLog(PrereqList& list, size_t index, bool flag, const SelectionLog& log);

}  // namespace prereq
