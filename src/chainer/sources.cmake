# Sources of this folder: PURE ones have no <windows.h> and are also built
# natively; WIN ones use the platform.
list(APPEND PREREQ_PURE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/IniFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Configuration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigSchema.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModulePaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CleanupRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstallerWaitRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RunReportRules.cpp
)
list(APPEND PREREQ_WIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ChainingRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResultStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChainerApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Cleanup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResultFile.cpp
)
