# Sources of the setup authors' tools (prereq-lint, prereq-plan): PURE ones
# have no <windows.h> and are also built natively; WIN ones use the platform;
# POSIX ones serve the native Linux command only. The entry points
# (LintMain.cpp, PlanMain.cpp) are added by the executables.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Languages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LintRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LintTool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DocTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PeResources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VersionInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Stamp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlanFormat.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ToolIoWin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Plan.cpp
)
set(PREREQ_POSIX_TOOL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ToolIoPosix.cpp
)
