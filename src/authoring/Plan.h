#pragma once
// prereq-plan: evaluates a setup's configuration on this machine exactly as
// a run does (the same reading, searches, conditions and selection), but
// obtains and installs nothing, touches neither the result store nor the log,
// and runs no clean-up.
#include <string>
#include <vector>

#include "authoring/PlanFormat.h"

namespace prereq {

// `configPath`: the configuration file; `setupPath`: the program that would
// read it (its folder is [SETUPEXEDIR]); empty: the configuration's path with
// ".exe" in place of its extension. False with the reason when the
// configuration cannot be found or read.
bool MakePlan(const std::wstring& configPath, const std::wstring& setupPath, Plan& plan,
              std::wstring& error);

// The command line of prereq-plan.exe (see its --help); returns the exit
// status: 0 done, 2 the plan could not be made.
int RunPlanTool(const std::vector<std::wstring>& arguments);

}  // namespace prereq
